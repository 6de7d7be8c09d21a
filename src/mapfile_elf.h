// The maps of ld.lld and mold: column tables that begin with a header line and list output
// sections, input sections and symbols (local ones too), each with its size.
#pragma once

#include <string_view>
#include <vector>

#include "arena.h"
#include "map_line.h"
#include "map_sections.h"

namespace vorlith {

enum class ElfMapForm { None, Lld, Mold };

// The form whose column header `firstLine` is, or None.
[[nodiscard]] ElfMapForm elfMapForm(std::string_view firstLine);

// Turns the rows after the header into symbols and end markers.
class ElfMapReader {
 public:
  // Output and input sections go to `sections`.
  ElfMapReader(ElfMapForm form, std::vector<Symbol>& symbols, TextArena& made,
               MapSections& sections)
      : form_(form), symbols_(symbols), made_(made), sections_(sections) {}

  // Throws the number conversion's exception for a row whose columns do not read.
  void parseLine(std::string_view line, size_t index);

 private:
  ElfMapForm form_;
  std::vector<Symbol>& symbols_;
  TextArena& made_;
  MapSections& sections_;
};

}  // namespace vorlith
