#include "zel/utils/text.h"

#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zel::utils::text {

namespace {

// Length of the UTF-8 sequence that begins at s[i], or 0 when none begins there.
size_t validSequenceLength(const unsigned char* s, size_t i, size_t n) {
  unsigned char b = s[i];
  if (b < 0x80) {
    return 1;
  }
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) {
      lo = 0xA0;  // overlong below
    } else if (b == 0xED) {
      hi = 0x9F;  // surrogates above
    }
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) {
      lo = 0x90;  // overlong below
    } else if (b == 0xF4) {
      hi = 0x8F;  // above U+10FFFF
    }
  } else {
    return 0;
  }
  if (n - i < len) {
    return 0;
  }
  if (s[i + 1] < lo || s[i + 1] > hi) {
    return 0;
  }
  for (size_t k = 2; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) {
      return 0;
    }
  }
  return len;
}

// The failure of a number whose first byte is no digit: "Unexpected 'c' when converting from
// type string to type uint64 in base 16".
[[noreturn]] void throwUnexpected(std::string_view s, std::string_view target,
                                  std::string_view base) {
  std::string message = "Unexpected ";
  if (s.empty()) {
    message += "end of input";
  } else {
    message += '\'';
    if (s[0] == '\0') {
      message += "\\0";  // messages travel as C strings, which a NUL would end
    } else {
      // Quote the whole character, not just its first byte.
      size_t len =
          validSequenceLength(reinterpret_cast<const unsigned char*>(s.data()), 0, s.size());
      message.append(s.substr(0, len == 0 ? 1 : len));
    }
    message += '\'';
  }
  message += " when converting from type string to type ";
  message += target;
  message += " in base ";
  message += base;
  throw ConvException(message);
}

// The value of each hexadecimal digit, 0xFF for every other byte: one load per digit instead of
// three range tests, for the address on nearly every map line.
constexpr std::array<uint8_t, 256> kHexValues = [] {
  std::array<uint8_t, 256> values{};
  values.fill(0xFF);
  for (int k = 0; k < 10; ++k) {
    values['0' + k] = static_cast<uint8_t>(k);
  }
  for (int k = 0; k < 6; ++k) {
    values['a' + k] = values['A' + k] = static_cast<uint8_t>(10 + k);
  }
  return values;
}();

}  // namespace

size_t findEitherByte(std::string_view text, size_t i, char a, char b) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(a);
  const __m128i second = _mm_set1_epi8(b);
  while (n - i >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i found = _mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second));
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (bits != 0) {
      return i + static_cast<size_t>(std::countr_zero(bits));
    }
    i += 16;
  }
#endif
  while (i < n && text[i] != a && text[i] != b) {
    ++i;
  }
  return i;
}

size_t findAnyOfFour(std::string_view text, size_t i, char a, char b, char c, char d) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(a);
  const __m128i second = _mm_set1_epi8(b);
  const __m128i third = _mm_set1_epi8(c);
  const __m128i fourth = _mm_set1_epi8(d);
  while (n - i >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i found =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, third), _mm_cmpeq_epi8(block, fourth)));
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (bits != 0) {
      return i + static_cast<size_t>(std::countr_zero(bits));
    }
    i += 16;
  }
#endif
  while (i < n && text[i] != a && text[i] != b && text[i] != c && text[i] != d) {
    ++i;
  }
  return i;
}

size_t skipPlainJsonText(std::string_view text, size_t i) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (n - i >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    // As signed bytes, those from 0x80 up are negative: below 0x20 with the control characters.
    __m128i found = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
        _mm_cmplt_epi8(block, space));
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (bits != 0) {
      return i + static_cast<size_t>(std::countr_zero(bits));
    }
    i += 16;
  }
#endif
  while (i < n && s[i] >= 0x20 && s[i] < 0x80 && s[i] != '"' && s[i] != '\\') {
    ++i;
  }
  return i;
}

namespace {

// The bytes findJsonEscape stops at, for the bytes no block of sixteen covers.
constexpr std::array<bool, 256> kJsonEscaped = [] {
  std::array<bool, 256> escaped{};
  for (int c = 0; c < 0x20; ++c) {
    escaped[c] = true;
  }
  for (unsigned char c : {'"', '\\', '<', '>', '&', '\x7F'}) {
    escaped[c] = true;
  }
  return escaped;
}();

#if defined(__SSE2__)
// Bit k set when byte k of `block` is one that findJsonEscape stops at.
inline unsigned jsonEscapeBits(__m128i block) {
  // Below 0x20 as unsigned bytes: the minimum with 0x1F leaves exactly those unchanged.
  __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block);
  // One bit apart: '"' (0x22) and '&' (0x26) are 0x26 with bit 2 set; '<' (0x3C) and '>' (0x3E)
  // are 0x3E with bit 1 set.
  __m128i quoteOrAmpersand =
      _mm_cmpeq_epi8(_mm_or_si128(block, _mm_set1_epi8(0x04)), _mm_set1_epi8('&'));
  __m128i angle = _mm_cmpeq_epi8(_mm_or_si128(block, _mm_set1_epi8(0x02)), _mm_set1_epi8('>'));
  __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
  __m128i del = _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F));
  __m128i found = _mm_or_si128(_mm_or_si128(control, quoteOrAmpersand),
                               _mm_or_si128(_mm_or_si128(angle, backslash), del));
  return static_cast<unsigned>(_mm_movemask_epi8(found));
}
#endif

}  // namespace

