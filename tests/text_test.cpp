#include "zel/utils/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/expect.h"

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
