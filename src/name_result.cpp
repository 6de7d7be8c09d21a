#include "name_result.h"

#include <functional>

namespace vorlith {

using std::string_view;

void NameBuilder::start(string_view name) {
  name_ = name;
  segments_.clear();
  text_.clear();
  shownOffset_ = 0;
  shownLength_ = name.size();
  shownMade_ = false;
  shownText_.clear();
}

bool NameBuilder::withinName(string_view text) const {
  // Compared as addresses: `text` may lie anywhere.
  std::less_equal<const char*> notAfter;
  return !text.empty() && notAfter(name_.data(), text.data()) &&
         notAfter(text.data() + text.size(), name_.data() + name_.size());
}

NameBuilder::Stored NameBuilder::made(string_view text) {
  Stored stored{text_.size(), text.size(), SegmentOrigin::Made};
  text_.append(text);
  return stored;
}

void NameBuilder::add(string_view text) {
  if (withinName(text)) {
    segments_.push_back(
        {static_cast<size_t>(text.data() - name_.data()), text.size(), SegmentOrigin::Name});
  } else {
    segments_.push_back(made(text));
  }
}

void NameBuilder::addJoined(std::initializer_list<string_view> pieces) {
  Stored stored{text_.size(), 0, SegmentOrigin::Made};
  for (string_view piece : pieces) {
    text_.append(piece);
    stored.length += piece.size();
  }
  segments_.push_back(stored);
}

void NameBuilder::insert(size_t at, string_view text) {
  Stored stored = made(text);
  segments_.insert(segments_.begin() + static_cast<std::ptrdiff_t>(at), stored);
}

void NameBuilder::addPieceOfShown(size_t offset, size_t length) {
  segments_.push_back({offset, length, SegmentOrigin::Shown});
}

void NameBuilder::appendToLast(string_view more) {
  Stored& last = segments_.back();
  if (last.origin != SegmentOrigin::Made || last.offset + last.length != text_.size()) {
    // Copied first to the end of the made text, where it can grow. Through a view of the name
    // or the shown text: both stay where they are while text_ grows.
    string_view text = textOf(last);
    last = {text_.size(), 0, SegmentOrigin::Made};
    if (text.data() >= text_.data() && text.data() < text_.data() + text_.size()) {
      size_t from = static_cast<size_t>(text.data() - text_.data());
      text_.append(text_, from, text.size());  // a copy of itself, by offset
    } else {
      text_.append(text);
    }
    last.length = text.size();
  }
  text_.append(more);
  last.length += more.size();
}

string_view NameBuilder::textOf(const Stored& stored) const {
  switch (stored.origin) {
    case SegmentOrigin::Name:
      return name_.substr(stored.offset, stored.length);
    case SegmentOrigin::Shown:
      return shown().substr(stored.offset, stored.length);
    case SegmentOrigin::Made:
      break;
  }
  return string_view(text_).substr(stored.offset, stored.length);
}

string_view NameBuilder::segment(size_t k) const {
  return textOf(segments_[k]);
}

void NameBuilder::show(string_view text) {
  if (withinName(text) || text.empty()) {
    shownMade_ = false;
    shownOffset_ = text.empty() ? 0 : static_cast<size_t>(text.data() - name_.data());
    shownLength_ = text.size();
    return;
  }
  shownMade_ = true;
  shownText_.assign(text);
}

string_view NameBuilder::shown() const {
  return shownMade_ ? string_view(shownText_) : name_.substr(shownOffset_, shownLength_);
}

void NameBuilder::makeShown() {
  if (!shownMade_) {
    shownText_.assign(name_.substr(shownOffset_, shownLength_));
    shownMade_ = true;
  }
}

void NameBuilder::prependToShown(string_view text) {
  makeShown();
  shownText_.insert(0, text);
  for (Stored& stored : segments_) {
    if (stored.origin == SegmentOrigin::Shown) {
      stored.offset += text.size();
    }
  }
}

void NameBuilder::appendToShown(string_view text) {
  makeShown();
  shownText_.append(text);
}

NameText toText(const NameResult& result) {
  NameText text;
  text.segments.reserve(result.segments.size());
  for (const NameSegment& segment : result.segments) {
    text.segments.emplace_back(segment.text);
  }
  text.shown.assign(result.shown);
  return text;
}

NameResult NameBuilder::result() {
  views_.clear();
  for (const Stored& stored : segments_) {
    views_.push_back({textOf(stored), stored.origin});
  }
  return {views_, shown()};
}

}  // namespace vorlith
