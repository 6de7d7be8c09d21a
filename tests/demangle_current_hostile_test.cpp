// Names built to make the current-ABI D demangler loop, recurse or expand without bound. Each
// must come back (nullopt or a text) in time and output linear in its length: checked against a
// benign name of the same size, with a wide ratio, never against a wall-clock limit alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "demangle_current.h"
#include "demangle_current_internal.h"
#include "support/dnames.h"

namespace vorlith {
namespace {

// A valid function of about `size` bytes with as many plain parameters.
std::string benignName(size_t size) {
  return "_D3app1fF" + std::string(size > 12 ? size - 12 : 1, 'i') + "Zv";
}

// The same, refused at its last byte: it pays for one failure as the hostile names do.
std::string benignFailure(size_t size) {
  return "_D3app1fF" + std::string(size > 12 ? size - 12 : 1, 'i') + "Z!";
}

double secondsFor(const std::string& name, int repeats) {
  auto start = std::chrono::steady_clock::now();
  size_t sink = 0;
  for (int k = 0; k < repeats; ++k) {
    auto symbol = classifyCurrentD(name);
    sink += symbol ? symbol->shown.size() : 1;
  }
  EXPECT_GT(sink, 0u);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The hostile names; each is also checked for its output bound.
std::vector<std::pair<std::string, std::string>> hostileNames() {
  std::vector<std::pair<std::string, std::string>> names;
  names.emplace_back("forward reference", "_D3app1xQz" + std::string(40, 'i'));
  names.emplace_back("reference to itself", "_D3app1xQa");
  // 'A' at 6 is an array of the type the Q at 7 names, which is that 'A' again.
  names.emplace_back("cycle through a type", "_D3app1xA" + backReference(7, 6));
  names.emplace_back("cycle through an identifier", "_D3app" + backReference(4, 4) + "1xi");
  names.emplace_back("doubling references", doublingName(60));
  names.emplace_back("deep arrays", "_D3app1x" + std::string(100000, 'A') + "i");
  names.emplace_back("deep pointers to functions",
                     "_D3app1x" + std::string(50000, 'P') + std::string(50000, 'F') + "Zv");
  std::string instances = "_D3app";
  for (int k = 0; k < 20000; ++k) {
    instances += "__T1aT";
  }
  names.emplace_back("deep template instances", instances + "i");
  std::string values = "_D3app__T1VVAAAAi";
  for (int k = 0; k < 30000; ++k) {
    values += "A1";
  }
  names.emplace_back("deep array values", values + "i1ZQa1xi");
  names.emplace_back("deep qualified names", "_D" + std::string(100000, '0') + "1xi");
  names.emplace_back("long identifier", "_D99999999" + std::string(100000, 'a') + "i");
  names.emplace_back("huge numbers", "_D3app__T1VVmi" + std::string(400, '9') + "ZQi1xi");
  names.emplace_back("huge string length", "_D3app__T1VVAyaa99999999999999999999_61ZQi1xi");
  names.emplace_back("float exponent", "_D3app__T1VVde1P99999999999999ZQi1xi");
  return names;
}

TEST(DemangleCurrentHostile, FailsCleanlyWithBoundedOutput) {
  for (const auto& [what, name] : hostileNames()) {
    SCOPED_TRACE(what);
    auto shown = demangleCurrent(name);
    if (shown.has_value()) {
      EXPECT_FALSE(shown->empty());
      EXPECT_LE(shown->size(), currentd::kTextPerByte * name.size() + currentd::kSlack);
    }
  }
  EXPECT_FALSE(demangleCurrent(doublingName(60)).has_value());
  EXPECT_FALSE(demangleCurrent("_D3app1xA" + backReference(7, 6)).has_value());
  // A few doublings stay within the budget and read as they should.
  auto small = demangleCurrent(doublingName(2));
  ASSERT_TRUE(small.has_value());
  EXPECT_EQ(*small, "void app.f(int, (int, int), ((int, int), (int, int)))");
}

// Every hostile name costs about what a benign name of its size costs.
TEST(DemangleCurrentHostile, CostsNoMoreThanABenignNameOfTheSameSize) {
  for (const auto& [what, name] : hostileNames()) {
    SCOPED_TRACE(what);
    int repeats = name.size() < 1000 ? 2000 : 5;
    double benign = std::max(secondsFor(benignName(name.size()), repeats),
                             secondsFor(benignFailure(name.size()), repeats));
    double hostile = secondsFor(name, repeats);
    // The budget allows 256 reads and 2048 bytes made per byte where the benign name reads each
    // byte about once.
    EXPECT_LT(hostile, 200 * benign + 0.05) << hostile << " s against " << benign << " s";
  }
}

// The budget counts work: the doubling name stops at its limit, however many levels it has.
TEST(DemangleCurrentHostile, StopsExpansionAtTheBudget) {
  for (size_t levels : {20u, 40u, 200u}) {
    SCOPED_TRACE(levels);
    std::string name = doublingName(levels);
    currentd::Budget budget(name.size());
    currentd::Workspace work;
    currentd::CurrentParser parser(std::string_view(name).substr(2), budget, work);
    (void)parser.parseSymbol();
    EXPECT_TRUE(parser.failed);
    EXPECT_LE(budget.work, budget.workLimit);
    EXPECT_LE(budget.output, budget.outputLimit);
    // It stopped at one of its limits, not by chance: the text doubles until none is left.
    EXPECT_TRUE(budget.work * 2 > budget.workLimit || budget.output * 2 > budget.outputLimit ||
                budget.output * 2 > budget.textLimit)
        << budget.work << " " << budget.output;
    EXPECT_EQ(budget.depth, 0u);
  }
}

}  // namespace
}  // namespace vorlith
