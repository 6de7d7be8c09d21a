// What naming one symbol gives: where it is filed and what is shown beside it, as views.
//
// A result is a value of views: its segments are pieces of the symbol's own name where the rules
// cut them out of it, pieces of the shown name where they were read out of that, and otherwise
// text its maker wrote into one buffer (demangled parts, joined paths, group names). Each segment
// says which, so that whoever keeps a segment knows what it may share rather than copy. A result
// is valid until its maker names the next symbol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// Where the bytes of a segment lie.
enum class SegmentOrigin : uint8_t {
  Name,   // a piece of the symbol's name, as it was given to be named
  Shown,  // a piece of the name to show (NameResult::shown)
  Made,   // text made while naming: it lives in the maker's buffer
};

struct NameSegment {
  std::string_view text;
  SegmentOrigin origin = SegmentOrigin::Made;
};

// Where a symbol is filed, the groups outermost first and then the leaf's name (never empty), and
// the name to show: byte for byte the name given when there is nothing more to show (it may
// differ even when nothing was demangled: an expanded compressed name).
struct NameResult {
  std::span<const NameSegment> segments;
  std::string_view shown;
};

// A result as text of its own, which outlives its maker's next name: for keeping a result aside
// and comparing results (tests, tools), never on the way of a name to the tree.
struct NameText {
  std::vector<std::string> segments;
  std::string shown;
  bool operator==(const NameText&) const = default;
};
[[nodiscard]] NameText toText(const NameResult& result);

// Builds one NameResult at a time into buffers that it keeps, so that naming symbol after symbol
// allocates only when a name needs more room than any before. Segments are kept as offsets while
// the buffers grow and turn into views at result().
class NameBuilder {
 public:
  // Begins the result of `name`, whose bytes must stay where they are until the result is used:
  // no segments yet, and the name shown as it is.
  void start(std::string_view name);
  [[nodiscard]] std::string_view name() const { return name_; }

  // Adds a segment: a piece of the name when `text` lies within it (kept as a view), else a copy.
  void add(std::string_view text);
  // Adds a copy of the pieces, one after the other, as one segment.
  void addJoined(std::initializer_list<std::string_view> pieces);
  // Adds a copy of `text` as a segment before segment `at`.
  void insert(size_t at, std::string_view text);
  // Adds the bytes [offset, offset + length) of the shown name as a segment. The shown name may
  // grow at its end and in front (the offsets follow), but not be replaced.
  void addPieceOfShown(size_t offset, size_t length);
  // Appends `more` to the last segment, which becomes made text.
  void appendToLast(std::string_view more);
  void removeLast() { segments_.pop_back(); }
  void clearSegments() { segments_.clear(); }

  [[nodiscard]] size_t size() const { return segments_.size(); }
  [[nodiscard]] bool empty() const { return segments_.empty(); }
  // The text of segment `k` as it stands; valid until the builder changes.
  [[nodiscard]] std::string_view segment(size_t k) const;
  [[nodiscard]] std::string_view last() const { return segment(segments_.size() - 1); }

  // The name to show: `text`, kept as a view when it is a piece of the name, else copied.
  void show(std::string_view text);
  // The text shown now; valid until the builder changes.
  [[nodiscard]] std::string_view shown() const;
  // Puts `text` in front of the shown name, or appends it.
  void prependToShown(std::string_view text);
  void appendToShown(std::string_view text);

  // The result: views into the name and the builder, valid until the builder is used again.
  [[nodiscard]] NameResult result();

 private:
  struct Stored {
    size_t offset;  // into the name, the shown text or the made text, as `origin` says
    size_t length;
    SegmentOrigin origin;
  };
  [[nodiscard]] bool withinName(std::string_view text) const;
  [[nodiscard]] std::string_view textOf(const Stored& stored) const;
  Stored made(std::string_view text);
  void makeShown();

  std::string_view name_;
  std::vector<Stored> segments_;
  std::string text_;  // the made segments' text
  // The shown name: bytes [shownOffset_, + shownLength_) of the name, or shownText_ when made.
  size_t shownOffset_ = 0;
  size_t shownLength_ = 0;
  bool shownMade_ = false;
  std::string shownText_;
  std::vector<NameSegment> views_;  // what result() hands out
};

// Names one symbol into the builder it is given, as Classifier::classify does. Each naming thread
// has its own.
using NameFunction = std::function<void(std::string_view name, NameBuilder& out)>;

}  // namespace vorlith
