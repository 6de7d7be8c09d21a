// The size tree: groups of symbols by name, their sizes summed up the tree, the bounds that keep
// it in proportion to the map, and its JSON.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "arena.h"
#include "keyed_hash.h"
#include "layout.h"
#include "name_result.h"
#include "name_view.h"
#include "zel/utils/json.h"

namespace zel::utils::appender {
class ChunkedAppender;
}

namespace vorlith {

// What a document begins with, before the tree's JSON.
inline constexpr std::string_view kDocumentPrefix = "var treeData = ";

// A hash map from text that enumerates its entries in the order they were first inserted, so
// that two runs on one map write byte-identical documents. Keys are copied into the arena of
// the tree that holds the map. A map of more than a few entries has an index: an
// open-addressing table of entry numbers, with no allocation per entry.
// Keys come from the map file, so the hash is keyed afresh in every run (keyed_hash.h): names
// cannot be chosen to fall into one probe chain.
template <typename Value>
class OrderedMap {
 public:
  using Entry = std::pair<std::string_view, Value>;

  [[nodiscard]] Value* find(std::string_view key) {
    size_t at = entryOf(key);
    return at == kNone ? nullptr : &entries_[at].second;
  }
  [[nodiscard]] bool contains(std::string_view key) const { return entryOf(key) != kNone; }

  // Returns the value under `key`, inserting a default one first if there is none. A new key
  // is copied into `text`, the arena of the tree that holds the map.
  Value& at(std::string_view key, TextArena& text) { return *tryEmplace(key, &text).first; }

  // The value under `key` and whether it was inserted now, as a default value; at most one
  // hash. A new
  // key is copied into `text`, or kept as it is when `text` is null: its bytes outlive the map.
  std::pair<Value*, bool> tryEmplace(std::string_view key, TextArena* text) {
    if (slotCount() == 0) {
      if (size_t at = scan(key); at != kNone) {
        return {&entries_[at].second, false};
      }
      if (entries_.size() < kScanned) {
        return {&append(key, text), true};
      }
      grow();  // indexes the entries so far
    }
    uint64_t h = hash(key);
    Table table = this->table();
    size_t slot = slotOf(table, key, h);
    if (uint32_t s = table.slots[slot]; s != 0) {
      return {&entries_[table.index(s)].second, false};
    }
    if ((entries_.size() + 1) * 4 > (table.mask + 1) * 3) {
      grow();
      table = this->table();
      slot = slotOf(table, key, h);
    }
    table.slots[slot] = table.pack(h, entries_.size());
    return {&append(key, text), true};
  }

  [[nodiscard]] size_t size() const { return entries_.size(); }

  // The most slots a lookup of a present key probes: the work a hash that clusters would
  // show. For tests; it walks the whole index.
  [[nodiscard]] size_t longestProbe() const {
    if (slotCount() == 0) {
      return entries_.size();  // a scan compares every entry
    }
    size_t longest = 0;
    const Table table = this->table();
    for (size_t slot = 0; slot <= table.mask; ++slot) {
      if (uint32_t s = table.slots[slot]; s != 0) {
        size_t home = static_cast<size_t>(hash(entries_[table.index(s)].first)) & table.mask;
        longest = std::max(longest, ((slot - home) & table.mask) + 1);
      }
    }
    return longest;
  }
  [[nodiscard]] auto begin() const { return entries_.begin(); }
  [[nodiscard]] auto end() const { return entries_.end(); }
  // Values may change in place; keys may not (the index hashes them).
  [[nodiscard]] auto begin() { return entries_.begin(); }
  [[nodiscard]] auto end() { return entries_.end(); }

 private:
  static uint64_t hash(std::string_view key) { return keyedHash(key); }
  // A slot holds the entry's number plus one (0 is empty) in 4 bytes, half what a slot with a
  // wider tag would take: the index is a tenth of the tree's memory. The number takes the bits
  // that number the slots (a table of 2^n slots holds fewer than 2^n entries), and the bits of
  // the key's hash above them the rest, so that most probes of other keys end without reading
  // their entries: 28 bits of it in a table of 16 slots, 8 in one of 2^24.
  struct Table {
    uint32_t* slots;
    size_t mask;  // the number of slots less one, at most 2^32 - 1
    [[nodiscard]] uint32_t tagOf(uint64_t h) const {
      return static_cast<uint32_t>(h >> 32) & ~static_cast<uint32_t>(mask);
    }
    [[nodiscard]] uint32_t pack(uint64_t h, size_t entry) const {
      return tagOf(h) | static_cast<uint32_t>(entry + 1);
    }
    [[nodiscard]] size_t index(uint32_t slot) const { return (slot & mask) - size_t{1}; }
    [[nodiscard]] bool sameTag(uint32_t slot, uint64_t h) const {
      return (slot & ~static_cast<uint32_t>(mask)) == tagOf(h);
    }
  };
  size_t slotCount() const { return table_ ? size_t{1} << table_[0] : 0; }
  // The index, which must exist.
  Table table() const { return {table_.get() + 1, (size_t{1} << table_[0]) - 1}; }

