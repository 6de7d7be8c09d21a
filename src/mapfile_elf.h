// The maps of ld.lld and mold: column tables that begin with a header line and list output
// sections, input sections and symbols (local ones too), each with its size.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "arena.h"
#include "mapfile.h"

namespace vorlith {

// White space as the map forms count it: the C locale's, byte by byte.
[[nodiscard]] inline bool isMapSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next run of non-white bytes at or after `pos`, which ends after it; empty when none is
// left.
inline std::string_view nextToken(std::string_view s, size_t& pos) {
  while (pos < s.size() && isMapSpace(s[pos])) {
    ++pos;
  }
  size_t begin = pos;
  while (pos < s.size() && !isMapSpace(s[pos])) {
    ++pos;
  }
  return s.substr(begin, pos - begin);
}

enum class ElfMapForm { None, Lld, Mold };

// The form whose column header `firstLine` is, or None.
[[nodiscard]] ElfMapForm elfMapForm(std::string_view firstLine);

// Turns the rows after the header into symbols and end markers.
class ElfMapReader {
 public:
  ElfMapReader(ElfMapForm form, std::vector<Symbol>& symbols, TextArena& made)
      : form_(form), symbols_(symbols), made_(made) {}

  // Throws the number conversion's exception for a row whose columns do not read.
  void parseLine(std::string_view line, size_t index);

 private:
  ElfMapForm form_;
  std::vector<Symbol>& symbols_;
  TextArena& made_;
};

}  // namespace vorlith
