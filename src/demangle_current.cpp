// The demangler of the current D ABI. This first cut knows only D main; the parser follows.
#include "demangle_current.h"

namespace vorlith {

std::optional<std::string> demangleCurrent(std::string_view name) {
  if (name == "_Dmain") {
    return std::string("D main");
  }
  return std::nullopt;
}

std::optional<CurrentDSymbol> classifyCurrentD(std::string_view name) {
  if (name == "_Dmain") {
    return CurrentDSymbol{{"D main"}, "D main"};
  }
  return std::nullopt;
}

}  // namespace vorlith
