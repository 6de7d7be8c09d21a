// The same objects linked by GNU ld, ld.lld 14 and 16 and mold: each linker writes D names its
// own way (ld.lld demangles internal symbols: "vtable for app.Shape", "D main"), and under
// --modern every D symbol lands under the same groups with the same leaf whichever linker wrote
// the map. Also where D main goes.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "dmodules.h"
#include "mapfile.h"
#include "support/tree_check.h"
#include "vorlith.h"

namespace {

using Path = std::vector<std::string>;

const vorlith::Settings kModern = vorlith::readingSettings(true);

struct Tree {
  std::unique_ptr<vorlith::MapFile> map;
  vorlith::SizeTree tree;
};

Tree modernTree(const std::string& file) {
  Tree made;
  std::ostringstream echo;
  made.map = std::make_unique<vorlith::MapFile>(std::string(VORLITH_TEST_DATA) + "/" + file, echo,
                                                kModern);
  made.tree = vorlith::buildTree(made.map->symbols, kModern);
  EXPECT_EQ(treeFault(made.tree.root), "");
  return made;
}

// Whether a leaf is a D symbol, as either kind of linker names it.
bool isDName(std::string_view name) {
  static const std::regex d(
      "_D[0-9].*|_DT.*|_Dmain|D main|(initializer|vtable|ClassInfo|Interface|ModuleInfo) for "
      "[^:]*|[A-Za-z_.0-9]+\\.__moduleRef");
  return std::regex_match(std::string(name), d);
}

// The paths of the leaves under `node` (groups, then the leaf's key without its number: "f#2"
// is "f"), outside Afterpadding; those of D symbols only when `dOnly`. Counts in `phrases` the
// leaves named as ld.lld writes D internal symbols.
std::set<Path> leafPaths(const vorlith::TreeNode& root, bool dOnly, size_t& phrases) {
  std::set<Path> paths;
  Path path;
  auto walk = [&](auto& self, const vorlith::TreeNode& node) -> void {
    for (const auto& [key, leaf] : node.leaves) {
      std::string_view name = leaf.mangledName;
      bool phrase = name == "D main" || name.find(" for ") != std::string_view::npos;
      phrases += phrase && isDName(name) ? 1 : 0;
      if (dOnly && !isDName(name)) {
        continue;
      }
      Path full = path;
      full.push_back(std::regex_replace(std::string(key), std::regex("#[0-9]+$"), ""));
      paths.insert(full);
    }
    for (const auto& [name, child] : node.children) {
      if (path.empty() && name == "Afterpadding") {
        continue;
      }
      path.emplace_back(name);
      self(self, child);
      path.pop_back();
    }
  };
  walk(walk, root);
  return paths;
}

// Every D symbol of the GNU ld map is at the same path in the maps of the other linkers, whose
// own names for it differ ("vtable for app.Shape", "app.calls" for _D3app5callsi). They list
// more symbols (local ones), so their paths are a superset.
TEST(LinkersAgree, FileTheSameDSymbolsUnderTheSameGroups) {
  struct Case {
    std::string gnu;
    std::vector<std::string> others;
  };
  const std::vector<Case> cases = {
      {"gnu-ld-mixed-gdc.map", {"lld-gdc.map", "lld16-gdc.map", "mold-gdc.map"}},
      {"gnu-ld-mixed-ldc2.map", {"lld-ldc2.map", "mold-ldc2.map"}},
  };
  for (const Case& c : cases) {
    Tree gnu = modernTree(c.gnu);
    size_t gnuPhrases = 0;
    std::set<Path> expected = leafPaths(gnu.tree.root, true, gnuPhrases);
    ASSERT_GT(expected.size(), 20u) << c.gnu;
    EXPECT_EQ(gnuPhrases, 0u);
    for (const std::string& other : c.others) {
      SCOPED_TRACE(c.gnu + " against " + other);
      Tree tree = modernTree(other);
      size_t phrases = 0;
      std::set<Path> got = leafPaths(tree.tree.root, false, phrases);
      for (const Path& path : expected) {
        EXPECT_TRUE(got.contains(path)) << ::testing::PrintToString(path) << " not in " << other;
      }
      if (other.starts_with("lld")) {
        EXPECT_GE(phrases, 8u);  // ld.lld's own spelling of D internal symbols was among them
      }
    }
  }
}

// D main is filed under the module of the object that defines it; where the map does not tell,
// under "Other symbols". Never alone at the top.
TEST(DMain, IsFiledUnderTheModuleOfItsObject) {
  struct Case {
    std::string map;
    Path path;
  };
  const std::vector<Case> cases = {
      {"gnu-ld-gdc.map", {"app", "D main"}},            // two modules, two objects
      {"ldc2-gnu-ld.map", {"main", "D main"}},          // ldc2: module main, calc.lexer ...
      {"gnu-ld-mixed-ldc2.map", {"app", "D main"}},     // ModuleInfo in a section of its own
      {"lld16-gdc.map", {"app", "D main"}},             // "D main", "ModuleInfo for app"
      {"mold-gdc-32.map", {"app", "D main"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.map);
    Tree tree = modernTree(c.map);
    std::vector<Path> found;
    Path path;
    auto walk = [&](auto& self, const vorlith::TreeNode& node) -> void {
      for (const auto& [key, leaf] : node.leaves) {
        if (vorlith::isDMainName(leaf.mangledName) && (path.empty() || path[0] != "Afterpadding")) {
          Path full = path;
          full.emplace_back(key);
          found.push_back(full);
        }
      }
      for (const auto& [name, child] : node.children) {
        path.emplace_back(name);
        self(self, child);
        path.pop_back();
      }
    };
    walk(walk, tree.tree.root);
    EXPECT_EQ(found, std::vector<Path>{c.path});
  }
}

TEST(DMain, GoesUnderOtherSymbolsWhereTheMapDoesNotTellItsModule) {
  struct Case {
    std::string what;
    std::string map;
  };
  // GNU ld maps cut down to what matters.
  const std::string two =
      " .text          0x0000000000401000       0x40 both.o\n"
      "                0x0000000000401000                _Dmain\n"
      " .data          0x0000000000402000       0x40 both.o\n"
      "                0x0000000000402000                _D1a12__ModuleInfoZ\n"
      "                0x0000000000402020                _D1b12__ModuleInfoZ\n";
  const std::string none =
      " .text          0x0000000000401000       0x40 main.o\n"
      "                0x0000000000401000                _Dmain\n"
      " .data          0x0000000000402000       0x40 other.o\n"
      "                0x0000000000402000                _D1a12__ModuleInfoZ\n";
  const std::string one =
      " .text          0x0000000000401000       0x40 main.o\n"
      "                0x0000000000401000                _Dmain\n"
      " .data          0x0000000000402000       0x40 main.o\n"
      "                0x0000000000402000                _D3pkg4tool12__ModuleInfoZ\n";
  const std::vector<std::pair<std::string, Path>> cases = {
      {two, {"Other symbols", "D main"}},
      {none, {"Other symbols", "D main"}},
      {one, {"pkg", "tool", "D main"}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    std::ostringstream echo;
    vorlith::MapFile map(vorlith::MapFile::FromText{}, text, echo, kModern);
    vorlith::SizeTree tree = vorlith::buildTree(map.symbols, kModern);
    const vorlith::TreeNode* node = &tree.root;
    for (size_t k = 0; k + 1 < expected.size(); ++k) {
      node = const_cast<vorlith::TreeNode*>(node)->children.find(expected[k]);
      ASSERT_NE(node, nullptr) << expected[k];
    }
    EXPECT_NE(const_cast<vorlith::TreeNode*>(node)->leaves.find(expected.back()), nullptr);
  }
}

}  // namespace
