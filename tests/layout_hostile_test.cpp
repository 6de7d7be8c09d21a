// Hostile shapes for the layout by sections: a map of a hundred thousand output sections, and
// binaries whose symbols all nest in one another or each begin inside the one before. Each is
// timed against a benign input of the same size in the same test, never against a fixed time:
// a linear path stays well within kWideRatio times the benign one, a quadratic one at these
// sizes is thousands of times slower.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "elf_file.h"
#include "layout.h"
#include "mapfile.h"
#include "support/best_of.h"
#include "support/elf_builder.h"
#include "vorlith.h"

namespace {

constexpr double kWideRatio = 100;
constexpr double kBenignFloor = 0.02;

void expectNotFarSlower(const std::string& label, double hostile, double benign) {
  std::cout << "[ hostile  ] " << label << ": " << hostile << " s (benign " << benign << " s)\n";
  EXPECT_LT(hostile, kWideRatio * std::max(benign, kBenignFloor)) << label;
}

vorlith::Settings modern() {
  vorlith::Settings settings;
  settings.modern = true;
  settings.jobs = 1;
  return settings;
}

// A GNU ld symbol line of 16 spaces, the address and the name.
std::string symbolLine(uint64_t address, const std::string& name) {
  char text[64];
  std::snprintf(text, sizeof text, "                0x%016llx                ",
                static_cast<unsigned long long>(address));
  return text + name + "\n";
}

std::string sectionLine(const std::string& name, uint64_t address, uint64_t size) {
  char text[96];
  std::snprintf(text, sizeof text, "%-15s 0x%016llx %#10llx\n", name.c_str(),
                static_cast<unsigned long long>(address), static_cast<unsigned long long>(size));
  return text;
}

size_t layOutMapText(const std::string& text) {
  std::ostringstream echo;
  vorlith::MapFile map(vorlith::MapFile::FromText{}, text, echo, modern());
  vorlith::SizeTree tree = vorlith::buildTreeBySections(map, modern());
  return static_cast<size_t>(tree.root.total);
}

TEST(HostileLayout, ManySectionsCostAsMuchAsManySymbols) {
  constexpr size_t kCount = 100000;
  std::string hostile, benign = sectionLine(".data", 0x10000, kCount * 16);
  for (size_t k = 0; k < kCount; ++k) {
    std::string name = "s" + std::to_string(k);
    hostile += sectionLine(".d" + std::to_string(k), 0x10000 + k * 16, 16);
    hostile += symbolLine(0x10000 + k * 16, name);
    benign += symbolLine(0x10000 + k * 16, name);
  }
  benign.resize(hostile.size(), '\n');
  size_t hostileTotal = 0, benignTotal = 0;
  double took = bestOf(1, [&] { hostileTotal = layOutMapText(hostile); });
  double base = bestOf(1, [&] { benignTotal = layOutMapText(benign); });
  EXPECT_EQ(hostileTotal, kCount * 16);
  EXPECT_EQ(benignTotal, kCount * 16);
  expectNotFarSlower("100,000 output sections of one symbol", took, base);
}

// A binary of one .text of `count` * 4 bytes holding the given symbols.
std::string binaryOf(size_t count, const std::vector<elftest::SymbolSpec>& symbols) {
  elftest::ElfBuilder builder;
  builder.add({.name = ".text",
               .type = 1,
               .flags = 0x6,
               .address = 0x1000,
               .bytes = std::string(count * 4, '\0'),
               .alignment = 16});
  builder.addSymbolTable(symbols);
  return builder.build();
}

TEST(HostileLayout, SymbolsThatNestOrOverlapCostAsMuchAsSymbolsApart) {
  if (!vorlith::elf::canReadElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  constexpr size_t kCount = 200000;
  constexpr uint8_t kFunc = 2, kGlobal = 1;
  std::vector<elftest::SymbolSpec> apart, nested, overlapping;
  for (size_t k = 0; k < kCount; ++k) {
    std::string name = "f" + std::to_string(k);
    apart.push_back({name, 0x1000 + k * 4, 4, kFunc, kGlobal, 1});
    nested.push_back({name, 0x1000 + k, (kCount - k) * 3, kFunc, kGlobal, 1});
    overlapping.push_back({name, 0x1000 + k * 2, 64, kFunc, kGlobal, 1});
  }
  struct Case {
    const char* label;
    std::string bytes;
  };
  std::string benignBytes = binaryOf(kCount, apart);
  vorlith::elf::Image benignImage = vorlith::elf::readElf(benignBytes, "apart.elf");
  size_t benignPieces = 0;
  double base = bestOf(3, [&] {
    benignPieces =
        vorlith::layoutBinary(benignImage, "apart.elf", vorlith::Measure::Memory).pieces.size();
  });
  EXPECT_EQ(benignPieces, kCount);
  for (Case c : {Case{"200,000 symbols nested in one another", binaryOf(kCount, nested)},
                 Case{"200,000 symbols each beginning inside the one before",
                      binaryOf(kCount, overlapping)}}) {
    SCOPED_TRACE(c.label);
    vorlith::elf::Image image = vorlith::elf::readElf(c.bytes, "hostile.elf");
    uint64_t total = 0;
    double took = bestOf(3, [&] {
      total = 0;
      for (const vorlith::Piece& piece :
           vorlith::layoutBinary(image, "hostile.elf", vorlith::Measure::Memory).pieces) {
        total += piece.size;
      }
    });
    EXPECT_EQ(total, kCount * 4);  // every byte of .text once
    expectNotFarSlower(c.label, took, base);
  }
}

}  // namespace
