// The classifier under --modern: which rule takes which name, and whole maps of real programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "demangle_current.h"
#include "dsym.h"
#include "mapfile.h"
#include "support/tree_check.h"
#include "vorlith.h"

using vorlith::Classifier;
using vorlith::NameText;
using vorlith::toText;
using vorlith::readingSettings;
using vorlith::Settings;
using vorlith::TreeNode;
using Segments = std::vector<std::string>;

namespace {

const Settings kModern = readingSettings(true);

struct Case {
  std::string_view name;
  Segments segments;
};

void expectModern(const std::vector<Case>& cases) {
  Classifier classifier(kModern);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    NameText result = toText(classifier.classify(c.name));
    EXPECT_EQ(result.segments, c.segments);
    EXPECT_EQ(result.shown, c.name);  // none of these names has anything more to show
  }
}

// The leaf at `path` (groups, then the leaf's key), or null.
const vorlith::TreeLeaf* find(const TreeNode& root, const Segments& path) {
  const TreeNode* node = &root;
  for (size_t k = 0; k + 1 < path.size(); ++k) {
    node = const_cast<TreeNode*>(node)->children.find(path[k]);
    if (node == nullptr) {
      return nullptr;
    }
  }
  return const_cast<TreeNode*>(node)->leaves.find(path.back());
}

// Calls `visit(path, leaf)` for every leaf under `node`.
template <typename Visit>
void eachLeaf(const TreeNode& node, Segments& path, const Visit& visit) {
  for (const auto& [key, leaf] : node.leaves) {
    visit(path, leaf);
  }
  for (const auto& [name, child] : node.children) {
    path.emplace_back(name);
    eachLeaf(child, path, visit);
    path.pop_back();
  }
}

vorlith::SizeTree modernTree(const std::string& map) {
  static std::vector<std::unique_ptr<vorlith::MapFile>> kept;  // the tree refers to the names
  kept.push_back(std::make_unique<vorlith::MapFile>(std::string(VORLITH_TEST_DATA) + "/" + map));
  return vorlith::buildTree(kept.back()->symbols, kModern);
}

}  // namespace

TEST(ModernNames, FilesElfCNamesByTheCSymbolRule) {
  expectModern({
      {"main", {"C symbols", "main"}},
      {"LLVMRunPasses", {"C symbols", "LLVMRunPasses"}},
      {"memcpy@@GLIBC_2.14", {"C symbols", "memcpy@@GLIBC_2.14"}},
      {"pthread_create@GLIBC_2.2.5", {"C symbols", "pthread", "create@GLIBC_2.2.5"}},
      {"zstd_compress_block_internal", {"C symbols", "zstd", "compress_block_internal"}},
      // The classic rule still takes names with a leading underscore.
      {"__libc_start_main@GLIBC_2.34", {"C symbols", "libc", "start_main@GLIBC_2.34"}},
  });
}

TEST(ModernNames, FilesRelativeObjectPathsUnderTheLinkersDirectory) {
  expectModern({
      {"app.o (.text)", {".", "app.o", ".text"}},
      {"obj/util.o (.rodata)", {".", "obj", "util.o", ".rodata"}},
      {"obj/util.o", {".", "obj", "util.o"}},
      {"libfoo.a(bar.o) (.data)", {".", "libfoo.a", "bar.o", ".data"}},
      {"lib/libfoo.a(bar.o)", {".", "lib", "libfoo.a", "bar.o"}},
      {"./app.o (.text)", {".", "app.o", ".text"}},
      {"obj/../app.o (.bss)", {".", "app.o", ".bss"}},
      {"../../lib/x.o (.text)", {".", "..", "..", "lib", "x.o", ".text"}},
      {"kit.app.obj (COMMON)", {".", "kit.app.obj", "COMMON"}},
      // Absolute paths keep the classic rule.
      {"/usr/lib/libc.a(printf.o) (.text)", {"/", "usr", "lib", "libc.a", "printf.o", ".text"}},
  });
}

