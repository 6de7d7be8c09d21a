#include "zel/utils/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/expect.h"
#include "zel/utils/json.h"

using namespace zel::utils::text;
using std::string;
using std::string_view;
using Lines = std::vector<string_view>;

TEST(ForceValidUTF8, ReturnsValidTextItselfWithoutCopying) {
  for (string_view s :
       {string_view("plain ascii"), string_view("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
        string_view(""), string_view("edge \xF4\x8F\xBF\xBF \xED\x9F\xBF")}) {
    SCOPED_TRACE(hexBytes(s));
    string repaired = "untouched";
    string_view result = forceValidUTF8(s, repaired);
    EXPECT_EQ(result.data(), s.data());
    EXPECT_EQ(result.size(), s.size());
    EXPECT_EQ(repaired, "untouched");
  }
}

TEST(ForceValidUTF8, ReencodesEveryByteOfInvalidText) {
  struct Case {
    string_view in, out;
  } cases[] = {
      {"\xE9t", "\xC3\xA9t"},                                    // Latin-1 e acute
      {"\xC3\xA9\xFF", "\xC3\x83\xC2\xA9\xC3\xBF"},              // valid char converted too
      {"\x82\x80", "\xC2\x82\xC2\x80"},                          // stray continuation
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},              // surrogate
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                          // overlong
      {"\xE0\x80\xAF", "\xC3\xA0\xC2\x80\xC2\xAF"},              // overlong, three bytes
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // above U+10FFFF
      {"ab\xE2\x82", "ab\xC3\xA2\xC2\x82"},                      // cut off at the end
      {"12345678\xC3", "12345678\xC3\x83"},                      // after an 8-byte ASCII run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.in));
    EXPECT_FALSE(isValidUTF8(c.in));
    string repaired;
    EXPECT_EQ(hexBytes(forceValidUTF8(c.in, repaired)), hexBytes(c.out));
    EXPECT_EQ(hexBytes(forceValidUTF8(c.in)), hexBytes(c.out));
    EXPECT_TRUE(isValidUTF8(c.out));
  }
}

TEST(SplitAsciiLines, CutsAtLineFeedAndDropsOneCarriageReturn) {
  struct Case {
    string_view text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"a\nb\n", {"a", "b", ""}},
      {"a\r\nb\r", {"a", "b"}},
      {"a\rb", {"a\rb"}},
      {"a\r\r\n", {"a\r", ""}},
      {"\n", {"", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.text));
    EXPECT_EQ(splitAsciiLines(c.text), c.lines);
  }
}

TEST(FastSplit, KeepsEmptyPiecesAndViewsIntoTheInput) {
  EXPECT_EQ(fastSplit("a,,b,", ','), (Lines{"a", "", "b", ""}));
  EXPECT_EQ(fastSplit(",", ','), (Lines{"", ""}));
  EXPECT_EQ(fastSplit("abc", ','), (Lines{"abc"}));
  EXPECT_TRUE(fastSplit("", ',').empty());
  string text = "x;y";
  Lines parts = fastSplit(text, ';');
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].data(), text.data() + 2);
}

TEST(FromHex, ReadsDigitsOfEitherCase) {
  EXPECT_EQ(fromHex<uint32_t>("1f"), 31u);
  EXPECT_EQ(fromHex<uint32_t>("1F"), 31u);
  EXPECT_EQ(fromHex<uint32_t>("001F"), 31u);
  EXPECT_EQ(fromHex<uint32_t>("FFFFFFFF"), 4294967295u);
  EXPECT_EQ(fromHex<uint64_t>("FFFFFFFFFFFFFFFF"), UINT64_MAX);
  EXPECT_EQ(fromHex<uint64_t>("00000001400010a0"), 0x1400010a0u);
  EXPECT_EQ(fromHex<uint64_t>("0000000000000000000000001"), 1u);  // leading zeros never overflow
}

