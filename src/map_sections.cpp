#include "map_sections.h"

#include <algorithm>

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

uint32_t MapSections::sectionOfLine(size_t line) const {
  auto after = std::upper_bound(sections_.begin(), sections_.end(), line,
                                [](size_t l, const MapSection& s) { return l < s.line; });
  return after == sections_.begin() ? kNoSection
                                    : static_cast<uint32_t>(after - sections_.begin() - 1);
}

size_t MapSections::inputOnLine(size_t line) const {
  auto found = std::lower_bound(inputs_.begin(), inputs_.end(), line,
                                [](const MapInput& i, size_t l) { return i.line < l; });
  return found != inputs_.end() && found->line == line
             ? static_cast<size_t>(found - inputs_.begin())
             : SIZE_MAX;
}

void MapSections::releaseInputs() {
  std::vector<MapInput>().swap(inputs_);
  decltype(objectIndex_)().swap(objectIndex_);
}

uint32_t MapSections::objectOfLine(size_t line) const {
  size_t hint = SIZE_MAX;
  return objectOfLine(line, hint);
}

uint32_t MapSections::objectOfLine(size_t line, size_t& hint) const {
  auto later = [](size_t l, const MapInput& i) { return l < i.line; };
  auto after = inputs_.begin();
  if (hint < inputs_.size() && inputs_[hint].line <= line) {
    // Nearly always the input section of the line before, or one of the next few.
    after += static_cast<ptrdiff_t>(hint + 1);
    for (int step = 0; step < 4 && after != inputs_.end() && after->line <= line; ++step) {
      ++after;
    }
    if (after != inputs_.end() && after->line <= line) {
      after = std::upper_bound(after, inputs_.end(), line, later);
    }
  } else {
    after = std::upper_bound(inputs_.begin(), inputs_.end(), line, later);
  }
  hint = after == inputs_.begin() ? SIZE_MAX : static_cast<size_t>(after - inputs_.begin() - 1);
  if (after == inputs_.begin()) {
    return kNoObject;
  }
  const MapInput& input = *(after - 1);
  uint32_t section = sectionOfLine(line);
  // An input section listed before this line's section began belongs to another section.
  if (section == kNoSection || input.line < sections_[section].line) {
    return kNoObject;
  }
  return input.object;
}

}  // namespace vorlith