TEST(ModernNames, PutsWhatNoRuleTakesUnderOtherSymbols) {
  expectModern({
      {"gdc.dso_ctor", {"Other symbols", "gdc.dso_ctor"}},
      {"DW.ref.__gdc_personality_v0", {"Other symbols", "DW.ref.__gdc_personality_v0"}},
      {"completed.0", {"Other symbols", "completed.0"}},
      {"main.cold", {"Other symbols", "main.cold"}},
      {"linker stubs", {"Other symbols", "linker stubs"}},
      {"a.b (x y)", {"Other symbols", "a.b (x y)"}},
      {"app.o (.text", {"Other symbols", "app.o (.text"}},
      {"_Zfoo", {"C++ symbols", "_Zfoo"}},
  });
  // The classic demangler reads "D" and a digit without the underscore; one component alone
  // would be a leaf at the top.
  Classifier classifier(kModern);
  NameText oneComponent = toText(classifier.classify("D7app7fibFiZi"));
  EXPECT_EQ(oneComponent.segments, (Segments{"Other symbols", "app7fib"}));
  EXPECT_EQ(oneComponent.shown, "int app7fib(int)");
}

// ld.lld writes D internal symbols demangled; each is filed and shown as its mangled name is.
TEST(ModernNames, FilesTheDNamesLldWritesDemangledLikeTheirMangledNames) {
  struct Case {
    std::string_view phrase;
    std::string_view mangled;
    Segments segments;
  };
  const std::vector<Case> cases = {
      {"vtable for app.Shape", "_D3app5Shape6__vtblZ", {"app", "Shape", "Shape (vtable)"}},
      {"initializer for app.Square", "_D3app6Square6__initZ",
       {"app", "Square", "Square (initializer)"}},
      {"ClassInfo for app.Shape", "_D3app5Shape7__ClassZ", {"app", "Shape", "Shape (ClassInfo)"}},
      {"Interface for zoo.ui.Named", "_D3zoo2ui5Named11__InterfaceZ",
       {"zoo", "ui", "Named", "Named (Interface)"}},
      {"ModuleInfo for zoo.ui", "_D3zoo2ui12__ModuleInfoZ", {"zoo", "ui", "ui (ModuleInfo)"}},
      {"initializer for TypeInfo_xG2d", "_D13TypeInfo_xG2d6__initZ",
       {"TypeInfo", "const(double[2])"}},
      {"initializer for TypeInfo_S3app__T4RingTiVmi4ZQm",
       "_D31TypeInfo_S3app__T4RingTiVmi4ZQm6__initZ",
       {"app", "Ring", "Ring!(int, 4LU)", "TypeInfo", "app.Ring!(int, 4LU)"}},
      {"app.__moduleRef", "_D3app11__moduleRefZ", {"app", "__moduleRef"}},
      {"vtable for TypeInfo_Class", "_D14TypeInfo_Class6__vtblZ",
       {"object", "TypeInfo_Class", "TypeInfo_Class (vtable)"}},
  };
  Classifier classifier(kModern);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.phrase));
    NameText phrase = toText(classifier.classify(c.phrase));
    NameText mangled = toText(classifier.classify(c.mangled));
    EXPECT_EQ(phrase.segments, c.segments);
    EXPECT_EQ(mangled.segments, c.segments);
    EXPECT_EQ(phrase.shown, mangled.shown);
  }
  // Not D: C++ phrases, dotted names of other origins, a phrase with no readable name.
  expectModern({
      {"vtable for geo::Rect", {"C++ symbols", "geo", "Rect (vtable)"}},
      {"vtable for app.Box!(int)", {"Other symbols", "vtable for app.Box!(int)"}},
      {"ModuleInfo for ", {"Other symbols", "ModuleInfo for "}},
      {"gdc.__moduleRef.x", {"Other symbols", "gdc.__moduleRef.x"}},
  });
}