  static constexpr size_t kNone = SIZE_MAX;
  // Up to this many entries a map has no index: comparing a few keys costs less than hashing,
  // and most groups hold only a handful, so their slot tables would be most of their memory.
  static constexpr size_t kScanned = 8;
  static constexpr size_t kLargeList = size_t{4} << 20;

  Value& append(std::string_view key, TextArena* text) {
    if (entries_.size() == entries_.capacity()) {
      // A quarter more at a time rather than twice as many: the tree's lists are most of its
      // memory, and the room they hold unused would be a third more. A list of 4 MiB and more
      // comes straight from the system, where room never touched takes no memory: it doubles,
      // so that it is copied, and its pages faulted in, fewer times.
      size_t size = entries_.size();
      bool large = size * sizeof(Entry) >= kLargeList;
      entries_.reserve(size < kScanned || large ? std::max<size_t>(1, 2 * size) : size + size / 4);
    }
    return entries_.emplace_back(text != nullptr ? text->copy(key) : key, Value()).second;
  }

  // The number of the entry under `key`, or kNone.
  size_t entryOf(std::string_view key) const {
    if (slotCount() == 0) {
      return scan(key);
    }
    const Table table = this->table();
    uint32_t s = table.slots[slotOf(table, key, hash(key))];
    return s == 0 ? kNone : table.index(s);
  }
  size_t scan(std::string_view key) const {
    for (size_t at = 0; at < entries_.size(); ++at) {
      if (entries_[at].first == key) {
        return at;
      }
    }
    return kNone;
  }

  // The slot that holds `key`, or the empty slot where it would go; the index must exist.
  size_t slotOf(const Table& table, std::string_view key, uint64_t h) const {
    for (size_t slot = static_cast<size_t>(h) & table.mask;; slot = (slot + 1) & table.mask) {
      uint32_t s = table.slots[slot];
      if (s == 0 || (table.sameTag(s, h) && entries_[table.index(s)].first == key)) {
        return slot;
      }
    }
  }

  // Doubles the index, or makes it for a map that outgrows scanning.
  void grow() {
    uint32_t bits = table_ ? table_[0] + 1 : kFirstTableBits;
    table_ = std::make_unique<uint32_t[]>((size_t{1} << bits) + 1);  // zeros: all empty
    table_[0] = bits;
    const Table table = this->table();
    for (size_t entry = 0; entry < entries_.size(); ++entry) {
      uint64_t h = hash(entries_[entry].first);
      size_t slot = static_cast<size_t>(h) & table.mask;
      while (table.slots[slot] != 0) {
        slot = (slot + 1) & table.mask;
      }
      table.slots[slot] = table.pack(h, entry);
    }
  }

  std::vector<Entry> entries_;
  // None, or the binary logarithm of the number of slots and the slots, a power of two of them
  // at most three quarters full: one pointer, as a group holds two maps and a tree thousands of
  // groups.
  std::unique_ptr<uint32_t[]> table_;
  static constexpr uint32_t kFirstTableBits = 4;  // 2 * kScanned slots
};

// One symbol of the tree.
struct TreeLeaf {
  uint64_t size = 0;
  uint64_t address = 0;
  NameView mangledName;    // the name in the map, made valid UTF-8
  NameView demangledName;  // empty when it equals the name
  // Under the modern rules, where known: indexes into the tree's sections and objects.
  uint32_t section = kNoSection;
  uint32_t object = kNoObject;
};
static_assert(sizeof(TreeLeaf) == 48);

// One group: the sum of all sizes below it, its sub-groups and its own leaves.
struct TreeNode {
  TreeNode() = default;
  TreeNode(TreeNode&&) noexcept = default;
  TreeNode& operator=(TreeNode&&) noexcept = default;
  // Tears down without recursion: one symbol can make a chain of groups as long as its name.
  ~TreeNode();

