#include "terminal_text.h"

#include <unistd.h>

#include <cstdint>
#include <iostream>

namespace vorlith {

using std::string;
using std::string_view;

namespace {

// The length of the UTF-8 sequence that starts `text`, or 0 when it is not a valid one.
size_t sequenceLength(string_view text) {
  auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0x80                   ? 1
                  : lead >= 0xC2 && lead < 0xE0 ? 2
                  : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF5 ? 4
                                                : 0;
  if (length == 0 || length > text.size()) {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) {
      return 0;
    }
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0) ||
      (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)) {
    return 0;
  }
  return length;
}

uint32_t codePoint(string_view character) {
  auto byte = [&character](size_t k) { return static_cast<unsigned char>(character[k]); };
  switch (character.size()) {
    case 1:
      return byte(0);
    case 2:
      return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3:
      return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    default:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
  }
}

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
    size_t length = sequenceLength(text);
    auto lead = static_cast<unsigned char>(text.front());
    if (length == 0 || lead < 0x20 || lead == 0x7F) {
      out += "\\x";
      appendHex(out, lead, 2);
      text.remove_prefix(1);
      continue;
    }
    string_view character = text.substr(0, length);
    if (uint32_t c = codePoint(character); length > 1 && hidesOrSteers(c)) {
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
