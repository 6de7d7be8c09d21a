#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "demangle.h"
#include "support/expect.h"

using vorlith::decodeDmdString;

TEST(DecodeDmdString, ExpandsBackReferencesAndStopsWhereItMust) {
  struct Case {
    std::string_view in;
    std::string_view text;
    size_t position;
  } cases[] = {
      {"abc_123", "abc_123", 7},
      {"", "", 0},
      {"foo.bar", "foo", 3},  // refused byte stays unconsumed
      {"a?b", "a", 1},
      {"ab\xC9", "abab", 3},                               // one byte: length 2, distance 2
      {"ab\xC8", "aba", 3},                                // one byte: length 1, distance 2
      {"abcdefgh\xFFz", "abcdefghabcdefghz", 10},          // length 8, distance 8
      {"ab\xC9\xDB", "abababab", 4},                       // copies what a reference produced
      {"abc\x80\x83\x83", "abcabc", 6},                    // three bytes: length 3, distance 3
      {"x\xA9", "x", 2},                                   // cut after the first of three bytes
      {"x\xA9\x81", "x", 3},                               // cut after the second
      {"ab\xFF", "ab", 3},                                 // distance 8 reaches before the start
      {"\xC0", "", 1},                                     // a reference before any text
      {std::string_view("abc\x80\x00\x00", 6), "abc", 6},  // length 0 copies nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hexBytes(c.in));
    size_t position = 0;
    EXPECT_EQ(decodeDmdString(c.in, position), c.text);
    EXPECT_EQ(position, c.position);
  }
}

TEST(DecodeDmdString, StopsAtReferencesLongerThanTheirDistance) {
  // They would copy bytes that are not decoded yet; nothing outside the text is ever read.
  struct Case {
    std::string_view in;
    std::string_view text;
    size_t position;
  } cases[] = {
      {"a\xC1z", "a", 2},                                  // length 2, distance 1
      {"abc\x90\x03\x01", "abc", 6},                       // length 259, distance 1
      {std::string_view("abc\x80\x05\x00", 6), "abc", 6},  // length 5, distance 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hexBytes(c.in));
    size_t position = 0;
    EXPECT_EQ(decodeDmdString(c.in, position), c.text);
    EXPECT_EQ(position, c.position);
  }
}

TEST(DecodeDmdString, StartsAtTheGivenPosition) {
  size_t position = 4;
  EXPECT_EQ(decodeDmdString("foo.bar", position), "bar");
  EXPECT_EQ(position, 7u);
}

TEST(DecodeDmdString, ExpandsInProportionToTheBytesConsumed) {
  // Decoded text may reach 1024 bytes plus 16 per byte consumed, and never 1 MiB. A refused
  // reference leaves the position on its first byte, so the classifier keeps the name whole.
  const size_t kFree = 1024, kPerByte = 16, kMax = size_t{1} << 20;
  auto repeat = [](std::string_view piece, size_t times) {
    std::string out;
    for (size_t k = 0; k < times; ++k) {
      out += piece;
    }
    return out;
  };
  const struct {
    const char* label;
    std::string name;
    bool whole;  // decoded to the end
  } cases[] = {
      // 1023-byte references: 60,000 of them would make 61 MB out of 180 KB.
      {"1023-byte references", std::string(1023, 'r') + repeat("\xBF\xFF\xFF", 60000), false},
      // 8 bytes per byte, within the rate, until the whole passes 1 MiB.
      {"8-byte references past 1 MiB", std::string(8, 'e') + repeat("\xFF", 200000), false},
      {"8-byte references up to 512 KiB", std::string(8, 'e') + repeat("\xFF", 65536), true},
      // 48 bytes for three: exactly the rate, after the free start is used up.
      {"48-byte references", std::string(64, 'q') + repeat("\x80\x30\x40", 5000), true},
      {"a real-sized name", "_D3std5stdio4File\x80\x8F\x91\x80\x8F\x91", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    size_t position = 0;
    std::string text = decodeDmdString(c.name, position);
    EXPECT_LE(text.size(), std::min(kMax, kFree + kPerByte * position));
    EXPECT_EQ(position == c.name.size(), c.whole);
    if (!c.whole) {
      // The next reference would have passed the bound.
      EXPECT_GT(static_cast<unsigned char>(c.name[position]), 0x7F);
      EXPECT_GT(text.size() + 8, std::min(kMax, kFree + kPerByte * (position + 3)) - 1023);
    }
  }
}
