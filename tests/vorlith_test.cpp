#include "vorlith.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <filesystem>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "dmodules.h"
#include "mapfile.h"
#include "name_view.h"
#include "naming.h"
#include "support/expect.h"
#include "support/tree_check.h"
#include "zel/utils/json.h"

using vorlith::buildTree;
using vorlith::fileSymbol;
using vorlith::Symbol;
using vorlith::TreeAllowance;
using vorlith::TreeLeaf;
using vorlith::TreeNode;

namespace {

std::vector<std::string> keysOf(const TreeNode& node) {
  std::vector<std::string> keys;
  for (const auto& [key, leaf] : node.leaves) {
    keys.emplace_back(key);
  }
  return keys;
}

std::vector<std::string> groupsOf(const TreeNode& node) {
  std::vector<std::string> names;
  for (const auto& [name, child] : node.children) {
    names.emplace_back(name);
  }
  return names;
}

const TreeNode& child(const TreeNode& node, std::string_view name) {
  const TreeNode* found = const_cast<TreeNode&>(node).children.find(name);
  if (found == nullptr) {
    ADD_FAILURE() << "no group " << name;
    static const TreeNode empty;
    return empty;
  }
  return *found;
}

const TreeLeaf& leaf(const TreeNode& node, std::string_view key) {
  const TreeLeaf* found = const_cast<TreeNode&>(node).leaves.find(key);
  if (found == nullptr) {
    ADD_FAILURE() << "no leaf " << key;
    static const TreeLeaf empty;
    return empty;
  }
  return *found;
}

}  // namespace

