#include "terminal_text.h"

#include <unistd.h>

#include <cstdint>
#include <iostream>

#include "zel/utils/text.h"

namespace vorlith {

using std::string;
using std::string_view;

namespace {

// Characters past ASCII that a terminal acts on, or that show nothing or turn the text around.
bool hidesOrSteers(uint32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
         c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void appendHex(string& out, uint32_t value, int digits) {
  constexpr string_view kHex = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out += kHex[(value >> shift) & 0xF];
  }
}

}  // namespace

string printable(string_view text) {
  string out;
  out.reserve(text.size());
  while (!text.empty()) {
    size_t length = zel::utils::text::validUTF8SequenceLength(text, 0);
    auto lead = static_cast<unsigned char>(text.front());
    if (length == 0 || lead < 0x20 || lead == 0x7F) {
      out += "\\x";
      appendHex(out, lead, 2);
      text.remove_prefix(1);
      continue;
    }
    string_view character = text.substr(0, length);
    if (uint32_t c = zel::utils::text::decodeUTF8(text, 0, length);
        length > 1 && hidesOrSteers(c)) {
      out += "\\u{";
      appendHex(out, c, 4);
      out += '}';
    } else {
      out += character;
    }
    text.remove_prefix(length);
  }
  return out;
}

string printableLines(string_view text) {
  string out;
  for (size_t end; (end = text.find('\n')) != string_view::npos; text.remove_prefix(end + 1)) {
    out += printable(text.substr(0, end));
    out += '\n';
  }
  out += printable(text);
  return out;
}

bool isTerminal(const std::ostream& stream) {
  if (&stream == &std::cout) {
    return ::isatty(STDOUT_FILENO) == 1;
  }
  if (&stream == &std::cerr) {
    return ::isatty(STDERR_FILENO) == 1;
  }
  return false;
}

}  // namespace vorlith
