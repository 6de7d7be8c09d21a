// What the readers of every map form share: the entry a line makes, and the white space and
// tokens that its columns are cut at.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorlith {

// One entry of the map. An end marker is named "END\t" and the name of what ends at `address`.
struct Symbol {
  uint64_t address = 0;
  std::string_view name;  // owned by the MapFile that made it; always valid UTF-8
  size_t index = 0;       // the map-file line it came from, counted from 0
};

// The prefix that marks a symbol as the end of a sized entry.
inline constexpr std::string_view kEndMarker = "END\t";

// White space as the map forms count it: the C locale's, byte by byte.
[[nodiscard]] inline bool isMapSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Index of the first byte at or after `pos` that is map white space, or s.size(). Names, most
// of a map's bytes, rarely hold any, so eight bytes are tested at once: a word without a byte
// below '!' holds none.
inline size_t findMapSpace(std::string_view s, size_t pos) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  for (;;) {
    while (s.size() - pos >= 8) {
      uint64_t word;
      std::memcpy(&word, s.data() + pos, 8);
      if (((word - kOnes * '!') & ~word & kHighBits) != 0) {
        break;  // a byte below '!' (the test is exact about whether, not which)
      }
      pos += 8;
    }
    size_t stop = std::min(s.size(), pos + 8);
    for (; pos < stop; ++pos) {
      if (isMapSpace(s[pos])) {
        return pos;
      }
    }
    if (pos == s.size()) {
      return pos;
    }
  }
}

// Index of the first byte at or after `pos` that is not map white space, or s.size(). Runs of
// blanks pad the columns of every map, eight at a time where they are plain spaces.
inline size_t skipMapSpace(std::string_view s, size_t pos) {
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  while (s.size() - pos >= 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + pos, 8);
    if (word != kSpaces) {
      break;
    }
    pos += 8;
  }
  while (pos < s.size() && isMapSpace(s[pos])) {
    ++pos;
  }
  return pos;
}

// The next run of non-white bytes at or after `pos`, which ends after it; empty when none is
// left.
inline std::string_view nextToken(std::string_view s, size_t& pos) {
  size_t begin = skipMapSpace(s, pos);
  pos = findMapSpace(s, begin);
  return s.substr(begin, pos - begin);
}

}  // namespace vorlith
