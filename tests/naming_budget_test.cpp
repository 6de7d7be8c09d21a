// Naming a whole map costs in proportion to its names, whatever they are built to do: a map of
// D names that expand without end costs a few times a benign map of the same size, not a
// hundred, and the names the allowance leaves undecoded are the same for any number of threads.
#include "naming_budget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "mapfile.h"
#include "naming.h"
#include "support/dnames.h"
#include "vorlith.h"
#include "zel/utils/json.h"

namespace vorlith {
namespace {

// A function of module app whose parameter list doubles `levels` times: 2^levels parameters
// from a name of about 7 * levels bytes.
std::string expandingName(size_t levels, size_t number) {
  return doublingName(levels, "f" + std::to_string(number));
}

// A function with as many plain parameters as it takes to be `size` bytes long.
std::string plainName(size_t size, size_t number) {
  std::string head = "_D3app" + std::to_string(std::to_string(number).size() + 1) + "f" +
                     std::to_string(number) + "F";
  return head + std::string(size > head.size() + 2 ? size - head.size() - 2 : 1, 'i') + "Zv";
}

// A GNU ld map of symbols 16 bytes apart named by `nameOf`, of about `bytes` bytes.
template <typename NameOf>
std::string mapOf(size_t bytes, NameOf nameOf) {
  std::string text;
  for (size_t k = 0; text.size() < bytes; ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016zx", 0x100000 + 16 * k);
    text += std::string(16, ' ') + "0x" + address + std::string(16, ' ') + nameOf(k) + "\n";
  }
  return text;
}

double cpuSecondsToBuild(const std::vector<Symbol>& symbols, const Settings& settings) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    std::clock_t start = std::clock();
    SizeTree tree = buildTree(symbols, settings);
    EXPECT_GT(tree.root.total, 0u);
    best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return best;
}

Settings modernOn(uint32_t jobs) {
  Settings settings = readingSettings(true);
  settings.jobs = jobs;
  return settings;
}

}  // namespace

TEST(NamingBudget, NamesBuiltToExpandCostAFewTimesABenignMapOfTheirSize) {
  constexpr size_t kBytes = size_t{1} << 20;
  std::ostringstream echo;
  // Names that expand past every bound (2^14 parameters), names that expand within their own
  // bound but not within the run's (2^10), and plain names of the same length.
  MapFile failing(MapFile::FromText{}, mapOf(kBytes, [](size_t k) { return expandingName(14, k); }),
                  echo);
  MapFile expanding(MapFile::FromText{},
                    mapOf(kBytes, [](size_t k) { return expandingName(10, k); }), echo);
  MapFile benign(MapFile::FromText{}, mapOf(kBytes, [](size_t k) { return plainName(110, k); }),
                 echo);
  double plain = cpuSecondsToBuild(benign.symbols, modernOn(1));
  for (const MapFile* map : {&failing, &expanding}) {
    double hostile = cpuSecondsToBuild(map->symbols, modernOn(1));
    std::printf("[ budget   ] %zu symbols: %.3f s CPU against %.3f s for plain names\n",
                map->symbols.size(), hostile, plain);
    // Each name on its own bound alone cost 20 to 100 times the plain map; within the
    // allowance they cost about five times.
    EXPECT_LT(hostile, 12 * plain + 0.05);
  }
}

TEST(NamingBudget, WhatTheAllowanceLeavesUndecodedIsTheSameOnAnyNumberOfThreads) {
  std::ostringstream echo;
  // 2^7 parameters from 60 bytes, which cost about 150 bytes of text per byte of name: each
  // decodes alone, but a chunk's allowance runs out partway.
  MapFile map(MapFile::FromText{},
              mapOf(size_t{600} << 10, [](size_t k) { return expandingName(7, k); }), echo);
  std::string one;
  for (uint32_t jobs : {1u, 2u, 4u}) {
    SCOPED_TRACE(jobs);
    SizeTree tree = buildTree(map.symbols, modernOn(jobs));
    std::string document(zel::utils::json::toJson(tree.root).get());
    if (jobs == 1) {
      one = document;
      // Some names are decoded ("void app.f0(...)"), the allowance leaves others as they are.
      size_t decoded = 0, kept = 0;
      for (size_t at = 0; (at = document.find("\"demangledName\":\"", at)) != std::string::npos;
           ++at) {
        (document.compare(at + 17, 4, "void") == 0 ? decoded : kept) += 1;
      }
      EXPECT_GT(decoded, 100u);
      EXPECT_GT(kept, 100u);
    } else {
      EXPECT_TRUE(document == one);
    }
  }
}

TEST(NamingBudget, AWindowBoundsOnlyTheThreadThatOpenedIt) {
  EXPECT_EQ(NamingWindow::workLeft(), UINT64_MAX);
  {
    NamingWindow window(1000);
    EXPECT_EQ(NamingWindow::outputLeft(),
              kDemangleFreePerWindow + kDemangleOutputPerNameByte * 1000);
    size_t work = SIZE_MAX, output = 10;
    NamingWindow::clamp(work, output);
    EXPECT_EQ(work, NamingWindow::workLeft());
    EXPECT_EQ(output, 10u);
    NamingWindow::spend(SIZE_MAX, 0);
    EXPECT_TRUE(NamingWindow::spent());
    uint64_t elsewhere = 0;
    std::thread([&elsewhere] { elsewhere = NamingWindow::workLeft(); }).join();
    EXPECT_EQ(elsewhere, UINT64_MAX);
  }
  EXPECT_FALSE(NamingWindow::spent());
}

}  // namespace vorlith
