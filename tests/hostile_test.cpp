// Hostile input: sizes and shapes chosen to expose quadratic or unbounded work, each run under
// a time limit generous enough that a slow, loaded CI machine cannot miss it, while a quadratic
// path (hours at these sizes) still fails it. The time each case took is printed, for tracking;
// the figures worth comparing come from bench/run.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "demangle.h"
#include "dsym.h"
#include "mapfile.h"
#include "vorlith.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

using vorlith::MapFile;
using vorlith::Symbol;
using vorlith::TreeNode;

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORLITH_HOSTILE_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORLITH_HOSTILE_UNDER_ASAN 1
#endif

// For inputs of 100 MB or a million items; linear work takes a second or two here. Names of
// 1 MB take milliseconds when linear and minutes when quadratic, so their limit is tighter.
#ifdef VORLITH_HOSTILE_UNDER_ASAN
constexpr double kLimitSeconds = 60;  // shadow memory and checks make every byte dearer
constexpr double kNameLimitSeconds = 5;
#else
constexpr double kLimitSeconds = 20;
constexpr double kNameLimitSeconds = 1;
#endif

constexpr size_t kMB = 1 << 20;

// Runs `fn`, prints how long it took under `label` and fails past `limit` seconds.
template <typename Fn>
void expectFast(std::string_view label, Fn&& fn, double limit = kLimitSeconds) {
  auto start = std::chrono::steady_clock::now();
  fn();
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("[ hostile  ] %-58.*s %8.3f s\n", static_cast<int>(label.size()), label.data(),
              took.count());
  EXPECT_LT(took.count(), limit) << label;
}

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t k = 0; k < times; ++k) {
    out.append(piece);
  }
  return out;
}

// Every node's total is the sum of its groups' totals and its leaves' sizes. Iterative: these
// trees are as deep as a name has segments, far deeper than a recursive checker's stack allows.
void expectTotalsAddUp(const TreeNode& root) {
  std::vector<const TreeNode*> pending{&root};
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    uint64_t sum = 0;
    for (const auto& [name, child] : node->children) {
      sum += child.total;
      pending.push_back(&child);
    }
    for (const auto& [key, leaf] : node->leaves) {
      sum += leaf.size;
    }
    ASSERT_EQ(node->total, sum);
  }
}

// The whole run short of the file: reader, tree and document. Returns the symbol count.
size_t runOnText(std::string text) {
  std::ostringstream echo;
  MapFile map(MapFile::FromText{}, std::move(text), echo);
  if (map.symbols.size() >= 2) {
    TreeNode root = vorlith::buildTree(map.symbols);
    expectTotalsAddUp(root);
    auto json = zel::utils::json::toJson(root);
    EXPECT_EQ(json.get().substr(0, 1), "{");
  }
  return map.symbols.size();
}

constexpr std::string_view kGnuSymbol = "                0x0000000000401000                ";
constexpr std::string_view kGnuNext = "                0x0000000000402000                next\n";

}  // namespace

TEST(Hostile, SingleLineOf100MB) {
  const size_t size = 100 * kMB;
  struct Case {
    const char* label;
    std::string text;
    size_t symbols;
  };
  std::vector<Case> cases;
  cases.push_back({"100 MB of one byte, no line feed", std::string(size, 'a'), 0});
  cases.push_back({"100 MB of invalid UTF-8", std::string(size, '\xE9'), 0});
  cases.push_back(
      {"GNU symbol line, 100 MB name of doubled spaces",
       std::string(kGnuSymbol) + repeat("ab  ", size / 4) + "\n" + std::string(kGnuNext), 2});
  cases.push_back(
      {"GNU symbol line, 100 MB C name",
       std::string(kGnuSymbol) + "_" + std::string(size, 'c') + "\n" + std::string(kGnuNext), 2});
  cases.push_back(
      {"ld64 row, 100 MB name", "0x1000\t0x10\t[  1] _" + std::string(size, 'm') + "\n", 2});
  cases.push_back({"Publics row, 100 MB name",
                   "  Address         Publics by Value              Rva+Base\n"
                   " 0001:00000000       _" +
                       std::string(size, 'p') + " 0000000140001000 f app.obj\n" +
                       " 0001:00000010       _next 0000000140001010 f app.obj\n",
                   2});
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    size_t symbols = 0;
    expectFast(c.label, [&] { symbols = runOnText(std::move(c.text)); });
    EXPECT_EQ(symbols, c.symbols);
  }
}

