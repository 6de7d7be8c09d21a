// Hostile input: sizes and shapes chosen to expose quadratic or unbounded work. No case has a
// time limit of its own: each is timed against a benign input of the same size in the same
// test, and fails only when it is many times slower (a quadratic path at these sizes is
// thousands of times slower), so a slow or busy machine slows both alike. Where the work can
// be counted (probe lengths, groups, bytes held), it is counted instead. The times are printed
// for tracking; the figures worth comparing come from bench/run.sh.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "demangle.h"
#include "document.h"
#include "dsym.h"
#include "mapfile.h"
#include "reports.h"
#include "support/best_of.h"
#include "support/tree_check.h"
#include "vorlith.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

using vorlith::MapFile;
using vorlith::Symbol;
using vorlith::TreeNode;

namespace {

// How many times slower than the benign input of the same size a hostile one may be. Linear
// paths stay within a hundred times (some shapes do more work per byte than any ordinary
// name); quadratic ones at these sizes are ten thousand times slower or more. The benign time
// counts as at least kBenignFloor seconds, so that a benign case too fast to time well cannot
// make one preempted hostile run look slow.
constexpr double kWideRatio = 500;
constexpr double kBenignFloor = 0.02;

constexpr size_t kMB = 1 << 20;

// Prints both times under `label` and fails when the hostile input took more than
// kWideRatio times as long as the benign one.
void expectNotFarSlower(std::string_view label, double hostile, double benign) {
  std::printf("[ hostile  ] %-58.*s %8.3f s (benign %8.3f s)\n", static_cast<int>(label.size()),
              label.data(), hostile, benign);
  EXPECT_LE(hostile, kWideRatio * std::max(benign, kBenignFloor))
      << label << ": " << hostile << " s against " << benign
      << " s for a benign input of the same size";
}

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t k = 0; k < times; ++k) {
    out.append(piece);
  }
  return out;
}

// The whole run short of the file: reader, tree and document. Returns the symbol count.
size_t runOnText(std::string text) {
  std::ostringstream echo;
  MapFile map(MapFile::FromText{}, std::move(text), echo);
  if (map.symbols.size() >= 2) {
    vorlith::SizeTree tree = vorlith::buildTree(map.symbols);
    const TreeNode& root = tree.root;
    EXPECT_EQ(treeFault(root), "");
    auto json = zel::utils::json::toJson(root);
    EXPECT_EQ(json.get().substr(0, 1), "{");
  }
  return map.symbols.size();
}

constexpr std::string_view kGnuSymbol = "                0x0000000000401000                ";
constexpr std::string_view kGnuNext = "                0x0000000000402000                next\n";

// About `size` bytes of ordinary lines that hold no symbol.
std::string benignText(size_t size) {
  constexpr std::string_view kLine =
      " .text          an ordinary line of a map that names no symbol at all\n";
  return repeat(kLine, size / kLine.size() + 1);
}

// A D name of `size` bytes made of ordinary pieces, the benign twin of the 1 MB names.
std::string benignName(size_t size) {
  std::string name = "_D";
  while (name.size() + 8 <= size) {
    name += "7abcdefg";
  }
  name.append(size - name.size(), 'Z');
  return name;
}

}  // namespace

TEST(Hostile, SingleLineOf100MB) {
  const size_t size = 100 * kMB;
  // 100 MB of ordinary lines: the reading that every case shares.
  const double benign = bestOf(1, [&] { runOnText(benignText(size)); });
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
    double took = bestOf(1, [&] { symbols = runOnText(std::move(c.text)); });
    expectNotFarSlower(c.label, took, benign);
    EXPECT_EQ(symbols, c.symbols);
  }
}

