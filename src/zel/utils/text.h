// Text helpers: UTF-8 repair, line splitting, hexadecimal and decimal numbers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zel::utils::text {

// A text that could not be converted to a number.
class ConvException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A number too large for the type it is converted to.
class ConvOverflowException : public ConvException {
 public:
  using ConvException::ConvException;
};

// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
[[nodiscard]] bool isValidUTF8(std::string_view s);

// Length of the longest well-formed UTF-8 prefix of `s` made of whole characters: where the
// first byte that begins no valid sequence is, or s.size().
[[nodiscard]] size_t validUTF8Prefix(std::string_view s);

// Index of the first byte at or after `i` that is not ASCII, or s.size().
[[nodiscard]] size_t skipAscii(std::string_view s, size_t i);

// Index of the first byte at or after `i` that is `a` or `b`, or s.size().
[[nodiscard]] size_t findEitherByte(std::string_view s, size_t i, char a, char b);
// Index of the first byte at or after `i` that is one of the four, or s.size().
[[nodiscard]] size_t findAnyOfFour(std::string_view s, size_t i, char a, char b, char c, char d);

// Index of the first byte at or after `i` that ends a run of a JSON string's plain ASCII text:
// '"', '\\', a control character (below 0x20) or a byte that is not ASCII; or s.size().
[[nodiscard]] size_t skipPlainJsonText(std::string_view s, size_t i);

// The first byte in [p, end) that a JSON string of zel::utils::json escapes: a control character
// (below 0x20), '"', '\\', 0x7F, '<', '>' or '&'; or `end`. Bytes from 0x80 up are plain.
[[nodiscard]] const char* findJsonEscape(const char* p, const char* end);

// Index of the last byte of `s` that is `a`, `b` or `c`, or std::string_view::npos.
[[nodiscard]] size_t findLastOfThree(std::string_view s, char a, char b, char c);
// Index of the last byte of `s` that is `c`, or std::string_view::npos: rfind, sixteen bytes
// at a time.
[[nodiscard]] inline size_t findLastByte(std::string_view s, char c) {
  return findLastOfThree(s, c, c, c);
}

// Length of the well-formed UTF-8 sequence that begins at s[i], or 0 when none begins there.
[[nodiscard]] size_t validUTF8SequenceLength(std::string_view s, size_t i);

// The code point of the well-formed UTF-8 sequence of `length` bytes (validUTF8SequenceLength's
// answer, 1 to 4) that begins at s[i].
[[nodiscard]] inline uint32_t decodeUTF8(std::string_view s, size_t i, size_t length) {
  auto byte = [&s, i](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (length == 1) {
    return byte(0);
  }
  uint32_t cp = byte(0) & (0xFFu >> (length + 1));
  for (size_t k = 1; k < length; ++k) {
    cp = (cp << 6) | (byte(k) & 0x3Fu);
  }
  return cp;
}

// An ASCII letter, digit or underscore: a byte of an identifier in C, C++ and D names.
[[nodiscard]] constexpr bool isIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Reads every byte of `s` as Latin-1 and encodes it as UTF-8.
[[nodiscard]] std::string rawToUTF8(std::string_view s);

// Returns `s` itself when it is valid UTF-8; otherwise stores rawToUTF8(s) in `repaired` and
// returns a view of it. One bad byte re-encodes the whole text.
[[nodiscard]] std::string_view forceValidUTF8(std::string_view s, std::string& repaired);

// The owning form, for text that is stored anyway.
[[nodiscard]] std::string forceValidUTF8(std::string_view s);

// Cuts `s` at every byte `d`; the pieces are views into `s`. An empty `s` gives no pieces.
[[nodiscard]] std::vector<std::string_view> fastSplit(std::string_view s, char d);

// Cuts `text` into lines at LF, dropping one CR before each LF (and at the very end).
[[nodiscard]] std::vector<std::string_view> splitAsciiLines(std::string_view text);

// Walks the lines of `text` as splitAsciiLines cuts them, without making the list.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text), more_(!text.empty()) {}

  // Sets `line` to the next line and returns true, or returns false past the last one.
  bool next(std::string_view& line) {
    if (!more_) {
      return false;
    }
    const char* begin = text_.data() + pos_;
    size_t left = text_.size() - pos_;
    const void* lf = std::memchr(begin, '\n', left);
    size_t length =
        lf == nullptr ? left : static_cast<size_t>(static_cast<const char*>(lf) - begin);
    line = std::string_view(begin, length);
    pos_ += length + 1;
    more_ = lf != nullptr;  // a final LF ends one more, empty, line
    if (length != 0 && begin[length - 1] == '\r') {
      line.remove_suffix(1);
    }
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;  // where the next line begins
  bool more_;
};

// Reads hexadecimal digits (either case, no prefix, no sign). Throws ConvException for an empty
// text, a leading non-digit or trailing characters, ConvOverflowException past UInt's range.
template <typename UInt>
[[nodiscard]] UInt fromHex(std::string_view s);

extern template uint32_t fromHex<uint32_t>(std::string_view s);
extern template uint64_t fromHex<uint64_t>(std::string_view s);

// Reads decimal digits (no sign) into a uint64_t, failing as fromHex does; the message of an
// unexpected first byte ends "in base 10".
[[nodiscard]] uint64_t fromDec(std::string_view s);

// Writes the decimal digits of `n` right-aligned at the end of `buf` and returns a view of them.
inline std::string_view toDec(uint64_t n, std::array<char, 20>& buf) {
  char* end = buf.data() + buf.size();
  char* p = end;
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  return std::string_view(p, static_cast<size_t>(end - p));
}

}  // namespace zel::utils::text
