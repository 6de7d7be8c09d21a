// Names that the demanglers cannot read: each failure comes back as a status where it arises,
// the classic fallbacks (the input unchanged, a template instance's raw identifier, a restart in
// a larger buffer) are what they always were, and no name and no real map throws an exception.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "demangle.h"
#include "demangle_current.h"
#include "demangle_current_internal.h"
#include "demangle_internal.h"
#include "dsym.h"
#include "options.h"
#include "support/exceptions_thrown.h"
#include "vorlith.h"

namespace vorlith {
namespace {

namespace fs = std::filesystem;
using demangler::Demangle;
using demangler::Failure;

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

// "_D3pkg" + a template instance "b" with the given arguments + "1xi", length prefix computed.
std::string templateName(std::string_view args) {
  std::string id = "__T1b" + std::string(args) + "Z";
  return "_D3pkg" + std::to_string(id.size()) + id + "1xi";
}

// One classic name: the failure its first parse stops on, and what demangle makes of it.
struct ClassicCase {
  std::string what;
  std::string name;
  Failure failure;
  std::string result;  // "=": the name unchanged
};

std::vector<ClassicCase> classicCases() {
  std::string longArguments = repeat("i", 1000);  // "int, " 1000 times: past 4000 bytes
  std::string longRendering = "void pkg.foo(" + repeat("int, ", 999) + "int)";
  std::string longTemplate = repeat("Ti", 1000);
  std::string longInstance = "int pkg.b!(" + repeat("int, ", 999) + "int).x";
  std::string deep = repeat("P", 1001) + "i";
  return {
      // Failures that end the name: it comes back unchanged.
      {"no type after the name", "_D3pkg", Failure::Parse, "="},
      {"no D after the underscore", "_X3pkg1xi", Failure::Parse, "="},
      {"identifier length 0", "_D0ab1xi", Failure::Parse, "="},
      {"identifier longer than the rest", "_D9pkg1xi", Failure::Parse, "="},
      {"identifier byte refused", "_D3p-g1xi", Failure::Parse, "="},
      {"identifier's first byte refused", "_D3-kg1xi", Failure::Parse, "="},
      {"length beyond 32 bits", "_D4294967296x1xi", Failure::Parse, "="},
      {"N neither g nor e", "_D3pkg1xNzi", Failure::Parse, "="},
      {"no type letter", "_D3pkg1xz", Failure::Parse, "="},
      {"attribute letter refused", "_D3pkg3fooFNzZv", Failure::Parse, "="},
      {"end inside the parameters", "_D3pkg3fooFi", Failure::Parse, "="},
      {"no return type", "_D3pkg3fooFZ", Failure::Parse, "="},
      {"bytes after the type", "_D3pkg1xi!", Failure::Parse, "="},
      {"deeper than the bound", "_D3pkg1x" + deep, Failure::Limit, "="},
      // A template instance that holds the failure comes out as its raw identifier; the name
      // as a whole is read.
      {"value i without digits", templateName("Vii"), Failure::None, "int pkg.__T1bViiZ.x"},
      {"value letter refused", templateName("Viq"), Failure::None, "int pkg.__T1bViqZ.x"},
      {"real without a hex digit", templateName("VeP0"), Failure::None, "int pkg.__T1bVeP0Z.x"},
      {"string byte not hex", templateName("Vaa1_6g"), Failure::None, "int pkg.__T1bVaa1_6gZ.x"},
      {"string length beyond 32 bits", templateName("Vaa4294967296_"), Failure::None,
       "int pkg.__T1bVaa4294967296_Z.x"},
      {"real longer than its scratch", templateName("Ve1" + repeat("0", 70) + "P0"), Failure::None,
       "int pkg.__T1bVe1" + repeat("0", 70) + "P0Z.x"},
      {"argument letter refused", templateName("TiX"), Failure::None, "int pkg.__T1bTiXZ.x"},
      // A full buffer is no reason to fall back: the parse starts again in a larger one, inside
      // a template instance too.
      {"rendering past the first buffer", "_D3pkg3fooF" + longArguments + "Zv", Failure::Overflow,
       longRendering},
      {"instance past the first buffer", templateName(longTemplate), Failure::Overflow,
       longInstance},
      // A bound reached inside an instance ends the whole name, not just the instance.
      {"instance deeper than the bound", templateName("T" + deep), Failure::Limit, "="},
  };
}

TEST(DemangleStatus, ClassicFailuresAreReturnedAndFallBackAsBefore) {
  for (const ClassicCase& c : classicCases()) {
    SCOPED_TRACE(c.what);
    Demangle parser(c.name);
    parser.parseMangledName();
    EXPECT_EQ(parser.failureKind(), c.failure);
    EXPECT_EQ(demangle(c.name), c.result == "=" ? c.name : c.result);
  }
}

// Names of the current ABI that fail at each step that can refuse them. None is filed by these
// rules; the classifier then files it by the classic ones.
struct CurrentCase {
  std::string_view what;
  std::string name;
};

std::vector<CurrentCase> currentCases() {
  return {
      {"no type after the name", "_D3pkg"},
      {"back reference of distance 0", "_D3pkg1xQa"},
      {"back reference before the start", "_D3pkg1xQz"},
      {"back reference not a letter", "_D3pkg1xQ1"},
      {"back reference to no type", "_D3pkg1xQg"},
      {"identifier longer than the rest", "_D9pkg1xi"},
      {"identifier byte refused", "_D3p-g1xi"},
      {"number beyond 64 bits", "_D99999999999999999999999pkg1xi"},
      {"instance neither __T nor __U", "_D__X3fooZ1xi"},
      {"argument letter refused", "_D3pkg__T3fooJZ1xi"},
      {"instance shorter than its length", "_D3pkg11__T3fooTiZ1xi"},
      {"raw argument past the end", "_D3pkg__T3fooX99abcZ1xi"},
      {"symbol argument that fails", "_D3pkg__T3fooS5_D3bxZ1xi"},
      {"N neither h nor n", "_D3pkg1xNzi"},
      {"z neither i nor k", "_D3pkg1xzz"},
      {"no type letter", "_D3pkg1x!"},
      {"delegate without a function", "_D3pkg1xDi"},
      {"value letter refused", "_D3pkg__T3fooVi!Z1xi"},
      {"float without a hex digit", "_D3pkg__T3fooVdeZZ1xi"},
      {"exponent beyond any float", "_D3pkg__T3fooVde1P999999Z1xi"},
      {"string longer than the rest", "_D3pkg__T3fooVAyaa9_61Z1xi"},
      {"string byte not hex", "_D3pkg__T3fooVAyaa1_6gZ1xi"},
      {"integer beyond 64 bits", "_D3pkg__T3fooVii99999999999999999999999Z1xi"},
      {"deeper than the bound", "_D3pkg1x" + repeat("P", 401) + "i"},
      {"bytes after the type", "_D3pkg1xii"},
      {"type info of no type", "_D12TypeInfo_Qz6__initZ"},
  };
}

TEST(DemangleStatus, CurrentFailuresAreReturned) {
  Classifier classic{Settings{}};
  Settings modernSettings;
  modernSettings.modern = true;
  Classifier modern{modernSettings};
  for (const CurrentCase& c : currentCases()) {
    SCOPED_TRACE(c.what);
    currentd::Budget budget(c.name.size());
    currentd::Workspace work;
    currentd::CurrentParser parser(std::string_view(c.name).substr(2), budget, work);
    (void)parser.parseSymbol();
    if (!c.name.starts_with("_D12TypeInfo_")) {
      EXPECT_TRUE(parser.failed);
    }
    EXPECT_EQ(budget.depth, 0u) << "every level closed on the way out";
    EXPECT_FALSE(classifyCurrentD(c.name).has_value());
    EXPECT_FALSE(demangleCurrent(c.name).has_value());
    // The classic rules take the name over: in --modern too, apart from the group of names no
    // rule takes.
    NameResult old = classic.classify(c.name);
    NameResult now = modern.classify(c.name);
    EXPECT_EQ(now.shown, old.shown);
  }
}

// A failed attempt that another reading follows leaves nothing behind: a parent function looked
// for where there is none, and back references probed that are none.
TEST(DemangleStatus, CurrentRecoveriesReadOn) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      // 'M' then no function type: the look-ahead fails, the symbol's own type reads it.
      {"_D3app1S3fooMxFZv", "void app.S.foo() const"},
      // A function type followed by no name: the symbol's own type, read once.
      {"_D3app3fooFiZv", "void app.foo(int)"},
      // A parent function: its parameters stay in the name.
      {"_D3app5outerFiZ5inneri", "int app.outer(int).inner"},
  };
  for (const auto& [name, shown] : cases) {
    SCOPED_TRACE(name);
    std::optional<std::string> text = demangleCurrent(name);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, shown);
  }
}