TEST(Hostile, NameOf1MB) {
  const size_t size = kMB;
  const std::string plain = benignName(size);
  // One classifier per set of rules for all the names, as a run keeps one for a whole map.
  vorlith::Classifier classic{vorlith::Settings{}};
  vorlith::Classifier modern{vorlith::readingSettings(true)};
  const double benignClassify = bestOf(3, [&] { (void)classic.classify(plain); });
  const double benignModern = bestOf(3, [&] { (void)modern.classify(plain); });
  const double benignDemangle = bestOf(3, [&] { (void)vorlith::demangle(plain); });
  struct Case {
    const char* label;
    std::string name;
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
      // in proportion to what it consumed and the name is filed as it stands.
      {"compressed name of 1 MB of 1023-byte references", longReferences},
      {"1 MB of parentheses and dots", repeat("(.) ", size / 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (vorlith::Classifier* classifier : {&classic, &modern}) {
      vorlith::NameText result;
      double took = bestOf(3, [&] { result = vorlith::toText(classifier->classify(c.name)); });
      expectNotFarSlower(
          std::string(c.label) + (classifier == &modern ? " (classify, modern)" : " (classify)"),
          took, classifier == &modern ? benignModern : benignClassify);
      EXPECT_FALSE(result.segments.empty());
    }
    double took = 0;
    std::string demangled;
    took = bestOf(3, [&] { demangled = vorlith::demangle(c.name); });
    expectNotFarSlower(std::string(c.label) + " (demangle)", took, benignDemangle);
    EXPECT_TRUE(demangled == c.name || !demangled.empty());
  }
}

TEST(Hostile, NameOf1MBThroughTheWholeRun) {
  // Names of many segments: the depth bound joins what lies past it into the leaf's name.
  auto mapOf = [](const std::string& name) {
    return std::string(kGnuSymbol) + name + "\n" + std::string(kGnuNext);
  };
  const std::string plainMap = mapOf(benignName(kMB));
  const double benign = bestOf(3, [&] { runOnText(plainMap); });
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
    std::string map = mapOf(c.name);
    double took = bestOf(3, [&] { symbols = runOnText(map); });
    expectNotFarSlower(std::string(c.label) + " (whole run)", took, benign);
    EXPECT_EQ(symbols, 2u);
  }
}

TEST(Hostile, MillionSymbolsWithOneNameInOneGroup) {
  const size_t count = 1000000;
  // The numbered names come first, so that every repeat of "x" must probe past all of them.
  std::vector<std::string> numbered;
  for (size_t k = 1; k <= count / 2; ++k) {
    numbered.push_back("x#" + std::to_string(k));
  }
  std::vector<std::string> distinct;
  for (size_t k = 0; k < count; ++k) {
    distinct.push_back("_foo_bar" + std::to_string(k));
  }
  std::vector<std::string_view> mixed(numbered.begin(), numbered.end());
  for (size_t k = 0; k < count / 2; ++k) {
    mixed.push_back("x");
  }
  struct Case {
    const char* label;
    std::vector<std::string_view> names;  // cycled through in order
  };
  const Case benign = {"a million distinct C names",
                       std::vector<std::string_view>(distinct.begin(), distinct.end())};
  const Case cases[] = {
      {"one D name a million times", {"_D3app3fooFZv"}},
      {"one C name a million times", {"_foo_bar"}},
      {"half a million taken numbers, then half a million repeats", mixed},
  };
  auto file = [count](const Case& c, double& buildSeconds, double& writeSeconds) {
    std::vector<Symbol> symbols;
    symbols.reserve(count);
    for (size_t k = 0; k < count; ++k) {
      symbols.push_back({0x1000 + 16 * k, c.names[k % c.names.size()], k});
    }
    vorlith::SizeTree tree;
    buildSeconds = bestOf(1, [&] { tree = vorlith::buildTree(symbols); });
    const TreeNode& root = tree.root;
    EXPECT_EQ(root.total, 16 * (count - 1));
    EXPECT_EQ(treeFault(root), "");
    size_t length = 0;
    writeSeconds = bestOf(1, [&] { length = zel::utils::json::toJson(root).get().size(); });
    EXPECT_GT(length, count);
  };
  double benignBuild = 0, benignWrite = 0;
  file(benign, benignBuild, benignWrite);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    double build = 0, write = 0;
    file(c, build, write);
    expectNotFarSlower(std::string(c.label) + " (buildTree)", build, benignBuild);
    expectNotFarSlower(std::string(c.label) + " (toJson)", write, benignWrite);
  }
}

