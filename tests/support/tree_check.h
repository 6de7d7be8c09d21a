// Consistency of a size tree, checked after every test that builds one.
#pragma once

#include <gtest/gtest.h>

#include "vorlith.h"
#include "zel/utils/text.h"

// Every node's total is the sum of its children's totals and its leaves' sizes; every key and
// name is valid UTF-8. Returns the node's total for the recursion.
inline uint64_t expectTotalsAddUp(const vorlith::TreeNode& node) {
  uint64_t sum = 0;
  for (const auto& [name, child] : node.children) {
    EXPECT_TRUE(zel::utils::text::isValidUTF8(name));
    sum += expectTotalsAddUp(child);
  }
  for (const auto& [key, leaf] : node.leaves) {
    EXPECT_TRUE(zel::utils::text::isValidUTF8(key));
    EXPECT_TRUE(zel::utils::text::isValidUTF8(leaf.mangledName));
    EXPECT_TRUE(zel::utils::text::isValidUTF8(leaf.demangledName));
    sum += leaf.size;
  }
  EXPECT_EQ(node.total, sum);
  return node.total;
}