TEST(SizeTree, FilesLeavesUnderGroupsWithTotals) {
  vorlith::SizeTree tree;
  TreeNode& root = tree.root;
  fileSymbol(tree, {"solo"}, 5, 0x10, "solo", "solo");
  fileSymbol(tree, {"a", "b", "f"}, 7, 0x20, "f1", "f1");
  fileSymbol(tree, {"a", "c", "f"}, 11, 0x30, "f2", "f2");
  fileSymbol(tree, {"a", "b"}, 13, 0x40, "b", "b");  // a leaf beside the group of its name
  EXPECT_EQ(treeFault(root), "");
  EXPECT_EQ(root.total, 36u);
  EXPECT_EQ(keysOf(root), std::vector<std::string>{"solo"});
  const TreeNode& a = child(root, "a");
  EXPECT_EQ(a.total, 31u);
  EXPECT_EQ(groupsOf(a), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(leaf(a, "b").size, 13u);
  EXPECT_EQ(leaf(child(a, "c"), "f").address, 0x30u);
}

TEST(SizeTree, NumbersRepeatedLeafNames) {
  vorlith::SizeTree tree;
  TreeNode& root = tree.root;
  for (const char* name : {"f", "f", "f", "f#1", "g#2", "g", "g", "g", "g"}) {
    fileSymbol(tree, {"grp", name}, 1, 1, name, name);
  }
  EXPECT_EQ(keysOf(child(root, "grp")), (std::vector<std::string>{"f", "f#1", "f#2", "f#1#1", "g#2",
                                                                  "g", "g#1", "g#3", "g#4"}));
  EXPECT_EQ(treeFault(root), "");
}

TEST(SizeTree, ManyRepeatedNamesKeepProbingCheap) {
  // A hundred thousand copies: with probing from the base each time this would take minutes.
  vorlith::SizeTree tree;
  TreeNode& root = tree.root;
  for (int k = 0; k < 100000; ++k) {
    fileSymbol(tree, {"same"}, 1, 1, "same", "same");
  }
  EXPECT_EQ(root.leaves.size(), 100000u);
  EXPECT_TRUE(root.leaves.contains("same#99999"));
  fileSymbol(tree, {"same#99999"}, 1, 1, "x", "x");
  EXPECT_TRUE(root.leaves.contains("same#99999#1"));
}

TEST(SizeTree, StoresNamesRepairedAndDemangledOnlyWhenItDiffers) {
  vorlith::SizeTree tree;
  TreeNode& root = tree.root;
  fileSymbol(tree, {"caf\xE9", "k\xE9y"}, 4, 8, "caf\xE9", "caf\xE9");
  fileSymbol(tree, {"x"}, 1, 2, "_D1xi", "int x");
  fileSymbol(tree, {"y"}, 1, 3, "abc", "abd");
  fileSymbol(tree, {"z"}, 1, 4, "abc", "abcd");
  fileSymbol(tree, {"e"}, 1, 5, "", "");
  const TreeLeaf& latin = leaf(child(root, "caf\xC3\xA9"), "k\xC3\xA9y");
  EXPECT_EQ(latin.mangledName, "caf\xC3\xA9");
  EXPECT_EQ(latin.demangledName, "");
  EXPECT_EQ(leaf(root, "x").demangledName, "int x");
  EXPECT_EQ(leaf(root, "y").demangledName, "abd");
  EXPECT_EQ(leaf(root, "z").demangledName, "abcd");
  EXPECT_EQ(leaf(root, "e").demangledName, "");
  EXPECT_EQ(treeFault(root), "");
}

TEST(SizeTree, KeysShareTheBytesOfTheNamesWhereTheyHoldThem) {
  // A leaf's key that its segment says is a piece of the map's name or of the readable name
  // points there; others are copies, even when the same bytes stand in the name. The bytes of
  // `name` outlive the tree, so the key must lie inside them, not in a temporary.
  using vorlith::NameSegment;
  using vorlith::SegmentOrigin;
  const std::string name = "_D3app6widgetFZv", readable = "void app.render()";
  const std::string_view nameView(name), readableView(readable);
  const std::string widget = "widget";  // the same bytes as in the name, made elsewhere
  struct Case {
    const char* label;
    NameSegment leaf;
    const std::string* holder;  // null: a copy in the tree
  } cases[] = {
      {"a piece of the name", {nameView.substr(6, 6), SegmentOrigin::Name}, &name},
      {"a piece of the readable name", {readableView.substr(9, 6), SegmentOrigin::Shown}, nullptr},
      {"made text", {std::string_view(widget), SegmentOrigin::Made}, nullptr},
      {"a piece of the name, repeated", {nameView.substr(6, 6), SegmentOrigin::Name}, nullptr},
  };
  vorlith::SizeTree tree;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const NameSegment segments[] = {{"app", SegmentOrigin::Made}, c.leaf};
    fileSymbol(tree, segments, 1, 1, name, readable);
    const TreeNode& app = child(tree.root, "app");
    std::string_view key = (app.leaves.end() - 1)->first;
    EXPECT_TRUE(key.substr(0, c.leaf.text.size()) == c.leaf.text) << key;
    bool inName = key.data() >= name.data() && key.data() + key.size() <= name.data() + name.size();
    EXPECT_EQ(inName, c.holder == &name) << key;
    EXPECT_FALSE(key.data() >= widget.data() && key.data() < widget.data() + widget.size());
  }
  EXPECT_EQ(child(tree.root, "app").leaves.size(), 4u);  // widget, render, widget#1, widget#2
  // The readable name is itself a copy in the tree: a key read out of it shares that copy.
  const TreeLeaf& render = leaf(child(tree.root, "app"), "render");
  std::string_view key = (child(tree.root, "app").leaves.begin() + 1)->first;
  EXPECT_EQ(key, "render");
  EXPECT_TRUE(key.data() >= render.demangledName.data() &&
              key.data() + key.size() <= render.demangledName.data() + render.demangledName.size());
}

