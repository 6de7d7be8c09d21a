// Where a map line's section and input section are found: against the definition, a walk
// through the whole list, for lines close together, far apart and on either side of them all.
#include "map_sections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using vorlith::kNoObject;
using vorlith::kNoSection;
using vorlith::MapSections;

namespace {

// Line numbers from a fixed sequence of gaps: runs of neighbouring lines and jumps over many
// buckets of lines, repeated lines included (an input section named twice on one line).
std::vector<size_t> linesWithGaps(const std::vector<size_t>& gaps, size_t count) {
  std::vector<size_t> lines;
  size_t line = 3;
  for (size_t k = 0; k < count; ++k) {
    line += gaps[k % gaps.size()];
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(MapSections, FindsEachLinesSectionAndInputSectionAsAWalkThroughTheListsDoes) {
  MapSections sections;
  std::vector<size_t> sectionLines = linesWithGaps({1, 40, 7, 16, 100, 2, 33}, 30);
  std::vector<size_t> inputLines = linesWithGaps({1, 1, 0, 2, 15, 16, 17, 3, 64, 1, 0, 5}, 300);
  // Added in line order, as the map reader does.
  size_t s = 0;
  for (size_t k = 0; k < inputLines.size(); ++k) {
    while (s < sectionLines.size() && sectionLines[s] <= inputLines[k]) {
      sections.addSection(".s" + std::to_string(s), 0x1000 * s, 0x10, sectionLines[s]);
      ++s;
    }
    sections.addInput(inputLines[k], k % 5 == 4 ? "" : "o" + std::to_string(k % 7) + ".o");
  }
  for (; s < sectionLines.size(); ++s) {
    sections.addSection(".s" + std::to_string(s), 0x1000 * s, 0x10, sectionLines[s]);
  }
  const auto& list = sections.sections();
  const auto& inputs = sections.inputs();
  ASSERT_EQ(list.size(), sectionLines.size());
  ASSERT_LT(inputs.size(), inputLines.size());  // the repeated lines are one input section
  size_t last = std::max(sectionLines.back(), inputLines.back());
  for (size_t line = 0; line <= last + 40; ++line) {
    uint32_t section = kNoSection;
    for (uint32_t k = 0; k < list.size() && list[k].line <= line; ++k) {
      section = k;
    }
    size_t input = SIZE_MAX;
    size_t before = SIZE_MAX;  // the last input section listed up to this line
    for (size_t k = 0; k < inputs.size() && inputs[k].line <= line; ++k) {
      before = k;
      if (inputs[k].line == line) {
        input = k;
      }
    }
    uint32_t object = kNoObject;
    if (before != SIZE_MAX && section != kNoSection && inputs[before].line >= list[section].line) {
      object = inputs[before].object;
    }
    ASSERT_EQ(sections.sectionOfLine(line), section) << "line " << line;
    ASSERT_EQ(sections.inputOnLine(line), input) << "line " << line;
    ASSERT_EQ(sections.objectOfLine(line), object) << "line " << line;
  }
}

TEST(MapSections, AnswersWithinItsListsWhenLinesComeOutOfOrder) {
  // Not what a map gives, but what a hostile one must not turn into a read out of bounds.
  MapSections sections;
  for (size_t line : {500u, 20u, 700u, 3u, 64u, 65u, 1000u, 0u}) {
    sections.addSection(".s", 0, 0, line);
    sections.addInput(line + 1, "a.o");
    sections.addInput(line / 2, "b.o");
  }
  for (size_t line = 0; line < 1100; ++line) {
    uint32_t section = sections.sectionOfLine(line);
    EXPECT_TRUE(section == kNoSection || section < sections.sections().size()) << line;
    size_t input = sections.inputOnLine(line);
    EXPECT_TRUE(input == SIZE_MAX || sections.inputs()[input].line == line) << line;
    uint32_t object = sections.objectOfLine(line);
    EXPECT_TRUE(object == kNoObject || object < sections.objects().size()) << line;
  }
}