// What a map tells of its D modules is found in one pass: a map of as many modules as symbols,
// each with a dotted name that may be a variable of it, costs about what as many C names cost.
TEST(Hostile, ModulesAsManyAsSymbols) {
  const size_t count = 100000;
  std::vector<std::string> modules;
  std::vector<std::string> plain;
  modules.push_back("a.o (.data)");
  plain.push_back("a.o (.data)");
  for (size_t k = 0; k < count; ++k) {
    std::string module = "m" + std::to_string(1000000 + k);
    modules.push_back("_D8" + module + "12__ModuleInfoZ");
    modules.push_back(module + ".x");
    plain.push_back("_foo_bar" + std::to_string(2 * k));
    plain.push_back("_foo_bar" + std::to_string(2 * k + 1));
  }
  auto file = [](const std::vector<std::string>& names) {
    std::vector<Symbol> symbols;
    for (size_t k = 0; k < names.size(); ++k) {
      symbols.push_back({0x1000 + 16 * k, names[k], k});
    }
    vorlith::Settings settings = vorlith::readingSettings(true);
    settings.jobs = 1;
    vorlith::SizeTree tree;
    double took = bestOf(1, [&] { tree = vorlith::buildTree(symbols, settings); });
    EXPECT_EQ(treeFault(tree.root), "");
    return std::make_pair(took, tree.root.children.size());
  };
  auto [benign, plainGroups] = file(plain);
  auto [hostile, groups] = file(modules);
  EXPECT_GT(groups, count);  // each module a group, its variable filed under it
  EXPECT_LT(plainGroups, 10u);
  expectNotFarSlower("100,000 modules and their variables (buildTree)", hostile, benign);
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
    const std::string plain = benignName(c.name.size());
    std::string demangled;
    double took = bestOf(3, [&] { demangled = vorlith::demangle(c.name); });
    expectNotFarSlower(std::string(c.label) + " (demangle)", took,
                       bestOf(3, [&] { (void)vorlith::demangle(plain); }));
    EXPECT_TRUE(demangled == c.name || !demangled.empty());
    std::vector<char> buffer;
    std::string_view viaBuffer = vorlith::demangle(c.name, buffer);
    EXPECT_EQ(viaBuffer, demangled);
    for (vorlith::Classifier* classifier : {&classic, &modern}) {
      vorlith::NameText result;
      took = bestOf(3, [&] { result = vorlith::toText(classifier->classify(c.name)); });
      expectNotFarSlower(
          std::string(c.label) + (classifier == &modern ? " (classify, modern)" : " (classify)"),
          took, bestOf(3, [&] { (void)classifier->classify(plain); }));
      EXPECT_FALSE(result.segments.empty());
    }
  }
}

TEST(Hostile, UnbalancedParenthesesInDemangledText) {
  const size_t size = kMB;
  // A qualified name of ordinary eight-byte components.
  const std::string plain = repeat("abcdefg.", size / 8);
  const double benign = bestOf(3, [&] { (void)vorlith::splitDemangled(plain); });
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
    double took = bestOf(3, [&] { segments = vorlith::splitDemangled(c.text); });
    expectNotFarSlower(c.label, took, benign);
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
    // Lines of the same length that no form takes: the same reading, none of the tests.
    std::string plain = repeat(std::string(c.line.size() - 1, 'x') + "\n", lines);
    const double benign = bestOf(1, [&] { runOnText(std::move(plain)); });
    size_t symbols = 1;
    double took = bestOf(1, [&] { symbols = runOnText(std::move(text)); });
    expectNotFarSlower(c.label, took, benign);
    EXPECT_EQ(symbols, 0u);
  }
}

