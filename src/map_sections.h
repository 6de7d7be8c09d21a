// The output sections and input sections that an ELF map lists, read beside its symbols under
// the modern rules. A section's contents are the map's lines from its own to the next section's;
// an input section's lines run to the next input section's (or fill's). So an entry's section and
// object file follow from the number of the line that made it, and the symbol list stays as it is.
//   .text           0x0000000000001040      0x129          GNU ld: output section
//    .text          0x0000000000001129       0x18 app.o    input section of app.o
//                   0x0000000000001129                main     a symbol in it
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "arena.h"
#include "keyed_hash.h"

namespace vorlith {

struct MapSection {
  std::string_view name;  // owned by the MapSections that holds it
  uint64_t address = 0;
  uint64_t size = 0;
  size_t line = 0;  // the line that lists it
};

inline constexpr uint32_t kNoObject = UINT32_MAX;
inline constexpr uint32_t kNoSection = UINT32_MAX;

// Where an input section (or a fill, which belongs to no object) begins.
struct MapInput {
  size_t line = 0;
  uint32_t object = kNoObject;  // an index into MapSections::objects()
};

// Where the entries of a list in line order begin, by buckets of 16 lines: how many of them
// begin on a line or before it is found by a look at the few entries of one bucket.
class LineIndex {
 public:
  // The list's next entry, after `count` others, begins on `line`.
  void add(size_t line, size_t count);

  // How many of `list`'s entries, indexed by add() as they were appended, begin on `line` or
  // before it.
  template <typename Entry>
  [[nodiscard]] size_t countUpTo(const std::vector<Entry>& list, size_t line) const;

 private:
  static constexpr unsigned kBucketShift = 4;
  std::vector<uint32_t> firsts_;  // firsts_[b]: the entries that begin before line b * 16
  size_t last_ = 0;               // the line of the last entry added
  bool ordered_ = true;           // false when the lines came out of order: searched instead
};

class MapSections {
 public:
  MapSections() = default;
  MapSections(const MapSections&) = delete;
  MapSections& operator=(const MapSections&) = delete;
  MapSections(MapSections&&) = default;
  MapSections& operator=(MapSections&&) = default;

  // Lines must come in increasing order.
  void addSection(std::string_view name, uint64_t address, uint64_t size, size_t line);
  // An input section of `object` begins on `line`; an empty `object` is a fill's line.
  void addInput(size_t line, std::string_view object);

  [[nodiscard]] const std::vector<MapSection>& sections() const { return sections_; }
  [[nodiscard]] const std::vector<MapInput>& inputs() const { return inputs_; }
  // The number of the input section listed on line `line`, or SIZE_MAX for another line.
  [[nodiscard]] size_t inputOnLine(size_t line) const;
  [[nodiscard]] const std::vector<std::string_view>& objects() const { return objects_; }
  [[nodiscard]] bool empty() const { return sections_.empty(); }

  // The section whose contents hold line `line`, or kNoSection before the first one.
  [[nodiscard]] uint32_t sectionOfLine(size_t line) const;
  // The object of the input section that holds line `line` within its section, or kNoObject.
  [[nodiscard]] uint32_t objectOfLine(size_t line) const;

  // Lets go of the input sections (a sixteenth of the map's size on an ld.lld map, one per
  // line of it) once the object of every entry is known: inputs() is empty afterwards, and
  // inputOnLine and objectOfLine find nothing. The sections and the objects stay.
  void releaseInputs();

 private:
  struct KeyedHasher {
    size_t operator()(std::string_view s) const { return static_cast<size_t>(keyedHash(s)); }
  };

  TextArena text_;  // section and object names
  std::vector<MapSection> sections_;
  std::vector<MapInput> inputs_;
  LineIndex sectionLines_;  // of sections_
  LineIndex inputLines_;    // of inputs_
  std::vector<std::string_view> objects_;
  uint32_t lastObject_ = kNoObject;  // the object of the last input section, named again next
  // Object names are few (a few thousand for the largest maps) and repeat on every line of
  // theirs: each is kept once. Keyed, because the names come from the map.
  std::unordered_map<std::string_view, uint32_t, KeyedHasher> objectIndex_;
};

}  // namespace vorlith
