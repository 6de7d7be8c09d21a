#include "map_sections.h"

namespace vorlith {

void MapSections::addSection(std::string_view name, uint64_t address, uint64_t size, size_t line) {
  sectionLines_.add(line, sections_.size());
  sections_.push_back({text_.copy(name), address, size, line});
}

void MapSections::addInput(size_t line, std::string_view object) {
  uint32_t index = kNoObject;
  if (!object.empty() && lastObject_ != kNoObject && objects_[lastObject_] == object) {
    index = lastObject_;  // the input sections of one object come in a row: no hash
  } else if (!object.empty()) {
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
  if (index != kNoObject) {
    lastObject_ = index;
  }
  if (!inputs_.empty() && inputs_.back().line == line) {
    inputs_.back().object = index;
    return;
  }
  inputLines_.add(line, inputs_.size());
  inputs_.push_back({line, index});
}

namespace {

// How many of `list`'s entries, which are in line order, begin on `line` or before it. Every
// probe halves the range without a branch.
template <typename Entry>
size_t searchUpTo(const std::vector<Entry>& list, size_t line) {
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

void LineIndex::add(size_t line, size_t count) {
  if ((count != 0 && line < last_) || count >= UINT32_MAX) {
    ordered_ = false;
  }
  last_ = line;
  if (!ordered_) {
    return;
  }
  // Every entry so far begins before this bucket, or the bucket would be listed already.
  size_t bucket = line >> kBucketShift;
  while (firsts_.size() <= bucket) {
    firsts_.push_back(static_cast<uint32_t>(count));
  }
}

template <typename Entry>
size_t LineIndex::countUpTo(const std::vector<Entry>& list, size_t line) const {
  if (!ordered_) {
    return searchUpTo(list, line);
  }
  size_t bucket = line >> kBucketShift;
  if (bucket >= firsts_.size()) {
    return list.size();  // no entry begins in this bucket or after it
  }
  // Those before the bucket all count; those of the next bucket and after, none.
  size_t k = firsts_[bucket];
  size_t end = bucket + 1 < firsts_.size() ? firsts_[bucket + 1] : list.size();
  while (k < end && list[k].line <= line) {
    ++k;
  }
  return k;
}

uint32_t MapSections::sectionOfLine(size_t line) const {
  size_t count = sectionLines_.countUpTo(sections_, line);
  return count == 0 ? kNoSection : static_cast<uint32_t>(count - 1);
}

size_t MapSections::inputOnLine(size_t line) const {
  // One input section to a line: the last one listed up to `line`, if it is listed there.
  size_t count = inputLines_.countUpTo(inputs_, line);
  return count != 0 && inputs_[count - 1].line == line ? count - 1 : SIZE_MAX;
}

void MapSections::releaseInputs() {
  std::vector<MapInput>().swap(inputs_);
  inputLines_ = LineIndex();
  decltype(objectIndex_)().swap(objectIndex_);
}

uint32_t MapSections::objectOfLine(size_t line) const {
  size_t count = inputLines_.countUpTo(inputs_, line);
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