// Input sections named after a D function or variable whose bytes no symbol line covers (the
// second copy of a template instance) are filed like that symbol, the section's kind in the leaf,
// the name demangled and the object shown.
TEST(ModernNames, FilesSectionsNamedAfterDSymbolsLikeThoseSymbols) {
  std::ostringstream echo;
  vorlith::MapFile map(std::string(VORLITH_TEST_DATA) + "/gnu-ld-dup-sections.map", echo, kModern);
  vorlith::SizeTree tree = vorlith::buildTree(map.symbols, kModern);
  struct Case {
    Segments path;
    uint64_t size;  // the section's size, as readelf -SW right.o gives it
    std::string_view shown;
  };
  const std::vector<Case> cases = {
      {{"dup", "tools", "twice", "twice!(int) (.text)"},
       0x11,
       "pure nothrow @nogc @safe int dup.tools.twice!(int).twice(int) in right.o (.text)"},
      {{"dup", "tools", "Box", "Box!(int)", "get (.text)"},
       0x10,
       "pure nothrow @nogc @safe int dup.tools.Box!(int).Box.get() const in right.o (.text)"},
      {{"dup", "tools", "Box", "Box!(int)", "Box (initializer) (.rodata)"},
       4,
       "dup.tools.Box!(int).Box.__init in right.o (.rodata)"},
      {{"dup", "tools", "Box", "Box!(int)", "TypeInfo", "dup.tools.Box!(int) (.data.rel.ro)"},
       0x78,
       "typeid(dup.tools.Box!(int)) in right.o (.data.rel.ro)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    const vorlith::TreeLeaf* leaf = find(tree.root, c.path);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->size, c.size);
    EXPECT_EQ(leaf->demangledName, c.shown);
    EXPECT_TRUE(leaf->mangledName.starts_with("right.o (.")) << leaf->mangledName;
  }
  // No section named after a D symbol is left under the object's path, except relocations.
  const TreeNode* dot = const_cast<TreeNode&>(tree.root).children.find(".");
  ASSERT_NE(dot, nullptr);
  Segments path;
  eachLeaf(*dot, path, [](const Segments& at, const vorlith::TreeLeaf& leaf) {
    EXPECT_TRUE(leaf.mangledName.find("._D") == std::string_view::npos)
        << ::testing::PrintToString(at) << " " << leaf.mangledName;
  });
  // Classic rules file them by the object, as before.
  Classifier classic(Settings{});
  EXPECT_EQ(toText(classic.classify("right.o (.text._D3dup5tools__T5twiceTiZQjFNaNbNiNfiZi)")).segments,
            (Segments{"right.o (.text._D3dup5tools__T5twiceTiZQjFNaNbNiNfiZi)"}));
  // Relocation sections and names that do not decode stay where they were.
  expectModern({
      {"app.o (.rela.text._D3app3runFZv)", {".", "app.o", ".rela.text._D3app3runFZv"}},
      {"app.o (.text._D3app)", {".", "app.o", ".text._D3app"}},
  });
}

// Every byte at the top level belongs to a named group: no map here leaves a leaf there.
TEST(ModernNames, LeaveNoLeafAtTheTopOfAnyRealMap) {
  size_t maps = 0;
  for (const std::string dir : {"", "/fixtures"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(VORLITH_TEST_DATA) + dir)) {
      if (entry.path().extension() != ".map") {
        continue;
      }
      SCOPED_TRACE(entry.path().string());
      std::ostringstream echo;
      vorlith::MapFile map(entry.path().string(), echo, kModern);
      if (map.symbols.size() < 2) {
        continue;  // lld 14's ld64 form, which no rules read
      }
      vorlith::SizeTree tree = vorlith::buildTree(map.symbols, kModern);
      EXPECT_GT(tree.root.children.size(), 2u);
      for (const auto& [key, leaf] : tree.root.leaves) {
        ADD_FAILURE() << "a leaf at the top: " << key << " (" << leaf.mangledName << ")";
      }
      ++maps;
    }
  }
  EXPECT_GE(maps, 28u);  // all but one of the maps here and the fixtures' six
}

TEST(ModernNames, FilesAnItaniumNameOfNoPartsWithNothingToShow) {
  // The Itanium rule shows its joined parts, none here; a prefix before it is still shown.
  Classifier classifier(kModern);
  NameText bare = toText(classifier.classify("_Z0"));
  EXPECT_EQ(bare.segments, (Segments{"Other symbols", "_Z0"}));
  EXPECT_EQ(bare.shown, "");
  EXPECT_EQ(classifier.classify("x: _Z0").shown, "x: ");
}