TEST(FromHex, FailsWithItsThreeMessages) {
  expectThrowsWithMessage<ConvOverflowException>([] { (void)fromHex<uint32_t>("100000000"); },
                                                 "Overflow in integral conversion");
  expectThrowsWithMessage<ConvOverflowException>(
      [] { (void)fromHex<uint64_t>("10000000000000000"); }, "Overflow in integral conversion");
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint64_t>(""); },
                                         "Unexpected end of input", true);
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint32_t>("g1"); }, "Unexpected 'g'",
                                         true);
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint32_t>("\xC3\xA9"); },
                                         "Unexpected '\xC3\xA9'", true);
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint32_t>(" 1"); }, "Unexpected ' '",
                                         true);
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint32_t>("12 "); },
                                         "Could not parse entire string");
  expectThrowsWithMessage<ConvException>([] { (void)fromHex<uint64_t>("0x1F"); },
                                         "Could not parse entire string");
}

TEST(FromHex, WritesANulAsBackslashZeroSoTheMessageIsWhole) {
  // Messages travel as C strings: a raw NUL would end the text at the quote.
  try {
    (void)fromHex<uint64_t>(
        std::string_view("\0"
                         "12",
                         3));
    FAIL();
  } catch (const ConvException& e) {
    EXPECT_EQ(string(e.what()).substr(0, 16), "Unexpected '\\0' ");
    EXPECT_NE(string(e.what()).find(" to type uint64"), string::npos) << e.what();
  }
}

TEST(FromHex, NamesTheConversionInTheUnexpectedMessage) {
  try {
    (void)fromHex<uint32_t>("z");
    FAIL();
  } catch (const ConvException& e) {
    EXPECT_NE(string(e.what()).find("16"), string::npos) << e.what();
  }
}

TEST(FromDec, ReadsDigitsAndFailsAsTheHexadecimalReaderDoes) {
  EXPECT_EQ(fromDec("0"), 0u);
  EXPECT_EQ(fromDec("0016"), 16u);
  EXPECT_EQ(fromDec("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(fromDec("000000000000000000000000001"), 1u);  // leading zeros never overflow
  struct Case {
    string text, message;
  } cases[] = {
      {"18446744073709551616", "Overflow in integral conversion"},
      {"99999999999999999999x", "Overflow in integral conversion"},  // reported before the junk
      {"", "Unexpected end of input when converting from type string to type uint64 in base 10"},
      {string("\0"
              "1",
              2),
       "Unexpected '\\0' when converting from type string to type uint64 in base 10"},
      {"a1", "Unexpected 'a' when converting from type string to type uint64 in base 10"},
      {"\xE2\x82\xAC"
       "1",
       "Unexpected '\xE2\x82\xAC' when converting from type string to type uint64 in base 10"},
      {"-1", "Unexpected '-' when converting from type string to type uint64 in base 10"},
      {"12a", "Could not parse entire string"},
      {string("12\0", 3), "Could not parse entire string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.text));
    if (c.message.starts_with("Overflow")) {
      expectThrowsWithMessage<ConvOverflowException>([&] { (void)fromDec(c.text); }, c.message);
    } else {
      expectThrowsWithMessage<ConvException>([&] { (void)fromDec(c.text); }, c.message);
    }
  }
}

TEST(FromHex, QuotesOneByteOfASequenceThatIsNotUTF8) {
  // A lead byte whose sequence is cut short, or an invalid one, is quoted alone.
  for (string text : {string("\xE2\x82"), string("\xF5\x80\x80\x80"),
                      string("\x80"
                             "1")}) {
    SCOPED_TRACE(hexBytes(text));
    expectThrowsWithMessage<ConvException>(
        [&] { (void)fromHex<uint64_t>(text); },
        "Unexpected '" + text.substr(0, 1) +
            "' when converting from type string to type uint64 in base 16");
  }
}

// Encodes `cp` as UTF-8 by the table of the standard, independently of the code under test.
string encodeUTF8(uint32_t cp) {
  string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

TEST(DecodeUTF8, GivesBackEveryCodePointAfterText) {
  // Every code point outside the surrogates, each behind a prefix so that the offset counts.
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      continue;
    }
    string text = "ab" + encodeUTF8(cp) + "z";
    size_t length = validUTF8SequenceLength(text, 2);
    ASSERT_EQ(length, text.size() - 3) << std::hex << cp;
    ASSERT_EQ(decodeUTF8(text, 2, length), cp) << std::hex << cp;
  }
}

TEST(IsIdentifierChar, IsAsciiLettersDigitsAndUnderscore) {
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    bool expected = std::isalnum(b) != 0 || c == '_';  // the C locale: ASCII only
    EXPECT_EQ(isIdentifierChar(c), expected) << b;
  }
}

TEST(ToDec, WritesDigitsRightAligned) {
  std::array<char, 20> buf;
  buf.fill('x');
  EXPECT_EQ(toDec(0, buf), "0");
  EXPECT_EQ(buf[18], 'x');
  EXPECT_EQ(toDec(10, buf), "10");
  string_view max = toDec(UINT64_MAX, buf);
  EXPECT_EQ(max, "18446744073709551615");
  EXPECT_EQ(max.data(), buf.data());
}

namespace {

// The longest well-formed prefix by the Unicode table of byte sequences, one byte at a time:
// the plain definition the scanners must agree with.
size_t plainValidPrefix(string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (len == 0 || s.size() - i < len) {
      return i;
    }
    uint32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) {
        return i;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return i;
    }
    i += len;
  }
  return i;
}

