// The size tree and the run: map file in, treemap document out.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zel/utils/appender.h"
#include "zel/utils/json.h"

namespace vorlith {

// A hash map from text that enumerates its entries in the order they were first inserted, so
// that two runs on one map write byte-identical documents.
template <typename Value>
class OrderedMap {
 public:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Entry = std::pair<std::string_view, Value>;  // the key lives in `index_`

  [[nodiscard]] Value* find(std::string_view key) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  [[nodiscard]] bool contains(std::string_view key) const {
    return index_.find(key) != index_.end();
  }

  // Returns the value under `key`, inserting a default one first if there is none.
  Value& at(std::string_view key) {
    auto [it, inserted] = index_.try_emplace(std::string(key), entries_.size());
    if (inserted) {
      // Node-based: the key's storage never moves, so a view of it is safe.
      entries_.emplace_back(std::string_view(it->first), Value());
    }
    return entries_[it->second].second;
  }

  [[nodiscard]] size_t size() const { return entries_.size(); }
  [[nodiscard]] auto begin() const { return entries_.begin(); }
  [[nodiscard]] auto end() const { return entries_.end(); }

 private:
  std::unordered_map<std::string, size_t, Hash, std::equal_to<>> index_;
  std::vector<Entry> entries_;
};

// One symbol of the tree.
struct TreeLeaf {
  uint64_t size = 0;
  uint64_t address = 0;
  std::string mangledName;    // the name in the map, made valid UTF-8
  std::string demangledName;  // empty when it equals the name
};

// One group: the sum of all sizes below it, its sub-groups and its own leaves.
struct TreeNode {
  uint64_t total = 0;
  OrderedMap<TreeNode> children;
  OrderedMap<TreeLeaf> leaves;
  // The last number given to a repeated leaf name here; keys are never removed, so probing
  // may resume from it. Not part of the document.
  std::unordered_map<std::string, uint64_t, OrderedMap<TreeLeaf>::Hash, std::equal_to<>>
      lastLeafNumber;
};

// Files one symbol under `segments` (at least one: the groups, then the leaf's name), adding
// `size` to the total of every node on the way. A leaf name already taken in its group gets
// "#1", "#2" and so on.
void fileSymbol(TreeNode& root, const std::vector<std::string>& segments, uint64_t size,
                uint64_t address, std::string_view name, std::string_view demangledName);

// Builds the tree of a whole map: sizes from the next address, end markers as "Afterpadding".
// Throws std::runtime_error("No symbols") for a map with fewer than two symbols.
struct Symbol;
[[nodiscard]] TreeNode buildTree(const std::vector<Symbol>& symbols);

// The whole program: `args` as main gets them. Returns the exit status; the echoed map line
// goes to `out`, failures to `err`.
int run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err);

template <typename Writer>
void writeJson(Writer& writer, const TreeLeaf& leaf) {
  bool first = true;
  writer.beginObject();
  writer.putMember(first, "size", leaf.size);
  writer.putMember(first, "address", leaf.address);
  writer.putMember(first, "mangledName", std::string_view(leaf.mangledName));
  writer.putMember(first, "demangledName", std::string_view(leaf.demangledName));
  writer.endObject();
}

template <typename Writer, typename Value>
void writeJson(Writer& writer, const OrderedMap<Value>& map) {
  bool first = true;
  writer.beginObject();
  for (const auto& [key, value] : map) {
    writer.putMember(first, key, value);
  }
  writer.endObject();
}

template <typename Writer>
void writeJson(Writer& writer, const TreeNode& node) {
  bool first = true;
  writer.beginObject();
  writer.putMember(first, "total", node.total);
  writer.putMember(first, "children", node.children);
  writer.putMember(first, "leaves", node.leaves);
  writer.endObject();
}

}  // namespace vorlith