TEST(ModernNames, FilesDemangledCxxNamesAfterPrefixesAndBeforeTheCRule) {
  expectModern({
      {"__gnu_cxx::__normal_iterator<int*, std::vector<int, std::allocator<int> > >::operator++()",
       {"C++ symbols", "__gnu_cxx", "__normal_iterator", "operator++"}},
      {"app.obj: foo::bar(int)", {"app.obj", "C++ symbols", "foo", "bar"}},
      {"vtable for llvm::Pass", {"C++ symbols", "llvm", "Pass (vtable)"}},
  });
}

// The classic rules see none of this without the option.
TEST(ModernNames, DefaultSettingsKeepTheClassicRules) {
  Classifier classic(Settings{});
  for (std::string_view name : {"main", "memcpy@@GLIBC_2.14", "foo::bar(int)", "app.o (.text)",
                                "gdc.dso_ctor", "vtable for llvm::Pass"}) {
    SCOPED_TRACE(std::string(name));
    EXPECT_EQ(toText(classic.classify(name)).segments, Segments{std::string(name)});
  }
  EXPECT_EQ(toText(classic.classify("_Dmain")).segments, (Segments{"C symbols", "Dmain"}));
}

// Every D name of the project's real maps: the current-ABI filing where it decodes the name,
// the classic rules where it does not.
TEST(ModernNames, HandsDNamesToTheCurrentAbiFilingAndFallsBack) {
  std::ifstream in(std::string(VORLITH_TEST_DATA) + "/d-names.txt");
  Classifier classic(Settings{});
  Classifier modern(kModern);
  size_t names = 0;
  for (std::string name; std::getline(in, name);) {
    SCOPED_TRACE(name);
    ++names;
    NameText got = toText(modern.classify(name));
    std::string_view plain = name;
    if (plain.substr(0, 3) == "__D") {
      plain.remove_prefix(1);
    }
    if (std::optional<NameText> d = vorlith::classifyCurrentD(plain)) {
      EXPECT_EQ(got.segments, d->segments);
      EXPECT_EQ(got.shown, d->shown);
    } else {
      NameText old = toText(classic.classify(name));
      EXPECT_EQ(got.segments, old.segments);
      EXPECT_EQ(got.shown, old.shown);
    }
  }
  EXPECT_GT(names, 1000u);
}