// Lines cut one byte at a time.
Lines plainLines(string_view text) {
  Lines lines;
  if (text.empty()) {
    return lines;
  }
  size_t begin = 0;
  for (size_t k = 0; k <= text.size(); ++k) {
    if (k == text.size() || text[k] == '\n') {
      string_view line = text.substr(begin, k - begin);
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      lines.push_back(line);
      begin = k + 1;
    }
  }
  return lines;
}

// The bytes the JSON writer's table escapes, or those it writes as they are.
std::string bytesTheJsonTableEscapes(bool escaped) {
  std::string bytes;
  for (int c = 0; c < 256; ++c) {
    if (zel::utils::json::escapes().escaped[c] == escaped) {
      bytes += static_cast<char>(c);
    }
  }
  return bytes;
}

}  // namespace

TEST(FindJsonEscape, FindsTheFirstEscapeInLongTextsWithEveryByteValueInEveryLane) {
  // Texts longer than the block searches above try: the last, overlapping block of sixteen is
  // searched again from wherever the blocks before it end.
  const std::string plain = bytesTheJsonTableEscapes(false);
  std::string buffer(200, 'a');
  for (size_t length : {16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 100u}) {
    for (size_t at = 0; at <= length; ++at) {
      for (int value = 0; value < 256; ++value) {
        for (size_t k = 0; k < buffer.size(); ++k) {
          buffer[k] = plain[(k * 7 + at) % plain.size()];
        }
        if (at < length) {
          buffer[at] = static_cast<char>(value);
          buffer[(at + length) / 2 + 1] = '"';  // a later escape, when there is room for one
        }
        buffer[length] = '<';  // past the end: never seen
        const char* end = buffer.data() + length;
        bool escaped = zel::utils::json::escapes().escaped[static_cast<unsigned char>(value)];
        size_t expected = at == length ? length
                          : escaped    ? at
                                       : std::min(length, (at + length) / 2 + 1);
        ASSERT_EQ(static_cast<size_t>(findJsonEscape(buffer.data(), end) - buffer.data()), expected)
            << "length " << length << " at " << at << " byte " << value;
      }
    }
  }
}