// ---- No exceptions ------------------------------------------------------------------------

// A map of the GNU ld form whose symbols are `names`, one every 16 bytes.
std::string gnuMap(const std::vector<std::string>& names) {
  std::ostringstream map;
  map << "Memory Configuration\n\nLinker script and memory map\n\n";
  map << " .text          0x0000000000401000     0x" << std::hex << 16 * (names.size() + 1)
      << " app.o\n";
  uint64_t address = 0x401000;
  for (const std::string& name : names) {
    char line[64];
    std::snprintf(line, sizeof line, "                0x%016llx                ",
                  static_cast<unsigned long long>(address));
    map << line << name << "\n";
    address += 16;
  }
  return map.str();
}

class DemangleNoExceptions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!countingExceptions()) {
      GTEST_SKIP() << "exceptions cannot be counted with this C++ runtime";
    }
    dir_ = fs::temp_directory_path() / ("vorlith-status-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool in this process on `map` in both modes (or only with --modern, for the maps
  // only it reads), with one thread and with two, and returns the exceptions thrown meanwhile;
  // every run must succeed.
  size_t thrownByRuns(const fs::path& map, bool classicToo = true) {
    size_t before = exceptionsThrown();
    for (std::string_view mode :
         {"--jobs=1", "--jobs=2", "--modern --jobs=1", "--modern --jobs=2"}) {
      if (!classicToo && !mode.starts_with("--modern")) {
        continue;
      }
      std::vector<std::string> words = {"vorlith"};
      std::istringstream split{std::string(mode)};
      for (std::string word; split >> word;) {
        words.push_back(word);
      }
      words.push_back(map.string());
      words.push_back((dir_ / "out.json").string());
      std::vector<std::string_view> args(words.begin(), words.end());
      std::ostringstream out, err;
      EXPECT_EQ(run(args, out, err), 0) << mode << ": " << err.str();
    }
    return exceptionsThrown() - before;
  }

  fs::path dir_;
};