TEST(Hostile, NameOf1MB) {
  const size_t size = kMB;
  struct Case {
    const char* label;
    std::string name;
    double limit = kNameLimitSeconds;
  };
  std::string longReferences = std::string(1023, 'r');
  // Three-byte references of the greatest length and distance, 1023 bytes each.
  longReferences += repeat("\xBF\xFF\xFF", (size - longReferences.size()) / 3);
  const Case cases[] = {
      {"D name of 500,000 pieces", "_D" + repeat("1a", size / 2)},
      {"D name of one 1 MB piece", "_D" + std::to_string(size) + std::string(size, 'a')},
      {"D name of one 1 MB length prefix", "_D" + std::string(size, '9')},
      {"D name of 1 MB of template instance openings", "_D" + repeat("5__T1a", size / 6)},
      {"C++ name of 500,000 pieces", "_ZN" + repeat("1a", size / 2) + "Ev"},
      {"Microsoft name of 500,000 scopes", "?" + repeat("a@", size / 2) + "@QAEXXZ"},
      {"object path of 500,000 directories", repeat("/a", size / 2) + " (.text)"},
      {"object path of 500,000 '..'", "/" + repeat("../", size / 3)},
      {"333,000 'app.obj: ' prefixes", repeat("a: ", size / 3) + "_main"},
      {"compressed name of 1 MB of short references", "ab" + std::string(size, '\xC9')},
      // Would decode to 341 MB, the most DMD's references can make of 1 MB; the decoder stops
      // at 16 MB and the name is filed as it stands.
      {"compressed name of 1 MB of 1023-byte references", longReferences},
      {"1 MB of parentheses and dots", repeat("(.) ", size / 4)},
  };
  // One classifier per set of rules for all the names, as a run keeps one for a whole map.
  vorlith::Classifier classic{vorlith::Settings{}};
  vorlith::Classifier modern{vorlith::readingSettings(true)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (vorlith::Classifier* classifier : {&classic, &modern}) {
      vorlith::NameResult result;
      expectFast(
          std::string(c.label) + (classifier == &modern ? " (classify, modern)" : " (classify)"),
          [&] { result = classifier->classify(c.name); }, c.limit);
      EXPECT_FALSE(result.segments.empty());
    }
    std::string demangled;
    expectFast(
        std::string(c.label) + " (demangle)", [&] { demangled = vorlith::demangle(c.name); },
        c.limit);
    EXPECT_TRUE(demangled == c.name || !demangled.empty());
  }
}