namespace {

// Printable 16-byte names that all share one value of the standard library's fixed-seed
// string hash (64-bit MurmurHash2 as libstdc++ has it): the first eight bytes are chosen
// freely and the last eight solved for, since every step of that hash can be undone.
std::vector<std::string> namesCollidingUnderTheFixedSeedHash(size_t count) {
  constexpr uint64_t kMul = 0xc6a4a7935bd1e995ull;
  constexpr uint64_t kSeed = 0xc70f6907ull;
  uint64_t inverse = kMul;  // Newton's iteration for the inverse modulo 2^64
  for (int k = 0; k < 6; ++k) {
    inverse *= 2 - kMul * inverse;
  }
  auto shiftMix = [](uint64_t v) { return v ^ (v >> 47); };  // its own inverse
  auto mixWord = [&](uint64_t w) { return shiftMix(w * kMul) * kMul; };
  auto unmixWord = [&](uint64_t m) { return shiftMix(m * inverse) * inverse; };
  const uint64_t start = kSeed ^ (16 * kMul);
  const uint64_t target = 0x0123456789abcdefull;  // the state after the second word
  std::vector<std::string> names;
  for (uint64_t n = 0; names.size() < count; ++n) {
    char first[8] = {'k'};
    uint64_t digits = n;
    for (int i = 1; i < 8; ++i, digits /= 26) {
      first[i] = static_cast<char>('a' + digits % 26);
    }
    uint64_t w1;
    std::memcpy(&w1, first, 8);
    uint64_t afterFirst = (start ^ mixWord(w1)) * kMul;
    uint64_t w2 = unmixWord((target * inverse) ^ afterFirst);
    char second[8];
    std::memcpy(second, &w2, 8);
    bool printable = true;
    for (char c : second) {
      printable = printable && c >= '!' && c <= '~';
    }
    if (printable) {
      names.push_back(std::string(first, 8) + std::string(second, 8));
    }
  }
  return names;
}

std::vector<std::string> randomNames(size_t count, size_t length) {
  std::mt19937_64 random(12345);
  std::vector<std::string> names;
  for (size_t k = 0; k < count; ++k) {
    std::string name(length, ' ');
    for (char& c : name) {
      c = static_cast<char>('a' + random() % 26);
    }
    names.push_back(std::move(name));
  }
  return names;
}

// An ld64 map filing each name as a leaf of one group (the root).
std::string ld64MapOf(const std::vector<std::string>& names) {
  std::string text;
  uint64_t address = 0x1000;
  for (const std::string& name : names) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "0x%llX\t0x0\t[  1] ",
                  static_cast<unsigned long long>(address));
    text.append(prefix).append(name).append("\n");
    address += 16;
  }
  return text + "0x" + std::to_string(address + 16) + "\t0x0\t[  1] last\n";
}

}  // namespace

TEST(Hostile, NamesThatCollideUnderAFixedSeedHashProbeNoLongerThanRandomOnes) {
  const size_t count = 20000;
  const std::vector<std::string> colliding = namesCollidingUnderTheFixedSeedHash(count);
  // The names are what they claim: one value of the standard hash for all.
  const size_t fixed = std::hash<std::string_view>{}(colliding[0]);
  for (const std::string& name : colliding) {
    ASSERT_EQ(std::hash<std::string_view>{}(name), fixed) << name;
  }
  const std::vector<std::string> random = randomNames(count, 16);
  auto longestProbe = [](const std::vector<std::string>& names) {
    std::ostringstream echo;
    MapFile map(MapFile::FromText{}, ld64MapOf(names), echo);
    vorlith::SizeTree tree = vorlith::buildTree(map.symbols);
    const TreeNode& root = tree.root;
    EXPECT_EQ(root.leaves.size(), names.size());  // the last symbol only ends the one before
    return root.leaves.longestProbe();
  };
  const size_t hostile = longestProbe(colliding), benign = longestProbe(random);
  std::printf("[ hostile  ] longest probe: %zu for colliding names, %zu for random ones\n", hostile,
              benign);
  // Under the fixed-seed hash every colliding name probes past all before it (20,000 slots);
  // keyed, the longest probe of either set is a few dozen slots at most.
  EXPECT_LE(hostile, 4 * benign + 64);
  EXPECT_LE(benign, 200u);
}

namespace {

// A document of one group "g" holding a sub-group per name, each with one leaf, and a leaf per
// name in "g" itself: the shapes that a comparison's tables see at their largest.
vorlith::Document wideDocument(const std::vector<std::string>& names) {
  vorlith::Document doc;
  doc.groups.emplace_back();
  doc.groups.push_back({"g", 0, 0, vorlith::kNoGroup, vorlith::kNoGroup, vorlith::kNoGroup, 0, 0});
  doc.groups[0].firstChild = doc.groups[0].lastChild = 1;
  for (const std::string& name : names) {
    auto index = static_cast<uint32_t>(doc.groups.size());
    vorlith::DocGroup sub{doc.text->copy(name), 1, 1, vorlith::kNoGroup, vorlith::kNoGroup,
                          vorlith::kNoGroup, 0, 0};
    vorlith::DocGroup& parent = doc.groups[1];
    (parent.lastChild == vorlith::kNoGroup ? parent.firstChild
                                           : doc.groups[parent.lastChild].nextSibling) = index;
    parent.lastChild = index;
    doc.groups.push_back(sub);
  }
  doc.groups[1].firstLeaf = 0;
  for (const std::string& name : names) {
    doc.leaves.push_back({doc.text->copy(name), doc.text->copy(name), std::string_view(), 1, 1, 0,
                          &vorlith::kUnknownPlace});
  }
  doc.groups[1].leafCount = static_cast<uint32_t>(names.size());
  for (uint32_t g = 2; g < doc.groups.size(); ++g) {
    doc.groups[g].firstLeaf = static_cast<uint32_t>(doc.leaves.size());
    doc.groups[g].leafCount = 1;
    doc.leaves.push_back({std::string_view("x"), std::string_view("x"), std::string_view(), g, 1, 0,
                          &vorlith::kUnknownPlace});
  }
  return doc;
}

}  // namespace