TEST_F(DemangleNoExceptions, TheCountSeesAThrow) {
  size_t before = exceptionsThrown();
  try {
    throw std::runtime_error("counted");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(exceptionsThrown() - before, 1u);
}

TEST_F(DemangleNoExceptions, NamesThatFailThrowNothing) {
  std::vector<std::string> names;
  for (const ClassicCase& c : classicCases()) {
    names.push_back(c.name);
  }
  for (const CurrentCase& c : currentCases()) {
    names.push_back(c.name);
  }
  size_t before = exceptionsThrown();
  Classifier classic{Settings{}};
  Settings modernSettings;
  modernSettings.modern = true;
  Classifier modern{modernSettings};
  for (const std::string& name : names) {
    (void)demangle(name);
    (void)classifyCurrentD(name);
    (void)classic.classify(name);
    (void)modern.classify(name);
  }
  EXPECT_EQ(exceptionsThrown() - before, 0u);

  // And a whole map of them.
  fs::path map = dir_ / "failing.map";
  std::ofstream(map) << gnuMap(names);
  EXPECT_EQ(thrownByRuns(map), 0u);
}

// Real maps hold names neither demangler reads: gdc 12's back references inside template
// instances, which the classic one never learnt, and the runtime's TypeInfo classes.
TEST_F(DemangleNoExceptions, RealMapsThrowNothing) {
  for (std::string_view name :
       {"gnu-ld-gdc.map", "elf/gdc-bfd-static.map", "builds/gdc-ld-after.map", "ldc2-gnu-ld.map"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(thrownByRuns(fs::path(VORLITH_TEST_DATA) / name), 0u);
  }
  EXPECT_EQ(thrownByRuns(fs::path(VORLITH_TEST_DATA) / "lld-gdc.map", false), 0u);
}

}  // namespace
}  // namespace vorlith
