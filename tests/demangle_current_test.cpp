#include "demangle_current.h"

#include <gtest/gtest.h>

namespace vorlith {
namespace {

TEST(ClassifyCurrentD, FilesDMainAlone) {
  auto symbol = classifyCurrentD("_Dmain");
  ASSERT_TRUE(symbol.has_value());
  EXPECT_EQ(symbol->segments, std::vector<std::string>{"D main"});
  EXPECT_EQ(symbol->shown, "D main");
  EXPECT_FALSE(classifyCurrentD("printf").has_value());
}

}  // namespace
}  // namespace vorlith