// A group of 200,000 groups: each group's table is its own, so the slots the matching fills
// stay in proportion to the groups (a table cleared for every group once the wide one had
// grown it cost 200,000 slots each time, 7.7 s against 0.36 s).
TEST(Hostile, ComparisonWorkStaysInProportionToTheDocuments) {
  const size_t count = 200000;
  vorlith::Document wide = wideDocument(randomNames(count, 12));
  vorlith::Document same = wideDocument(randomNames(count, 12));
  vorlith::report::MatchWork work;
  vorlith::report::Matching m = vorlith::report::matchBuilds(wide, same, &work);
  EXPECT_EQ(std::count(m.oldLeafOf.begin(), m.oldLeafOf.end(), vorlith::report::kUnmatched), 0);
  const uint64_t size = wide.groups.size() + wide.leaves.size();
  std::printf("[ hostile  ] comparison of %llu groups and leaves: %llu table slots\n",
              static_cast<unsigned long long>(size),
              static_cast<unsigned long long>(work.tableSlots));
  EXPECT_LE(work.tableSlots, 8 * size);
}

// Names that share one value of the standard library's hash spread over the comparison's
// tables like random ones, and matching them takes about as long.
TEST(Hostile, ComparisonOfNamesThatCollideUnderAFixedSeedHash) {
  const size_t count = 20000;
  const std::vector<std::string> colliding = namesCollidingUnderTheFixedSeedHash(count);
  const std::vector<std::string> random = randomNames(count, 16);
  auto largestBucket = [](const std::vector<std::string>& names) {
    std::unordered_map<std::string_view, int, vorlith::report::NameHash> table;
    for (const std::string& name : names) {
      table.emplace(name, 0);
    }
    size_t largest = 0;
    for (size_t b = 0; b < table.bucket_count(); ++b) {
      largest = std::max(largest, table.bucket_size(b));
    }
    return largest;
  };
  const size_t hostile = largestBucket(colliding), benign = largestBucket(random);
  std::printf("[ hostile  ] largest bucket: %zu for colliding names, %zu for random ones\n",
              hostile, benign);
  EXPECT_LE(hostile, 4 * benign + 16);

  vorlith::Document a = wideDocument(colliding), b = wideDocument(colliding);
  vorlith::Document c = wideDocument(random), d = wideDocument(random);
  const double plain = bestOf(3, [&] { (void)vorlith::report::comparison(c, "c", d, "d", 20, nullptr); });
  const double took = bestOf(3, [&] { (void)vorlith::report::comparison(a, "a", b, "b", 20, nullptr); });
  expectNotFarSlower("comparison of 20,000 colliding names", took, plain);
}

namespace {

// Peak resident memory, in bytes, of one run of the executable on `map` with `options`: the tool
// as users run it (VORLITH_PLAIN_EXE), not one whose sanitizers keep shadow memory and freed
// blocks, started by peak_rss so that the size of this test's own process does not count.
// The same with the arguments `args` (the map and the output among them).
long peakMemoryOfArguments(const std::vector<std::string>& args) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return 0;
  }
  std::vector<const char*> argv{"peak_rss", VORLITH_PLAIN_EXE};
  for (const std::string& arg : args) {
    argv.push_back(arg.c_str());
  }
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeEnds[1], 1);
    ::close(pipeEnds[0]);
    ::execv(VORLITH_PEAK_RSS, const_cast<char* const*>(argv.data()));
    ::_exit(98);
  }
  ::close(pipeEnds[1]);
  std::string said;
  char buffer[64];
  for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    said.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << args.back() << ": status " << status;
  return std::atol(said.c_str());
}