  uint64_t total = 0;
  OrderedMap<TreeNode> children;
  OrderedMap<TreeLeaf> leaves;
  // The last number given to each repeated leaf name here; keys are never removed, so probing
  // may resume from it. Not part of the document; made on the first repeat.
  std::unique_ptr<OrderedMap<uint64_t>> lastLeafNumber;
};

// Leaf keys that a tree's text holds, found again: keys made while naming repeat from group to
// group ("front (.text)" and "__ctor (.text)" under every instance of a template), and one copy
// serves them all. The copies made last are found by a plain hash of the key in a table of fixed
// size, where a key only ever replaces another: however the map's names collide, finding one
// costs a hash and a comparison, and the table a fixed few pages.
class KeptKeys {
 public:
  // `key` as the tree's text holds it: the copy of an equal key made lately, or a new one.
  [[nodiscard]] std::string_view keep(std::string_view key, TextArena& text);

  // Shorter keys are copied each time: finding them would cost more than the bytes it spares.
  static constexpr size_t kShortest = 12;

 private:
  static constexpr unsigned kRecentBits = 12;
  std::vector<std::string_view> recent_;  // none, or 2^kRecentBits
};

// A whole size tree: its root and the text its keys and names are copied into, which lives
// exactly as long as the tree. Moving it keeps every view valid (the arena's blocks move along).
struct SizeTree {
  TextArena text;
  TreeNode root;
  // The sections and object files that leaves name, copied into `text`: under the modern
  // rules, for maps that list their sections and for binaries.
  struct Section {
    std::string_view name;
    SectionKind kind = SectionKind::Data;
  };
  std::vector<Section> sections;
  std::vector<std::string_view> objects;
  KindTotals totals;  // all sections' sizes by kind, both measures
  bool hasSections = false;
  KeptKeys leafKeys;  // the leaf keys copied into `text` as they were made
};

// Bounds that keep the tree, and so the document, in proportion to the map (docs/bounds.md).
// Real maps stay far below them: their names make a group or two per hundred bytes, and the
// deepest real symbol seen is filed nine groups deep.
//
// A symbol is filed at most this many groups deep; the rest of its segments are joined with
// "/" into the leaf's name.
inline constexpr size_t kMaxGroupsPerSymbol = 256;

// The tree's growth, in bytes of an estimate: every new group counts kGroupCost (the node in
// the tree and its share of the document) and its key, every copied leaf name or demangled
// name its length. Filing a whole map may spend kFreeTreeBytes plus kTreeBytesPerNameByte for
// each byte of the symbols' names. A symbol that finds it spent files no new group (the rest
// of its segments go into the leaf's name, as past the depth bound), takes its name from the
// map as the leaf's name when the joined one would not fit, and shows no demangled name.
inline constexpr uint64_t kGroupCost = 320;
inline constexpr uint64_t kFreeTreeBytes = uint64_t{64} << 20;
inline constexpr uint64_t kTreeBytesPerNameByte = 8;

class TreeAllowance {
 public:
  void grant(uint64_t nameBytes) { left_ += kTreeBytesPerNameByte * nameBytes; }
  // Takes `bytes` if that many are left.
  [[nodiscard]] bool spend(uint64_t bytes) {
    if (bytes > left_) {
      return false;
    }
    left_ -= bytes;
    return true;
  }
  [[nodiscard]] uint64_t left() const { return left_; }

