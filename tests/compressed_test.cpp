#include <gtest/gtest.h>

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

TEST(DecodeDmdString, RefusesToExpandBeyondSixteenMegabytes) {
  // 1023-byte references: 60,000 of them would make 61 MB out of 180 KB.
  std::string name(1023, 'r');
  for (int k = 0; k < 60000; ++k) {
    name += "\xBF\xFF\xFF";  // length 1023, distance 1023
  }
  size_t position = 0;
  std::string text = decodeDmdString(name, position);
  EXPECT_LE(text.size(), size_t{16} << 20);
  EXPECT_GT(text.size(), (size_t{16} << 20) - 1023);
  EXPECT_LT(position, name.size());      // so the classifier leaves the name as it is
  EXPECT_EQ((position - 1023) % 3, 0u);  // stopped on the first byte of a reference
}