long peakMemoryOfRun(const std::string& map, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = options;
  args.push_back(map);
  args.push_back("/dev/null");
  return peakMemoryOfArguments(args);
}

// "_D", 520 pieces "1<c>", then the valid UTF-8 sequence EC BF BF 7E `units` times: DMD's
// decoder reads it as a short reference and a 959-byte one, which would expand the name
// about 250-fold into "_D1c1c1c...", a name of as many groups as it has pieces.
std::string compressedBlowup(char c, size_t units) {
  std::string name = "_D";
  for (int k = 0; k < 520; ++k) {
    name += '1';
    name += c;
  }
  return name + repeat("\xEC\xBF\xBF\x7E", units);
}

}  // namespace

TEST(Hostile, MemoryStaysInProportionToTheMap) {
  // Peak memory at most 16 times the map plus 64 MiB (the tree's own allowance), where
  // unbounded filing took hundreds of times the map (2.4 GB for one compressed name of 69 KB);
  // the same with --modern, and with 64 naming threads, whose buffers are bounded too.
  const long kFixed = 64L << 20;
  const long kPerMapByte = 16;
  struct Case {
    const char* label;
    std::vector<std::string> names;
  };
  std::vector<Case> cases;
  cases.push_back({"one compressed name of 69 KB", {compressedBlowup('a', 17000)}});
  std::vector<std::string> several;
  for (char c = 'a'; c <= 'z'; ++c) {
    several.push_back(compressedBlowup(c, 17000));
  }
  cases.push_back({"26 compressed names of 69 KB", several});
  cases.push_back(
      {"one path 1,000,000 groups deep", {std::string("/").append(repeat("a/", 1000000))}});
  std::vector<std::string> paths;
  for (size_t k = 0; k < 4000; ++k) {
    std::string& path = paths.emplace_back("/");
    path.append(std::to_string(k)).append(repeat("/x", 500));
  }
  cases.push_back({"4,000 paths 500 groups deep", paths});
  std::vector<std::string> prefixes;
  for (size_t k = 0; k < 4000; ++k) {
    prefixes.push_back(std::to_string(k).append(": ").append(repeat("p: ", 300)).append("_main"));
  }
  cases.push_back({"4,000 names of 300 prefixes", prefixes});
  const std::string path = std::filesystem::temp_directory_path() /
                           ("vorlith-hostile-" + std::to_string(::getpid()) + ".map");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string text = ld64MapOf(c.names);
    {
      std::ofstream out(path, std::ios::binary);
      out << text;
    }
    // The bounds themselves, counted in the tree: no symbol deeper than the depth bound.
    std::ostringstream echo;
    MapFile map(MapFile::FromText{}, text, echo);
    vorlith::SizeTree tree = vorlith::buildTree(map.symbols);
    const TreeNode& root = tree.root;
    size_t deepest = 0;
    std::vector<std::pair<const TreeNode*, size_t>> pending{{&root, 0}};
    while (!pending.empty()) {
      auto [node, depth] = pending.back();
      pending.pop_back();
      deepest = std::max(deepest, depth);
      for (const auto& [key, child] : node->children) {
        pending.push_back({&child, depth + 1});
      }
    }
    EXPECT_LE(deepest, vorlith::kMaxGroupsPerSymbol);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"--modern"}, {"--modern", "--jobs=64"}}) {
      long peak = peakMemoryOfRun(path, options);
      std::string mode = options.empty() ? "" : options.back();
      std::printf("[ hostile  ] %-40s %-9s map %8zu bytes, peak %10ld bytes\n", c.label,
                  mode.c_str(), text.size(), peak);
      EXPECT_GT(peak, 0);
      EXPECT_LE(peak, kPerMapByte * static_cast<long>(text.size()) + kFixed) << mode;
    }
  }
  std::filesystem::remove(path);
}