 private:
  uint64_t left_ = kFreeTreeBytes;
};

// Files one symbol under `segments` (at least one: the groups, then the leaf's name), adding
// `size` to the total of every node on the way. A leaf name already taken in its group gets
// "#1", "#2" and so on. The leaf refers to `name` itself when it is valid UTF-8, so `name` must
// live as long as the tree; keys, repaired and demangled names are copied once into the tree's
// arena, except a leaf's key that is a piece of `name` or of `demangledName` as its origin says:
// that shares the bytes the leaf keeps anyway. At most kMaxGroupsPerSymbol groups are made;
// `allowance`, when given, bounds what the symbol adds. `keptShown`, when it equals the shown
// name, is taken for it rather than a copy: text the tree holds already (an earlier leaf's).
TreeLeaf& fileSymbol(SizeTree& tree, std::span<const NameSegment> segments, uint64_t size,
                     uint64_t address, std::string_view name, std::string_view demangledName,
                     TreeAllowance* allowance = nullptr, std::string_view keptShown = {});
// The same with segments of text of their own (each is copied where the tree keeps it).
TreeLeaf& fileSymbol(SizeTree& tree, const std::vector<std::string>& segments, uint64_t size,
                     uint64_t address, std::string_view name, std::string_view demangledName,
                     TreeAllowance* allowance = nullptr);

// Writes the document, "var treeData = " and the tree's JSON, into `sink` as it is made, and
// flushes it. Throws what the sink's drain throws.
void writeDocument(zel::utils::appender::ChunkedAppender& sink, const TreeNode& tree,
                   const std::vector<std::string>& options = {});
// The same with the leaves' sections, kinds and objects, where the tree has them.
void writeDocument(zel::utils::appender::ChunkedAppender& sink, const SizeTree& tree,
                   const std::vector<std::string>& options = {});

// A leaf's members; its section's name and kind ("section", "kind") and its object file
// ("object") follow the classic four where `tree` knows them.
template <typename Writer>
void writeLeafJson(Writer& writer, const TreeLeaf& leaf, const SizeTree* tree) {
  using zel::utils::json::PlainKey;
  bool first = true;
  writer.beginObject();
  writer.putMember(first, PlainKey("size"), leaf.size);
  writer.putMember(first, PlainKey("address"), leaf.address);
  writer.putMember(first, PlainKey("mangledName"), leaf.mangledName.view());
  writer.putMember(first, PlainKey("demangledName"), leaf.demangledName.view());
  if (tree != nullptr && leaf.section != kNoSection) {
    const SizeTree::Section& section = tree->sections[leaf.section];
    writer.putMember(first, PlainKey("section"), section.name);
    writer.putMember(first, PlainKey("kind"), kindId(section.kind));
    if (leaf.object != kNoObject) {
      writer.putMember(first, PlainKey("object"), tree->objects[leaf.object]);
    }
  }
  writer.endObject();
}

template <typename Writer>
void writeJson(Writer& writer, const TreeLeaf& leaf) {
  writeLeafJson(writer, leaf, nullptr);
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

// The tree and, when `options` is not empty, the record of the options that made it, as the
// root's first member: {"options":["--modern"],"total":...}. Written with an explicit stack
// rather than by recursion, for the same reason as ~TreeNode.
template <typename Writer>
void writeTreeJson(Writer& writer, const TreeNode& root, const SizeTree* tree,
                   const std::vector<std::string>& options) {
  using zel::utils::json::PlainKey;
  auto open = [&writer, &root, &options](const TreeNode& node) {
    bool first = true;
    writer.beginObject();
    if (&node == &root && !options.empty()) {
      writer.putKey(PlainKey("options"));
      writer.output.put('[');
      for (size_t k = 0; k < options.size(); ++k) {
        if (k != 0) {
          writer.output.put(',');
        }
        writer.putString(options[k]);
      }
      writer.output.put(']');
      writer.output.put(',');
    }
    writer.putMember(first, PlainKey("total"), node.total);
    writer.output.put(std::string_view(R"(,"children":{)"));
  };
  struct Frame {
    const TreeNode* node;
    size_t next;  // the next child to write
  };
  std::vector<Frame> stack{{&root, 0}};
  open(root);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.node->children.size()) {
      const auto& [key, child] = *(frame.node->children.begin() + frame.next);
      if (frame.next++ != 0) {
        writer.output.put(',');
      }
      writer.putString(key);
      writer.output.put(':');
      open(child);
      stack.push_back({&child, 0});  // invalidates `frame`
      continue;
    }
    writer.output.put(std::string_view(R"(},"leaves":{)"));
    bool first = true;
    for (const auto& [key, leaf] : frame.node->leaves) {
      if (!std::exchange(first, false)) {
        writer.output.put(',');
      }
      writer.putString(key);
      writer.output.put(':');
      writeLeafJson(writer, leaf, tree);
    }
    writer.endObject();
    writer.endObject();
    stack.pop_back();
  }
}

// The classic document's tree, with no record of options.
template <typename Writer>
void writeJson(Writer& writer, const TreeNode& root) {
  writeTreeJson(writer, root, nullptr, {});
}

template <typename Writer>
void writeJson(Writer& writer, const SizeTree& tree) {
  writeTreeJson(writer, tree.root, tree.hasSections ? &tree : nullptr, {});
}

}  // namespace vorlith