TEST(FindLastOfThree, FindsTheLastByteLookedForAtEveryAlignmentAndLength) {
  // Passed over: the bytes next to the three, and the same with the top bit set.
  const std::string passes = "'*+!\x1F\xA8\xA9\xA0\x80\xFF./";
  std::string buffer(128, 'a');
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; length <= 48; ++length) {
      for (size_t at = 0; at <= length; ++at) {  // `length`: none in the text
        for (char stop : {'(', ' ', ')'}) {
          for (size_t k = 0; k < buffer.size(); ++k) {
            buffer[k] = passes[(k + at) % passes.size()];
          }
          buffer[offset + length] = stop;  // past the end: must not be seen
          if (offset != 0) {
            buffer[offset - 1] = stop;  // before the start: must not be seen either
          }
          size_t expected = string_view::npos;
          if (at < length) {
            buffer[offset + at / 2] = ')';  // an earlier one (or this one): the last one counts
            buffer[offset + at] = stop;
            expected = at;
          }
          string_view s(buffer.data() + offset, length);
          ASSERT_EQ(findLastOfThree(s, '(', ' ', ')'), expected)
              << "offset " << offset << " length " << length << " byte " << stop;
        }
      }
    }
  }
}

TEST(SkipAscii, FindsTheFirstHighByteAtEveryAlignmentAndLength) {
  // Runs around the 8- and 16-byte strides, starting at every offset within a block.
  std::string buffer(128, 'a');
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; length <= 48; ++length) {
      for (size_t high = 0; high <= length; ++high) {  // `length`: no high byte
        std::fill(buffer.begin(), buffer.end(), 'a');
        if (high < length) {
          buffer[offset + high] = '\x80';
        }
        buffer[offset + length] = '\xFF';  // past the end: must not be seen
        string_view s(buffer.data() + offset, length);
        ASSERT_EQ(skipAscii(s, 0), high) << "offset " << offset << " length " << length;
        ASSERT_EQ(skipAscii(s, high), high) << "offset " << offset << " length " << length;
      }
    }
  }
}

TEST(ByteSearches, FindTheFirstByteLookedForAtEveryAlignmentAndLength) {
  // Each search, the bytes it stops at and bytes close to them that it passes over.
  struct Case {
    const char* name;
    std::function<size_t(string_view, size_t)> search;
    std::string stops;
    std::string passes;
  } cases[] = {
      {"findEitherByte", [](string_view s, size_t i) { return findEitherByte(s, i, '<', '&'); },
       "<&", "=;%'\xBC\xA6\x80\xFF"},
      {"findAnyOfFour",
       [](string_view s, size_t i) { return findAnyOfFour(s, i, ',', '"', '\r', '\n'); },
       ",\"\r\n", "+!\x0B\x0C\xAC\xA2\x8D\x8A"},
      {"skipPlainJsonText", [](string_view s, size_t i) { return skipPlainJsonText(s, i); },
       std::string("\"\\\x1F\x80\xC3\xFF\x01", 7) + std::string(1, '\0'),
       " !#[]\x7F~"},
      // Every byte the JSON writer's table escapes stops it, and every other byte, those from
      // 0x80 up and the neighbours of the stops ('!', '#', '%', ';', '=', '?', '[', ']', '~')
      // among them, is passed over in every lane.
      {"findJsonEscape",
       [](string_view s, size_t i) {
         return static_cast<size_t>(findJsonEscape(s.data() + i, s.data() + s.size()) - s.data());
       },
       bytesTheJsonTableEscapes(true), bytesTheJsonTableEscapes(false)},
  };
  std::string buffer(128, 'a');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t offset = 0; offset < 16; ++offset) {
      for (size_t length = 0; length <= 40; ++length) {
        for (size_t at = 0; at <= length; ++at) {  // `length`: none in the text
          for (char stop : c.stops) {
            // The bytes passed over fill the text, so that each is seen in every lane.
            for (size_t k = 0; k < buffer.size(); ++k) {
              buffer[k] = c.passes[(k + at) % c.passes.size()];
            }
            if (at < length) {
              buffer[offset + at] = stop;
            }
            buffer[offset + length] = stop;  // past the end: must not be seen
            string_view s(buffer.data() + offset, length);
            ASSERT_EQ(c.search(s, 0), at) << "offset " << offset << " length " << length
                                         << " byte " << int(static_cast<unsigned char>(stop));
            ASSERT_EQ(c.search(s, at), at) << "offset " << offset << " length " << length;
          }
        }
      }
    }
  }
}