TEST(PeakMemory, StaysWithinTwiceTheMapOnAnLdLldDMap) {
  // A real ld.lld map of a D program with a static Phobos (4.4 MB, tests/data/peak): its
  // symbols and their end markers, input sections and paddings, long D names shown demangled.
  // The run's peak, less that of a run on a map of a few KB (the program itself, its libraries
  // and its fixed buffers), is the memory that grows with the map: at most twice the map, on
  // one naming thread and on two. Peaks of 2.6 and 3.3 times this map came from end markers
  // and paddings that kept their own copies of their entries' names, the symbol list kept
  // whole to the end, and lists and buffers held with much room to spare.
  const std::string map = std::string(VORLITH_TEST_DATA) + "/peak/gdc-lld-phobos.map";
  const std::string small = std::string(VORLITH_TEST_DATA) + "/lld-gdc.map";
  const auto mapBytes = static_cast<long>(std::filesystem::file_size(map));
  ASSERT_GT(mapBytes, 4'000'000);
  ASSERT_LT(static_cast<long>(std::filesystem::file_size(small)), 100'000);
  for (const char* jobs : {"--jobs=1", "--jobs=2"}) {
    const std::vector<std::string> options{"--modern", jobs};
    const long fixed = peakMemoryOfRun(small, options);
    const long peak = peakMemoryOfRun(map, options);
    std::printf("[ peak     ] %-8s map %8ld bytes, peak %10ld bytes, %ld on a small map\n", jobs,
                mapBytes, peak, fixed);
    EXPECT_GT(fixed, 0) << jobs;
    EXPECT_LE(peak - fixed, 2 * mapBytes) << jobs;
  }
}

TEST(PeakMemory, TheReportsHoldABaseDocumentsSymbolsNotItsText) {
  // A base document is read a piece at a time and only its symbols stay. Two bases of the same
  // symbols, one of them with 48 MiB of spaces between its members, cost a run the same memory
  // within 8 MiB; were the text held, the spaces alone would take 48 MiB more. So it is for a
  // base read after the document is written to its file and for one read before the document
  // goes to standard output, with the summary, the CSV and the page. (A base read before the
  // document, for a page, is held whole as it always was.)
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vorlith-peak-base-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string map = std::string(VORLITH_TEST_DATA) + "/peak/gdc-lld-phobos.map";
  const std::string base = dir / "base.json";
  const std::string padded = dir / "padded.json";
  EXPECT_GT(peakMemoryOfArguments({"--modern", map, base}), 0);
  std::string text;
  {
    std::ifstream in(base, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(text.size(), size_t{1} << 20);
  constexpr size_t kSpaces = size_t{48} << 20;
  {
    // Spaces between the members of the root, before its first group.
    const size_t at = text.find("\"total\"");
    ASSERT_NE(at, std::string::npos);
    std::ofstream out(padded, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(at));
    const std::string spaces(size_t{1} << 20, ' ');
    for (size_t k = 0; k < kSpaces / spaces.size(); ++k) {
      out.write(spaces.data(), static_cast<std::streamsize>(spaces.size()));
    }
    out.write(text.data() + at, static_cast<std::streamsize>(text.size() - at));
  }
  const std::string output = dir / "size.json";
  const std::string csv = "--csv=" + (dir / "size.csv").string();
  const std::string page = "--html=" + (dir / "size.html").string();
  struct Case {
    const char* label;
    std::vector<std::string> options;
    std::string output;
  } cases[] = {
      {"after the document", {"--summary", csv, page}, output},
      {"before the document", {"--summary", csv}, "-"},
  };
  for (const Case& c : cases) {
    long peaks[2] = {};
    for (int padding = 0; padding < 2; ++padding) {
      std::vector<std::string> args{"--modern", "--base=" + (padding == 0 ? base : padded)};
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.push_back(map);
      args.push_back(c.output);
      peaks[padding] = peakMemoryOfArguments(args);
    }
    std::printf("[ peak     ] base %-20s %10ld bytes, with %zu bytes of spaces %10ld\n", c.label,
                peaks[0], kSpaces, peaks[1]);
    EXPECT_GT(peaks[0], 0) << c.label;
    EXPECT_LT(peaks[1] - peaks[0], 8L << 20) << c.label;
  }
  std::filesystem::remove_all(dir);
}

namespace {

// The longest probe of any map in the tree: how far hashing clustered, counted, not timed.
size_t longestProbeInTree(const TreeNode& root) {
  size_t longest = 0;
  std::vector<const TreeNode*> pending{&root};
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    longest = std::max({longest, node->children.longestProbe(), node->leaves.longestProbe()});
    for (const auto& [key, child] : node->children) {
      pending.push_back(&child);
    }
  }
  return longest;
}

// The most entries any one map of the tree holds, groups and leaves apart.
std::pair<size_t, size_t> widestGroup(const TreeNode& root) {
  size_t children = 0, leaves = 0;
  std::vector<const TreeNode*> pending{&root};
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    children = std::max(children, node->children.size());
    leaves = std::max(leaves, node->leaves.size());
    for (const auto& [key, child] : node->children) {
      pending.push_back(&child);
    }
  }
  return {children, leaves};
}

// A GNU ld map of `count` contributions of `size` bytes, one every `step` bytes, each from
// the object file that `object` names: where `step` exceeds `size`, each one is followed by
// padding, which its end marker files under "Afterpadding".
std::string gnuContributions(size_t count, uint64_t size, uint64_t step,
                             const std::function<std::string(size_t)>& object) {
  std::string text;
  char line[96];
  for (size_t k = 0; k < count; ++k) {
    std::snprintf(line, sizeof line, " .text          0x%016llx %#10llx ",
                  static_cast<unsigned long long>(0x1000 + step * k),
                  static_cast<unsigned long long>(size));
    text.append(line).append(object(k)).append("\n");
  }
  std::snprintf(line, sizeof line, " .text          0x%016llx %#10llx end.o\n",
                static_cast<unsigned long long>(0x1000 + step * count), 0x10ull);
  return text.append(line);
}

}  // namespace

TEST(Hostile, TreeShapesCostInProportionToTheirSize) {
  // Each shape is filed from a map of the same number of lines as a benign one, where every
  // group holds few entries under distinct names. Besides the times, the work is counted: the
  // shape is what it claims (one map holds them all), and no map of the tree probes far, as
  // one would whose keys all hashed alike ("x", "x#1", "x#2" ... or a million groups).
  struct Case {
    const char* label;
    size_t count;  // contributions in the map
    uint64_t step;
    std::function<std::string(size_t)> object;
    size_t widest;  // the entries, groups or leaves, that one map of the tree holds at least
  };
  const std::string longPrefix = "/" + std::string(16 << 10, 'a') + "/";
  const Case cases[] = {
      {"a million leaves of one name, numbered", 1000000, 0x10,
       [](size_t) { return std::string("/lib/same.o"); }, 999999},
      {"300,000 directories in one", 300000, 0x10,
       [](size_t k) { return "/lib/" + std::to_string(k) + "/x.o"; }, 200000},
      {"2,000 names of 16 KB alike but for their ends", 2000, 0x10,
       [&longPrefix](size_t k) { return longPrefix + std::to_string(k) + ".o"; }, 2000},
      {"300,000 end markers of one name", 300000, 0x20,
       [](size_t) { return std::string("/lib/same.o"); }, 299999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string hostile = gnuContributions(c.count, 0x10, c.step, c.object);
    // The benign twin: as many lines, names as long, a few objects to a directory.
    const size_t nameSize = c.object(0).size();
    const std::string benign = gnuContributions(c.count, 0x10, 0x10, [nameSize](size_t k) {
      std::string name = "/d" + std::to_string(k / 4096) + "/e" + std::to_string(k / 4 % 1024) +
                         "/" + std::to_string(k % 4) + "-";
      return name.append(nameSize > name.size() + 2 ? nameSize - name.size() - 2 : 0, 'b') + ".o";
    });
    double benignTime = 0, hostileTime = 0;
    for (const std::string* text : {&benign, &hostile}) {
      std::ostringstream echo;
      std::optional<MapFile> map;
      vorlith::SizeTree tree;
      size_t length = 0;
      double took = bestOf(1, [&] {
        map.emplace(MapFile::FromText{}, *text, echo);
        tree = vorlith::buildTree(map->symbols);
        length = zel::utils::json::toJson(tree.root).get().size();
      });
      EXPECT_GT(length, c.count);
      EXPECT_EQ(treeFault(tree.root), "");
      const size_t probe = longestProbeInTree(tree.root);
      EXPECT_LE(probe, 200u) << (text == &benign ? "benign" : "hostile");
      if (text == &hostile) {
        hostileTime = took;
        auto [children, leaves] = widestGroup(tree.root);
        EXPECT_GE(std::max(children, leaves), c.widest);
        std::printf("[ hostile  ] %-58s widest group: %zu groups, %zu leaves; probe %zu\n", c.label,
                    children, leaves, probe);
      } else {
        benignTime = took;
      }
    }
    expectNotFarSlower(c.label, hostileTime, benignTime);
  }
}
