// Consistency of a size tree, checked by the tests after every tree they build and by the fuzz
// targets after every run: `EXPECT_EQ(treeFault(root), "")`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "utf8_reference.h"
#include "vorlith.h"

// The first fault of the tree below `root`, or empty: every group's total is the sum, modulo
// 2^64 like the tree's own sums, of its groups' totals and its leaves' sizes; every name and key
// is UTF-8; no group lies deeper than filing allows; every group is found under its own name.
// Iterative: a tree is as deep as a name has segments, deeper than a recursive checker's stack
// allows.
inline std::string treeFault(const vorlith::TreeNode& root) {
  struct Frame {
    const vorlith::TreeNode* node;
    size_t depth;
  };
  auto fault = [](std::string_view what, std::string_view name) {
    return std::string(what) + " [" + std::string(name.substr(0, 200)) + "]";
  };
  std::vector<Frame> pending{{&root, 0}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > vorlith::kMaxGroupsPerSymbol) {
      return "a group lies deeper than the depth bound";
    }
    uint64_t sum = 0;
    for (const auto& [name, child] : node->children) {
      if (!referenceValidUTF8(name)) {
        return fault("a group name is not UTF-8", name);
      }
      if (const_cast<vorlith::TreeNode*>(node)->children.find(name) != &child) {
        return fault("a group is not found under its own name", name);
      }
      sum += child.total;
      pending.push_back({&child, depth + 1});
    }
    for (const auto& [key, leaf] : node->leaves) {
      if (!referenceValidUTF8(key) || !referenceValidUTF8(leaf.mangledName) ||
          !referenceValidUTF8(leaf.demangledName)) {
        return fault("a leaf's key or name is not UTF-8", key);
      }
      sum += leaf.size;
    }
    if (sum != node->total) {
      return "a group's total " + std::to_string(node->total) + " is not the sum below it, " +
             std::to_string(sum);
    }
  }
  return {};
}