TEST(ValidUTF8Prefix, AgreesWithTheByteByByteDefinitionAroundWordEdges) {
  // Each piece goes at every position of ASCII runs around the word sizes, at every alignment.
  const string_view pieces[] = {"\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xF4\x8F\xBF\xBF",  // valid
                                "\x80",
                                "\xBF",
                                "\xC0\xAF",
                                "\xC1\xBF",  // stray, overlong
                                "\xE0\x80\xAF",
                                "\xED\xA0\x80",
                                "\xF4\x90\x80\x80",
                                "\xF5\x80\x80\x80",  // overlong, ...
                                "\xF0\x8F\xBF\xBF",
                                "\xFE",
                                "\xFF",
                                "\xE2\x82",  // cut short
                                "\xC3\xA9\xE2\x82x",
                                "\xF0\x9F\x98"};
  std::string buffer;
  for (string_view piece : pieces) {
    for (size_t offset = 0; offset < 16; ++offset) {
      for (size_t length = 0; length <= 40; ++length) {
        for (size_t at = 0; at <= length; ++at) {
          std::string text(length, 'x');
          text.insert(at, piece);
          buffer.assign(offset, '.');
          buffer += text;
          string_view s = string_view(buffer).substr(offset);
          size_t expected = plainValidPrefix(s);
          ASSERT_EQ(validUTF8Prefix(s), expected) << hexBytes(s) << " offset " << offset;
          ASSERT_EQ(isValidUTF8(s), expected == s.size()) << hexBytes(s) << " offset " << offset;
          string repaired;
          string_view forced = forceValidUTF8(s, repaired);
          ASSERT_EQ(forced.data() == s.data(), expected == s.size()) << hexBytes(s);
          ASSERT_EQ(plainValidPrefix(forced), forced.size()) << hexBytes(s);
        }
      }
    }
  }
}

TEST(LineCursor, CutsLikeTheByteByByteDefinition) {
  // Every text of up to eight bytes from 'a', CR and LF: empty lines, CR before LF, alone and
  // doubled, and texts with and without a final LF.
  const char alphabet[] = {'a', '\r', '\n'};
  std::vector<string> texts = {""};
  for (size_t length = 1; length <= 8; ++length) {
    size_t count = 1;
    for (size_t k = 0; k < length; ++k) {
      count *= 3;
    }
    for (size_t code = 0; code < count; ++code) {
      string text;
      for (size_t k = 0, c = code; k < length; ++k, c /= 3) {
        text += alphabet[c % 3];
      }
      texts.push_back(text);
    }
  }
  // Long lines whose CR or LF falls at the end of 16-, 32- and 64-byte blocks.
  for (size_t length : {15u, 16u, 31u, 32u, 63u, 64u, 65u}) {
    texts.push_back(string(length, 'b') + "\r\n" + string(length, 'c') + "\r");
    texts.push_back(string(length, 'b') + "\n\n" + string(length, 'c'));
  }
  for (const string& text : texts) {
    Lines lines;
    LineCursor cursor(text);
    for (string_view line; cursor.next(line);) {
      lines.push_back(line);
    }
    Lines expected = plainLines(text);
    ASSERT_EQ(lines, expected) << hexBytes(text);
    for (size_t k = 0; k < lines.size(); ++k) {
      ASSERT_EQ(lines[k].data(), expected[k].data()) << hexBytes(text);  // views, not copies
    }
    ASSERT_EQ(splitAsciiLines(text), expected) << hexBytes(text);
  }
}
