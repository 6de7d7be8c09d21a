#include "map_sections.h"

namespace vorlith {

void MapSections::addSection(std::string_view name, uint64_t address, uint64_t size, size_t line) {
  sections_.push_back({text_.copy(name), address, size, line});
}

void MapSections::addInput(size_t line, std::string_view object) {
  uint32_t index = kNoObject;
  if (!object.empty()) {
    auto found = objectIndex_.find(object);
    if (found == objectIndex_.end()) {
      std::string_view kept = text_.copy(object);
      index = static_cast<uint32_t>(objects_.size());
      objects_.push_back(kept);
      objectIndex_.emplace(kept, index);
    } else {
      index = found->second;
    }
  }
  if (!inputs_.empty() && inputs_.back().line == line) {
    inputs_.back().object = index;
    return;
  }
  inputs_.push_back({line, index});
}

namespace {

// How many of `list`'s entries, which are in line order, begin on `line` or before it. Every
// probe halves the range without a branch, which the lookups of every symbol of a large map
// make worth it.
template <typename Entry>
size_t countUpTo(const std::vector<Entry>& list, size_t line) {
  size_t n = list.size();
  if (n == 0) {
    return 0;
  }
  const Entry* base = list.data();
  while (n > 1) {
    size_t half = n / 2;
    base = base[half].line <= line ? base + half : base;
    n -= half;
  }
  return static_cast<size_t>(base - list.data()) + (base->line <= line ? 1 : 0);
}

}  // namespace

uint32_t MapSections::sectionOfLine(size_t line) const {
  size_t count = countUpTo(sections_, line);
  return count == 0 ? kNoSection : static_cast<uint32_t>(count - 1);
}

size_t MapSections::inputOnLine(size_t line) const {
  // One input section to a line: the last one listed up to `line`, if it is listed there.
  size_t count = countUpTo(inputs_, line);
  return count != 0 && inputs_[count - 1].line == line ? count - 1 : SIZE_MAX;
}

uint32_t MapSections::objectOfLine(size_t line) const {
  size_t count = countUpTo(inputs_, line);
  if (count == 0) {
    return kNoObject;
  }
  const MapInput& input = inputs_[count - 1];
  uint32_t section = sectionOfLine(line);
  // An input section listed before this line's section began belongs to another section.
  if (section == kNoSection || input.line < sections_[section].line) {
    return kNoObject;
  }
  return input.object;
}

}  // namespace vorlith
