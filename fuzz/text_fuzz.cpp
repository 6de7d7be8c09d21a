// The text helpers against simple reference versions: UTF-8 checking and repair, splitting,
// and hexadecimal conversion.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "zel/utils/text.h"

using fuzzcheck::check;
namespace text = zel::utils::text;

namespace {

void checkUTF8(std::string_view s) {
  bool valid = text::isValidUTF8(s);
  check(valid == fuzzcheck::referenceValidUTF8(s), "isValidUTF8 disagrees with the reference", s);
  size_t at = 0;
  while (at < s.size()) {
    size_t len = text::validUTF8SequenceLength(s, at);
    if (len == 0) {
      break;
    }
    check(at + len <= s.size(), "a sequence runs past the end");
    at += len;
  }
  check((at == s.size()) == valid, "sequence lengths disagree with isValidUTF8", s);

  std::string repaired = "stale";
  std::string_view viewed = text::forceValidUTF8(s, repaired);
  std::string owned = text::forceValidUTF8(s);
  check(fuzzcheck::referenceValidUTF8(owned), "forceValidUTF8 gave invalid UTF-8", owned);
  check(viewed == owned, "the two forms of forceValidUTF8 disagree");
  if (valid) {
    check(owned == s, "forceValidUTF8 changed valid text");
    check(viewed.data() == s.data(), "forceValidUTF8 copied valid text");
  } else {
    // Every byte read as Latin-1: decoding the result back as Latin-1 gives the input.
    std::string back;
    for (size_t k = 0; k < owned.size(); ++k) {
      auto b = static_cast<unsigned char>(owned[k]);
      if (b < 0x80) {
        back += static_cast<char>(b);
      } else {
        check(k + 1 < owned.size(), "truncated Latin-1 encoding");
        auto b2 = static_cast<unsigned char>(owned[++k]);
        back += static_cast<char>(((b & 0x1F) << 6) | (b2 & 0x3F));
      }
    }
    check(back == s, "repaired text is not the Latin-1 reading of the input");
  }
}

void checkSplits(std::string_view s) {
  // Pieces joined by the delimiter give the text back; there is one more than delimiters.
  char d = s.empty() ? '\n' : s[0];
  auto pieces = text::fastSplit(s, d);
  std::string joined;
  for (size_t k = 0; k < pieces.size(); ++k) {
    if (k != 0) {
      joined += d;
    }
    joined.append(pieces[k]);
    check(pieces[k].empty() || (pieces[k].data() >= s.data() &&
                                pieces[k].data() + pieces[k].size() <= s.data() + s.size()),
          "a piece is not a view into the text");
  }
  check(joined == s, "fastSplit pieces do not rejoin to the text");
  size_t delimiters = 0;
  for (char c : s) {
    delimiters += c == d ? 1 : 0;
  }
  check(s.empty() ? pieces.empty() : pieces.size() == delimiters + 1, "wrong piece count");

  // Lines rejoined with LF give the text without one CR before each LF and at the very end.
  std::string expected;
  for (size_t k = 0; k < s.size(); ++k) {
    bool lastOfLine = k + 1 == s.size() || s[k + 1] == '\n';
    if (s[k] == '\r' && lastOfLine) {
      continue;
    }
    expected += s[k];
  }
  auto lines = text::splitAsciiLines(s);
  std::string rejoined;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (k != 0) {
      rejoined += '\n';
    }
    rejoined.append(lines[k]);
  }
  check(rejoined == expected, "splitAsciiLines lines do not rejoin to the text");
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// fromHex as its contract states it: the value of a text of hexadecimal digits only; an
// overflow for digits past the type's range; a plain ConvException for anything else.
template <typename UInt>
void checkFromHex(std::string_view s) {
  size_t digits = 0;
  while (digits < s.size() && hexDigit(s[digits]) >= 0) {
    ++digits;
  }
  size_t significant = 0;
  UInt value = 0;
  for (size_t k = 0; k < digits; ++k) {
    if (significant != 0 || s[k] != '0') {
      ++significant;
    }
    value = static_cast<UInt>(value * 16 + static_cast<UInt>(hexDigit(s[k])));
  }
  bool overflow = significant > sizeof(UInt) * 2;
  bool complete = digits != 0 && digits == s.size();
  try {
    UInt got = text::fromHex<UInt>(s);
    check(complete && !overflow, "fromHex accepted a bad number", s);
    check(got == value, "fromHex gave the wrong value", s);
  } catch (const text::ConvOverflowException&) {
    check(digits != 0 && overflow, "fromHex reported an overflow that is not one", s);
  } catch (const text::ConvException&) {
    check(!complete, "fromHex refused a good number or hid its overflow", s);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view s(reinterpret_cast<const char*>(data), size);
  checkUTF8(s);
  checkSplits(s);
  checkFromHex<uint32_t>(s);
  checkFromHex<uint64_t>(s);
  return 0;
}