TEST(SizeTree, KeysMadeAgainShareOneCopyAndKeysThatMeetInTheTableStayApart) {
  // Keys made while naming, as a template's members make them under each of its instances: the
  // second group's key and its numbered key are the first group's bytes. Two keys of one length,
  // head and tail, which the table places alike, take turns there and keep bytes of their own,
  // as short keys do; every key reads as it was made.
  using vorlith::NameSegment;
  using vorlith::SegmentOrigin;
  const std::vector<std::string> made = {"front (.text)", "front (.text)", "popFront1 (.text)",
                                         "popFront2 (.text)", "f (.text)"};
  vorlith::SizeTree tree;
  for (const char* group : {"Result!(int)", "Result!(long)"}) {
    for (const std::string& key : made) {
      std::string copy = key;  // the naming's buffer, gone after the call
      const NameSegment segments[] = {{group, SegmentOrigin::Made}, {copy, SegmentOrigin::Made}};
      fileSymbol(tree, segments, 1, 1, "_D1x", "x");
    }
  }
  const TreeNode& first = child(tree.root, "Result!(int)");
  const TreeNode& second = child(tree.root, "Result!(long)");
  const std::vector<std::string> keys = {"front (.text)", "front (.text)#1", "popFront1 (.text)",
                                         "popFront2 (.text)", "f (.text)"};
  EXPECT_EQ(keysOf(first), keys);
  EXPECT_EQ(keysOf(second), keys);
  const bool shared[] = {true, true, false, false, false};
  for (size_t k = 0; k < keys.size(); ++k) {
    SCOPED_TRACE(keys[k]);
    std::string_view a = (first.leaves.begin() + static_cast<std::ptrdiff_t>(k))->first;
    std::string_view b = (second.leaves.begin() + static_cast<std::ptrdiff_t>(k))->first;
    EXPECT_EQ(a.data() == b.data(), shared[k]);
  }
  EXPECT_LT(std::string("f (.text)").size(), vorlith::KeptKeys::kShortest);
  EXPECT_EQ(treeFault(tree.root), "");
}

TEST(SizeTree, LeavesKeepTheirNamesWholeInTheirPackedViews) {
  // A leaf holds its names in 12 bytes each; they read back whole, long or empty.
  static_assert(sizeof(TreeLeaf) == 48);
  const std::string longName(100000, 'n');
  const std::string shown = "void " + longName;
  vorlith::SizeTree tree;
  fileSymbol(tree, {"g", "long"}, 1, 7, longName, shown);
  fileSymbol(tree, {"g", "empty"}, 2, 9, "", "");
  const TreeLeaf& big = leaf(child(tree.root, "g"), "long");
  EXPECT_EQ(big.mangledName.size(), longName.size());
  EXPECT_TRUE(std::string_view(big.mangledName) == longName);
  EXPECT_TRUE(std::string_view(big.demangledName) == shown);
  const TreeLeaf& none = leaf(child(tree.root, "g"), "empty");
  EXPECT_TRUE(none.mangledName.empty());
  EXPECT_TRUE(none.demangledName.empty());
  EXPECT_EQ(none.address, 9u);
}

TEST(SizeTree, ANameOfFourGiBIsRefusedRatherThanCut) {
  // A packed view has 32 bits of length: a longer name would be read back short, so it is
  // refused. The range is reserved address space, never touched.
  const size_t limit = size_t{1} << 32;
  void* room = ::mmap(nullptr, limit + 1, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                      -1, 0);
  ASSERT_NE(room, MAP_FAILED);
  const auto* bytes = static_cast<const char*>(room);
  EXPECT_EQ(vorlith::NameView(std::string_view(bytes, limit - 1)).size(), limit - 1);
  EXPECT_THROW(vorlith::NameView(std::string_view(bytes, limit)), std::length_error);
  ::munmap(room, limit + 1);
}

TEST(BuildTree, SizesEachSymbolByTheNextAddress) {
  std::vector<Symbol> symbols = {
      {0, "zero", 0},        // never shown
      {0x1000, "main", 1},   // 0x10 up to the next
      {0x1010, "early", 2},  // same address: only the latest line is shown
      {0x1010, "mid", 3},   {0x1010, "late", 4},
      {0x1030, "last", 5},  // only bounds the one before it
  };
  vorlith::SizeTree tree = buildTree(symbols);
  const TreeNode& root = tree.root;
  EXPECT_EQ(treeFault(root), "");
  EXPECT_EQ(keysOf(root), (std::vector<std::string>{"main", "late"}));
  EXPECT_EQ(leaf(root, "main").size, 0x10u);
  EXPECT_EQ(leaf(root, "late").size, 0x20u);
  EXPECT_EQ(leaf(root, "late").address, 0x1010u);
  EXPECT_EQ(root.total, 0x30u);
}

