// DMD's compressed names on any bytes, from any starting position. The first byte picks the
// position; the rest is the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "demangle.h"
#include "fuzz_check.h"

using fuzzcheck::check;

namespace {

bool isLiteral(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  std::string_view compressed(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t start = data[0] % (compressed.size() + 1);
  size_t position = start;
  std::string text = vorlith::decodeDmdString(compressed, position);
  check(position >= start && position <= compressed.size(), "position left the text");
  // Expansion in proportion to what was consumed: 1024 bytes, then 16 per byte, at most 1 MiB.
  check(text.size() <= std::min<size_t>(size_t{1} << 20, 1024 + 16 * (position - start)),
        "the decoded text outgrew its bound");

  // Back-references copy decoded text, so only literal bytes can come out.
  for (char c : text) {
    check(isLiteral(c), "a decoded name holds a byte no literal gives", text);
  }
  // What was consumed decodes alone to the same text: nothing after `position` mattered.
  size_t again = start;
  std::string prefix(compressed.substr(0, position));
  check(vorlith::decodeDmdString(prefix, again) == text, "the consumed bytes decode otherwise");
  check(again == position, "the consumed bytes end elsewhere");

  bool allLiteral = true;
  for (char c : compressed.substr(start)) {
    allLiteral = allLiteral && isLiteral(c);
  }
  if (allLiteral) {
    check(text == compressed.substr(start) && position == compressed.size(),
          "a text without references did not come back unchanged");
  }
  return 0;
}
