// The D demangler on any bytes: it returns its input byte for byte or a non-empty text, the
// same on every call, and both of its forms agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "demangle.h"
#include "fuzz_check.h"

using fuzzcheck::check;

namespace {

// A mangled D name begins with an optional '_', 'D' and a digit; nothing else can decode.
bool mayBeMangled(std::string_view s) {
  if (!s.empty() && s[0] == '_') {
    s.remove_prefix(1);
  }
  return s.size() >= 2 && s[0] == 'D' && s[1] >= '0' && s[1] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view name(reinterpret_cast<const char*>(data), size);
  std::string once = vorlith::demangle(name);
  check(once == name || !once.empty(), "demangle gave an empty text", name);
  if (!mayBeMangled(name)) {
    check(once == name, "demangle changed a name that is not a mangled D name", name);
  }
  check(vorlith::demangle(name) == once, "demangle gave two results for one name", name);

  // The buffer form, on a fresh buffer and on one left dirty by a longer, different name.
  std::vector<char> buffer;
  check(vorlith::demangle(name, buffer) == once, "the buffer form disagrees", name);
  std::string other = "_D3app" + std::string(name) + "3fooFZv";
  (void)vorlith::demangle(other, buffer);
  check(vorlith::demangle(name, buffer) == once, "a reused buffer changed the result", name);
  return 0;
}
