// The D demangler.
//
// PLACEHOLDER: the demangler is not built yet. Until it is, every name comes back unchanged,
// which is exactly what the real one does for any name it cannot decode, so the classifier's
// fallback rules run for every D name.
#include "demangle.h"

namespace vorlith {

std::string demangle(std::string_view source) { return std::string(source); }

std::string_view demangle(std::string_view source, std::vector<char>& /*buffer*/) {
  return source;
}

}  // namespace vorlith