// A GNU ld map of a C++ program at -O2 (tests/data/make-maps.sh): every kind of demangled name
// lands where its scope says, and nothing stays at the top.
TEST(ModernNames, FilesTheCxxNamesOfARealMapByScope) {
  vorlith::SizeTree tree = modernTree("gnu-ld-cxx-names.map");
  const TreeNode& root = tree.root;
  EXPECT_EQ(treeFault(root), "");
  EXPECT_EQ(root.leaves.size(), 0u);
  const Segments expected[] = {
      {"C++ symbols", "tally"},
      {"C++ symbols", "geo", "shapes", "Diamond (vtable)"},
      {"C++ symbols", "geo", "shapes", "Diamond (VTT)"},
      {"C++ symbols", "geo", "shapes", "Diamond (construction vtable)"},
      {"C++ symbols", "geo", "shapes", "Circle (typeinfo)"},
      {"C++ symbols", "geo", "shapes", "Circle (typeinfo name)"},
      {"C++ symbols", "geo", "shapes", "Diamond", "~Diamond (virtual thunk)"},
      {"C++ symbols", "geo", "shapes", "Circle", "name (non-virtual thunk)"},
      {"C++ symbols", "geo", "shapes", "Point", "operator<"},
      {"C++ symbols", "geo", "shapes", "Point", "operator[]"},
      {"C++ symbols", "geo", "shapes", "Point", "operator long [clone .isra.0]"},
      {"C++ symbols", "geo", "Grid", "operator()"},
      {"C++ symbols", "geo", "Grid", "sum"},
      {"C++ symbols", "geo", "repeat"},
      {"C++ symbols", "geo", "registry"},
      {"C++ symbols", "geo", "registry", "names (guard variable)"},
      {"C++ symbols", "geo", "sequence", "counter (guard variable)"},
      {"C++ symbols", "geo", "sequence", "{lambda(int&)#1}", "operator() [clone .isra.0]"},
      {"C++ symbols", "geo", "lastLabel (TLS init function)"},
      {"C++ symbols", "(anonymous namespace)", "helper"},
      {"C++ symbols", "(anonymous namespace)", "Counter", "operator<<"},
      {"C++ symbols", "main", "{lambda(int)#2}", "operator() [clone .constprop.0]"},
      {"C++ symbols", "scaled [clone .constprop.0]"},
      {"C++ symbols", "std", "_Rb_tree", "_M_erase [clone .isra.0]"},
      {"C++ symbols", "std", "__do_uninit_fill_n"},
      {"C++ symbols", "operator new@@GLIBCXX_3.4"},
      {"C symbols", "main"},
      {"C symbols", "memcpy@@GLIBC_2.14"},
      {".", "obj", "names-global.o", ".eh_frame"},
      {"Other symbols", "main.cold"},
  };
  for (const Segments& path : expected) {
    SCOPED_TRACE(::testing::PrintToString(path));
    EXPECT_NE(find(root, path), nullptr);
  }
  // Every name the linker demangled is under "C++ symbols"; 40-odd of them in this map.
  size_t demangled = 0;
  Segments path;
  eachLeaf(root, path, [&](const Segments& at, const vorlith::TreeLeaf& leaf) {
    if (std::string_view(leaf.mangledName).find("::") != std::string_view::npos) {
      ++demangled;
      SCOPED_TRACE(std::string(leaf.mangledName));
      EXPECT_TRUE(at.size() >= 1 && (at[0] == "C++ symbols" || at[0] == "Afterpadding"));
    }
  });
  EXPECT_GT(demangled, 40u);
}

// The older -O0 C++ map: same rule, and the same map without the option keeps them at the top.
TEST(ModernNames, LeavesNothingAtTheTopOfTheOtherCxxMap) {
  vorlith::SizeTree tree = modernTree("gnu-ld-cpp.map");
  const TreeNode& root = tree.root;
  EXPECT_EQ(treeFault(root), "");
  EXPECT_EQ(root.leaves.size(), 0u);
  ASSERT_NE(const_cast<TreeNode&>(root).children.find("C++ symbols"), nullptr);
  vorlith::MapFile map(std::string(VORLITH_TEST_DATA) + "/gnu-ld-cpp.map");
  vorlith::SizeTree classicTree = vorlith::buildTree(map.symbols, Settings{});
  const TreeNode& classic = classicTree.root;
  EXPECT_GT(classic.leaves.size(), 10u);
}

// The classifier reuses its buffers: a long name before a short one, an expanded compressed
// name, a prefixed name, must leave nothing behind that changes the next answer.
TEST(ModernNames, AClassifierCarriesNothingFromOneNameToTheNext) {
  std::vector<std::string> names = {
      "_D3std6format8internal5write__T12writeAlignedTSQBq5array__"
      "T8AppenderTAyaZQoTaTaZQCdFKQBxAxaMKxSQDdQDc4spec__T10FormatSpecTaZQpZv",
      "_D3app1xi",
      "ab\xC9",
      "app.obj: foo::bar(int) const",
      "_D3app4mainFZv",
      "std::vector<int, std::allocator<int> >::push_back(int const&) [clone .isra.0]",
      "x",
      "__D3app3fooFZv",
      "/usr/lib/libc.a(printf.o) (.text)",
      "_ZN3foo3barEv",
  };
  for (bool modern : {false, true}) {
    SCOPED_TRACE(modern ? "modern" : "classic");
    Classifier reused(readingSettings(modern));
    for (int round = 0; round < 2; ++round) {
      for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Classifier fresh(readingSettings(modern));
        NameText expected = toText(fresh.classify(name));
        NameText got = toText(reused.classify(name));
        EXPECT_EQ(got.segments, expected.segments);
        EXPECT_EQ(got.shown, expected.shown);
      }
    }
  }
}
