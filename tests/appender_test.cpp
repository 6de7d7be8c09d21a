#include "zel/utils/appender.h"

#include <gtest/gtest.h>

#include <string>

#include "zel/utils/textout.h"

using zel::utils::appender::FastAppender;

TEST(FastAppender, StartsEmptyAndAllocatesOnlyForRealContent) {
  FastAppender out;
  EXPECT_EQ(out.get(), "");
  out.put(std::string_view());
  EXPECT_EQ(out.capacity(), 0u);
  EXPECT_EQ(out.get(), "");
}

TEST(FastAppender, FirstBlockIsAtLeast2049BytesOrTwiceTheNeed) {
  FastAppender small;
  small.put('x');
  EXPECT_GE(small.capacity(), 2049u);
  std::string big(5000, 'y');
  FastAppender large;
  large.put(std::string_view(big));
  EXPECT_GE(large.capacity(), 10000u);
  EXPECT_EQ(large.get(), big);
}

TEST(FastAppender, ExactFillDoesNotGrowButOneByteMoreDoes) {
  FastAppender out;
  out.put('a');
  size_t capacity = out.capacity();
  std::string rest(capacity - 1, 'b');
  out.put(std::string_view(rest));
  EXPECT_EQ(out.capacity(), capacity);
  out.put('c');
  EXPECT_GT(out.capacity(), capacity);
  EXPECT_EQ(out.get(), "a" + rest + "c");
}

TEST(FastAppender, WritesItemsInArgumentOrderAcrossGrowth) {
  FastAppender out;
  std::string expected;
  for (int k = 0; k < 5000; ++k) {
    std::string run = std::to_string(k);
    out.put(std::string_view(run), ',');
    out.put(std::string_view("<"), std::string_view(">"));
    out.put(std::string_view(), '|');
    expected += run + ",<>|";
  }
  EXPECT_EQ(out.get(), expected);
}

TEST(TextOut, PutsDecimalNumbers) {
  FastAppender out;
  for (uint64_t n : {uint64_t{0}, uint64_t{7}, uint64_t{10}, uint64_t{65536}, UINT64_MAX}) {
    zel::utils::textout::put(out, n);
    out.put(' ');
  }
  EXPECT_EQ(out.get(), "0 7 10 65536 18446744073709551615 ");
}