const char* findJsonEscape(const char* p, const char* end) {
#if defined(__SSE2__)
  if (end - p >= 16) {
    while (end - p >= 16) {
      unsigned bits = jsonEscapeBits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
      if (bits != 0) {
        return p + std::countr_zero(bits);
      }
      p += 16;
    }
    if (p == end) {
      return end;
    }
    // The last sixteen bytes again, overlapping those seen: only the bits of the new ones count.
    auto seen = static_cast<unsigned>(16 - (end - p));
    unsigned bits = jsonEscapeBits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)));
    bits >>= seen;
    return bits != 0 ? p + std::countr_zero(bits) : end;
  }
#endif
  while (p != end && !kJsonEscaped[static_cast<unsigned char>(*p)]) {
    ++p;
  }
  return p;
}

size_t findLastOfThree(std::string_view text, char a, char b, char c) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = text.size();  // the bytes from i on are passed
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(a);
  const __m128i second = _mm_set1_epi8(b);
  const __m128i third = _mm_set1_epi8(c);
  while (i >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 16));
    __m128i found =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second)),
                     _mm_cmpeq_epi8(block, third));
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (bits != 0) {
      return i - 16 + static_cast<size_t>(31 - std::countl_zero(bits));
    }
    i -= 16;
  }
#endif
  while (i != 0) {
    char byte = text[--i];
    if (byte == a || byte == b || byte == c) {
      return i;
    }
  }
  return std::string_view::npos;
}

size_t skipAscii(std::string_view text, size_t i) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  // Map text is nearly all ASCII: test 16 bytes at a time where the target has SSE2, then 8.
#if defined(__SSE2__)
  while (n - i >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    auto high = static_cast<unsigned>(_mm_movemask_epi8(block));  // bit k: byte k's top bit
    if (high != 0) {
      return i + static_cast<size_t>(std::countr_zero(high));
    }
    i += 16;
  }
#endif
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  while (n - i >= 8) {
    uint64_t word;
    std::memcpy(&word, s + i, 8);
    if ((word & kHighBits) != 0) {
      break;  // the byte loop below finds which, whatever the byte order
    }
    i += 8;
  }
  while (i < n && s[i] < 0x80) {
    ++i;
  }
  return i;
}

size_t validUTF8Prefix(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  for (;;) {
    i = skipAscii(text, i);
    if (i >= n) {
      return n;
    }
    size_t len = validSequenceLength(s, i, n);
    if (len == 0) {
      return i;
    }
    i += len;
  }
}

bool isValidUTF8(std::string_view text) {
  return validUTF8Prefix(text) == text.size();
}

size_t validUTF8SequenceLength(std::string_view s, size_t i) {
  return validSequenceLength(reinterpret_cast<const unsigned char*>(s.data()), i, s.size());
}

std::string rawToUTF8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string_view forceValidUTF8(std::string_view s, std::string& repaired) {
  if (isValidUTF8(s)) {
    return s;
  }
  repaired = rawToUTF8(s);
  return repaired;
}

std::string forceValidUTF8(std::string_view s) {
  if (isValidUTF8(s)) {
    return std::string(s);
  }
  return rawToUTF8(s);
}

std::vector<std::string_view> fastSplit(std::string_view s, char d) {
  std::vector<std::string_view> parts;
  if (s.empty()) {
    return parts;
  }
  const char* begin = s.data();
  const char* end = begin + s.size();
  size_t count = 0;
  for (const char* p = begin;
       (p = static_cast<const char*>(std::memchr(p, d, static_cast<size_t>(end - p)))) != nullptr;
       ++p) {
    ++count;
  }
  parts.reserve(count + 1);
  const char* piece = begin;
  for (size_t k = 0; k < count; ++k) {
    const char* p =
        static_cast<const char*>(std::memchr(piece, d, static_cast<size_t>(end - piece)));
    parts.emplace_back(piece, static_cast<size_t>(p - piece));
    piece = p + 1;
  }
  parts.emplace_back(piece, static_cast<size_t>(end - piece));
  return parts;
}

std::vector<std::string_view> splitAsciiLines(std::string_view text) {
  std::vector<std::string_view> lines;
  LineCursor cursor(text);
  for (std::string_view line; cursor.next(line);) {
    lines.push_back(line);
  }
  return lines;
}

template <typename UInt>
UInt fromHex(std::string_view s) {
  constexpr std::string_view kTarget = sizeof(UInt) == 4 ? "uint32" : "uint64";
  size_t i = 0;
  UInt value = 0;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    uint8_t digit = kHexValues[static_cast<unsigned char>(s[i])];
    if (digit == 0xFF) {
      break;
    }
    if (value > (std::numeric_limits<UInt>::max() >> 4)) {
      overflow = true;  // keep scanning: an overflow is reported even with junk after it
    }
    value = static_cast<UInt>((value << 4) | static_cast<UInt>(digit));
  }
  if (i == 0) {
    throwUnexpected(s, kTarget, "16");
  }
  if (overflow) {
    throw ConvOverflowException("Overflow in integral conversion");
  }
  if (i != s.size()) {
    throw ConvException("Could not parse entire string");
  }
  return value;
}

template uint32_t fromHex<uint32_t>(std::string_view s);
template uint64_t fromHex<uint64_t>(std::string_view s);

uint64_t fromDec(std::string_view s) {
  size_t i = 0;
  uint64_t value = 0;
  bool overflow = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    auto digit = static_cast<uint64_t>(s[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      overflow = true;  // keep scanning, as fromHex does
    }
    value = value * 10 + digit;
  }
  if (i == 0) {
    throwUnexpected(s, "uint64", "10");
  }
  if (overflow) {
    throw ConvOverflowException("Overflow in integral conversion");
  }
  if (i != s.size()) {
    throw ConvException("Could not parse entire string");
  }
  return value;
}

}  // namespace zel::utils::text