TEST(BuildTree, ShowsGapsAfterSizedEntriesAsPadding) {
  std::vector<Symbol> symbols = {
      {0x1000, "foo.o (.text)", 0},
      {0x1000, "_Dmain", 1},
      {0x1020, "END\tfoo.o (.text)", 0},  // sorted by line, but ends after the symbol
      {0x102C, "END\t/usr/lib/crtend.o (.eh_frame)", 2},
      {0x1040, "END\tbar.o (.data)", 3},
      {0x1040, "next", 4},
      {0x1050, "end", 5},
  };
  vorlith::SizeTree tree = buildTree(symbols);
  const TreeNode& root = tree.root;
  EXPECT_EQ(treeFault(root), "");
  EXPECT_EQ(groupsOf(root), (std::vector<std::string>{"C symbols", "Afterpadding"}));
  const TreeLeaf& pad = leaf(child(root, "Afterpadding"), "foo.o (.text)");
  EXPECT_EQ(pad.size, 12u);
  EXPECT_EQ(pad.mangledName, "foo.o (.text)");
  EXPECT_EQ(leaf(child(root, "C symbols"), "Dmain").size, 0x20u);
  EXPECT_EQ(leaf(root, "next").size, 0x10u);
  EXPECT_EQ(root.total, 0x20u + 12 + 0x10);  // the crtend gap and the empty gap are not shown
}