TEST(Hostile, NameOf1MBThroughTheWholeRun) {
  // Names of many segments make a tree as deep as they have segments: the writer and the
  // tree's destructor must not need a stack frame per level.
  const struct {
    const char* label;
    std::string name;
  } cases[] = {
      {"object path of 500,000 directories", repeat("/a", kMB / 2)},
      {"D name of 500,000 pieces", "_D" + repeat("1a", kMB / 2)},
      {"333,000 prefixes", repeat("a: ", kMB / 3) + "_main"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    size_t symbols = 0;
    std::string map = std::string(kGnuSymbol) + c.name + "\n" + std::string(kGnuNext);
    expectFast(
        std::string(c.label) + " (whole run)", [&] { symbols = runOnText(map); },
        kNameLimitSeconds);
    EXPECT_EQ(symbols, 2u);
  }
}

TEST(Hostile, MillionSymbolsWithOneNameInOneGroup) {
  const size_t count = 1000000;
  struct Case {
    const char* label;
    std::vector<std::string_view> names;  // cycled through in order
  };
  // The numbered names come first, so that every repeat of "x" must probe past all of them.
  std::vector<std::string> numbered;
  for (size_t k = 1; k <= count / 2; ++k) {
    numbered.push_back("x#" + std::to_string(k));
  }
  std::vector<std::string_view> mixed(numbered.begin(), numbered.end());
  for (size_t k = 0; k < count / 2; ++k) {
    mixed.push_back("x");
  }
  const Case cases[] = {
      {"one D name a million times", {"_D3app3fooFZv"}},
      {"one C name a million times", {"_foo_bar"}},
      {"half a million taken numbers, then half a million repeats", mixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<Symbol> symbols;
    symbols.reserve(count);
    for (size_t k = 0; k < count; ++k) {
      symbols.push_back({0x1000 + 16 * k, c.names[k % c.names.size()], k});
    }
    TreeNode root;
    expectFast(std::string(c.label) + " (buildTree)", [&] { root = vorlith::buildTree(symbols); });
    EXPECT_EQ(root.total, 16 * (count - 1));
    expectTotalsAddUp(root);
    size_t length = 0;
    expectFast(std::string(c.label) + " (toJson)",
               [&] { length = zel::utils::json::toJson(root).get().size(); });
    EXPECT_GT(length, count);
  }
}

TEST(Hostile, TemplateArgumentsNested100000Deep) {
  const size_t depth = 100000;
  // Length-prefixed instances, each the only piece of the one around it: level k is
  // "__T" + length of level k-1 + level k-1 + "Z", around "1a". Built outside in from the
  // lengths, since wrapping the text level by level would copy it 100,000 times.
  std::vector<size_t> lengths{2};
  for (size_t k = 0; k < depth; ++k) {
    lengths.push_back(3 + std::to_string(lengths.back()).size() + lengths.back() + 1);
  }
  std::string prefixed;
  prefixed.reserve(lengths.back());
  for (size_t k = depth; k > 0; --k) {
    prefixed.append("__T").append(std::to_string(lengths[k - 1]));
  }
  prefixed.append("1a").append(depth, 'Z');
  ASSERT_EQ(prefixed.size(), lengths.back());
  struct Case {
    const char* label;
    std::string name;
  };
  const Case cases[] = {
      {"struct template instances as type arguments",
       "_D3app" + repeat("__T3BoxTS3app", depth) + "i" + repeat("Z", depth) + "3getFZi"},
      {"length-prefixed instances", "_D" + std::to_string(prefixed.size()) + prefixed + "3getFZi"},
      {"pointer type PPPP...i", "_D3app3fooFP" + std::string(depth, 'P') + "iZv"},
      {"array type AAAA...i", "_D3app3fooF" + std::string(depth, 'A') + "iZv"},
      {"associative array type HHHH...i",
       "_D3app3fooF" + std::string(depth, 'H') + std::string(depth + 1, 'i') + "Zv"},
      {"function types as parameters",
       "_D3app3fooF" + repeat("PF", depth) + "i" + repeat("Zv", depth) + "Zv"},
      {"function types as return types", "_D3app3fooFZ" + repeat("PFZ", depth) + "v"},
  };
  // One classifier per set of rules for all the names, as a run keeps one for a whole map.
  vorlith::Classifier classic{vorlith::Settings{}};
  vorlith::Classifier modern{vorlith::readingSettings(true)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string demangled;
    expectFast(std::string(c.label) + " (demangle)",
               [&] { demangled = vorlith::demangle(c.name); });
    EXPECT_TRUE(demangled == c.name || !demangled.empty());
    std::vector<char> buffer;
    std::string_view viaBuffer;
    expectFast(std::string(c.label) + " (demangle, buffer)",
               [&] { viaBuffer = vorlith::demangle(c.name, buffer); });
    EXPECT_EQ(viaBuffer, demangled);
    for (vorlith::Classifier* classifier : {&classic, &modern}) {
      vorlith::NameResult result;
      expectFast(
          std::string(c.label) + (classifier == &modern ? " (classify, modern)" : " (classify)"),
          [&] { result = classifier->classify(c.name); });
      EXPECT_FALSE(result.segments.empty());
    }
  }
}

TEST(Hostile, UnbalancedParenthesesInDemangledText) {
  const size_t size = kMB;
  struct Case {
    const char* label;
    std::string text;
    bool split;  // what splitDemangled answers
  };
  const Case cases[] = {
      {"1 MB of '(' then a name", std::string(size, '(') + "a.b c.d", true},
      {"1 MB of ')' then a name", std::string(size, ')') + "a.b c.d", true},
      {"a name then 1 MB of '('", "void app.run" + std::string(size, '('), true},
      {"alternating ')(' with dots and spaces", repeat(").( ", size / 4), true},
      {"1 MB of dots", std::string(size, '.'), true},
      {"one dot-separated component per two bytes", repeat("a.", size / 2), true},
      {"raw template instance after unbalanced text", std::string(size, ')') + "x.__T3BoxTiZ.y",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<std::vector<std::string>> segments;
    expectFast(c.label, [&] { segments = vorlith::splitDemangled(c.text); });
    EXPECT_EQ(segments.has_value(), c.split);
    if (segments) {
      EXPECT_FALSE(segments->empty());
    }
  }
}

TEST(Hostile, MillionLinesThatFailOneFormsColumnTests) {
  const size_t lines = 1000000;
  constexpr std::string_view kHeading =
      "  Address         Publics by Value              Rva+Base               Lib:Object\n";
  struct Case {
    const char* label;
    std::string_view heading;
    std::string_view line;
  };
  const Case cases[] = {
      {"Publics rows with no ':' in column 5", kHeading,
       " 0001-00000000       _main                      0000000140001000 f   app.obj\n"},
      {"Publics rows of one token", kHeading,
       " 0001:00000000       _main_________________________________________\n"},
      {"GNU rows with no \" 0x\" in column 15", "",
       " .text          0y0000000000401000      0x630 app.o\n"},
      {"GNU rows with only blanks after the \"0x\"", "",
       " .text          0x                                                       \n"},
      {"GNU .comment rows", "", " .comment       0x0000000000000000       0x1f app.o\n"},
      {"GNU assignments", "",
       "                0x0000000000401000                . = ALIGN (0x8)\n"},
      {"ld64 rows without '['", "", "0x100003F30\t0x00000020\t_main has no file number\n"},
      {"ld64 rows with a third tab", "", "0x100003F30\t0x00000020\t[  1] _main\textra\n"},
      {"tabs and spaces everywhere", "", "\t \t \t \t \t \t \t \t \t \t \t \t \t \t \t \t \t\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string text = std::string(c.heading) + repeat(c.line, lines);
    size_t symbols = 1;
    expectFast(c.label, [&] { symbols = runOnText(std::move(text)); });
    EXPECT_EQ(symbols, 0u);
  }
}