TEST(BuildTree, SymbolsOfNoSizeDropWithoutChangingTheTree) {
  // Every real map, by both sets of rules: the tree of what is left writes the same document.
  size_t maps = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VORLITH_TEST_DATA)) {
    if (entry.path().extension() != ".map") {
      continue;
    }
    SCOPED_TRACE(entry.path().filename().string());
    for (bool modern : {false, true}) {
      SCOPED_TRACE(modern ? "modern" : "classic");
      vorlith::Settings settings;
      settings.modern = modern;
      std::ostringstream echo;
      vorlith::MapFile map(entry.path().string(), echo, settings);
      if (map.symbols.size() < 2) {
        continue;  // a form these rules do not read
      }
      std::vector<Symbol> all = map.symbols;
      vorlith::dropSymbolsOfNoSize(map.symbols);
      EXPECT_LT(map.symbols.size(), all.size());  // every real map has some
      // What the map tells of its D modules is found on the whole list, as a run does.
      vorlith::DModules modules;
      if (modern) {
        modules = vorlith::dModulesOf(all);
      }
      vorlith::SizeTree whole = buildTree(all, settings, vorlith::ChunkLimits{}, modules);
      vorlith::SizeTree fewer = buildTree(map.symbols, settings, vorlith::ChunkLimits{}, modules);
      EXPECT_EQ(zel::utils::json::toJson(fewer.root).get(),
                zel::utils::json::toJson(whole.root).get());
      ++maps;
    }
  }
  EXPECT_GE(maps, 30u);  // 21 maps, most read by both sets of rules
  // Hand-made edges: a list that would keep fewer than two stays whole; nothing to drop.
  struct Case {
    const char* label;
    std::vector<Symbol> symbols;
    std::vector<std::string> kept;
  } cases[] = {
      {"one would remain", {{0x10, "a", 0}, {0x10, "b", 1}}, {"a", "b"}},
      {"all at 0", {{0, "a", 0}, {0, "b", 1}, {0, "c", 2}}, {"a", "b", "c"}},
      {"nothing to drop", {{0x10, "a", 0}, {0x20, "b", 1}}, {"a", "b"}},
      {"zeros, runs, the last of each",
       {{0, "z", 0},
        {0x10, "a", 1},
        {0x10, "b", 2},
        {0x20, "c", 3},
        {0x30, "d", 4},
        {0x30, "e", 5}},
       {"b", "c", "e"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    vorlith::dropSymbolsOfNoSize(c.symbols);
    std::vector<std::string> names;
    for (const Symbol& symbol : c.symbols) {
      names.emplace_back(symbol.name);
    }
    EXPECT_EQ(names, c.kept);
  }
}

TEST(BuildTree, NeedsTwoSymbols) {
  expectThrowsWithMessage<std::runtime_error>([] { (void)buildTree({}); }, "No symbols");
  expectThrowsWithMessage<std::runtime_error>(
      [] {
        (void)buildTree({{0x10, "a", 0}});
      },
      "No symbols");
  vorlith::SizeTree tree = buildTree({{0x10, "a", 0}, {0x10, "b", 1}});
  const TreeNode& root = tree.root;
  EXPECT_EQ(root.total, 0u);
  EXPECT_EQ(root.leaves.size() + root.children.size(), 0u);
}

TEST(SizeTree, DeepChainsAreWrittenAndFreedWithoutRecursion) {
  // Filing bounds the depth, but a tree made by hand can still be deep: neither the writer nor
  // the teardown may use a stack frame per level.
  const size_t depth = 300000;
  {
    vorlith::TextArena text;
    TreeNode root;
    TreeNode* node = &root;
    for (size_t k = 0; k < depth; ++k) {
      node->total = 3;
      node = &node->children.at("g", text);
    }
    node->total = 3;
    zel::utils::appender::FastAppender document = zel::utils::json::toJson(root);
    std::string_view json = document.get();
    EXPECT_EQ(json.substr(0, 33), R"({"total":3,"children":{"g":{"tota)");
    EXPECT_EQ(json.size(),
              depth * std::string_view(R"({"total":3,"children":{"g":},"leaves":{}})").size() +
                  std::string_view(R"({"total":3,"children":{},"leaves":{}})").size());
  }
}

// Depth of the deepest leaf below `root` and the key of that leaf.
std::pair<size_t, std::string> deepestLeaf(const TreeNode& root) {
  std::pair<size_t, std::string> deepest{0, ""};
  std::vector<std::pair<const TreeNode*, size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    for (const auto& [key, leaf] : node->leaves) {
      if (depth >= deepest.first) {
        deepest = {depth, std::string(key)};
      }
    }
    for (const auto& [key, child] : node->children) {
      pending.push_back({&child, depth + 1});
    }
  }
  return deepest;
}

std::string joinedG(size_t count) {
  std::string out = "g";
  for (size_t k = 1; k < count; ++k) {
    out += "/g";
  }
  return out;
}

TEST(SizeTree, FilesAtMostTheBoundOfGroupsAndJoinsTheRestIntoTheLeaf) {
  const size_t bound = vorlith::kMaxGroupsPerSymbol;
  const struct {
    size_t segments;
    size_t depth;
    std::string leaf;
  } cases[] = {
      {bound, bound - 1, "g"},
      {bound + 1, bound, "g"},
      {bound + 2, bound, "g/g"},
      {300000, bound, joinedG(300000 - bound)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.segments);
    vorlith::SizeTree tree;
    TreeNode& root = tree.root;
    fileSymbol(tree, std::vector<std::string>(c.segments, "g"), 3, 1, "deep", "deep");
    auto [depth, key] = deepestLeaf(root);
    EXPECT_EQ(depth, c.depth);
    EXPECT_EQ(key, c.leaf);
    EXPECT_EQ(treeFault(root), "");
  }
}

TEST(SizeTree, ASpentAllowanceMakesNoGroupAndKeepsTheRestVisible) {
  vorlith::SizeTree tree;
  TreeNode& root = tree.root;
  fileSymbol(tree, {"a", "b", "f"}, 1, 1, "f1", "f1");
  vorlith::TreeAllowance allowance;
  ASSERT_TRUE(allowance.spend(allowance.left()));
  allowance.grant(1);  // room for short leaf names, not for a group
  // Groups that exist cost nothing; a new one is refused and its path joined into the leaf.
  fileSymbol(tree, {"a", "b", "g"}, 2, 2, "g1", "g1", &allowance);
  fileSymbol(tree, {"a", "c", "d", "h"}, 4, 3, "h1", "h1", &allowance);
  EXPECT_EQ(groupsOf(child(root, "a")), (std::vector<std::string>{"b"}));
  EXPECT_EQ(keysOf(child(root, "a")), (std::vector<std::string>{"c/d/h"}));
  EXPECT_EQ(keysOf(child(child(root, "a"), "b")), (std::vector<std::string>{"f", "g"}));
  EXPECT_EQ(child(root, "a").total, 7u);
  // Nothing left even for the joined name or a demangled name: the map's own name is the leaf.
  TreeAllowance none;
  ASSERT_TRUE(none.spend(none.left()));
  fileSymbol(tree, {"x", "y", "leaf"}, 8, 4, "_D1x1y4leafi", "int x.y.leaf", &none);
  EXPECT_EQ(leaf(root, "_D1x1y4leafi").demangledName, "");
  EXPECT_EQ(root.total, 15u);
  // Granted bytes buy groups again.
  none.grant(vorlith::kGroupCost);
  fileSymbol(tree, {"x", "leaf"}, 16, 5, "m", "m", &none);
  EXPECT_EQ(leaf(child(root, "x"), "leaf").size, 16u);
}

TEST(KeyedHash, IsSipHashUnderTheGivenKey) {
  // SipHash-2-4's published values for the key 00 01 ... 0f and the messages 00 01 ... (n-1);
  // the tree uses the same function with fewer rounds.
  const vorlith::HashKey key{0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
  const struct {
    size_t length;
    uint64_t value;
  } cases[] = {{0, 0x726fdb47dd0e0e31ull}, {1, 0x74f839c593dc67fdull}, {15, 0xa129ca6149be45e5ull}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    std::string message;
    for (size_t k = 0; k < c.length; ++k) {
      message += static_cast<char>(k);
    }
    EXPECT_EQ((vorlith::sipHash<2, 4>(key, message)), c.value);
  }
  // Another key gives another value; the run's key stays the same within the run.
  const vorlith::HashKey other{key.k0 ^ 1, key.k1};
  EXPECT_NE((vorlith::sipHash<1, 3>(key, "app")), (vorlith::sipHash<1, 3>(other, "app")));
  EXPECT_EQ(vorlith::keyedHash("app"), vorlith::keyedHash("app"));
  const vorlith::HashKey drawn = vorlith::drawHashKey();
  EXPECT_FALSE(drawn.k0 == vorlith::runHashKey().k0 && drawn.k1 == vorlith::runHashKey().k1);
}

// The checker that every test of a tree relies on finds what it is there to find.
TEST(TreeFault, FindsAWrongTotalAndANameThatIsNotUTF8) {
  std::vector<Symbol> symbols = {
      {0x1000, "_D3app4mainFZv", 0}, {0x1010, "_D3app5otherFZv", 1}, {0x1030, "last", 2}};
  {
    vorlith::SizeTree tree = buildTree(symbols);
    EXPECT_EQ(treeFault(tree.root), "");
    tree.root.total += 1;
    EXPECT_NE(treeFault(tree.root).find("is not the sum below it"), std::string::npos);
  }
  {
    vorlith::SizeTree tree = buildTree(symbols);
    ASSERT_NE(tree.root.children.size(), 0u);
    TreeNode& group = tree.root.children.begin()->second;
    group.total += 1;  // the group itself no longer agrees, nor does the root
    EXPECT_NE(treeFault(tree.root), "");
  }
  {
    vorlith::SizeTree tree = buildTree(symbols);
    TreeNode& app = tree.root.children.begin()->second;
    ASSERT_NE(app.leaves.size(), 0u);
    app.leaves.begin()->second.demangledName = "\xC3";
    EXPECT_NE(treeFault(tree.root).find("not UTF-8"), std::string::npos);
  }
}
