// A binary read alone, on any bytes that the ELF reader accepts, in both measures: the pieces
// are never empty, each lies inside its section, a section's pieces never add up to more than
// the section (to exactly its size unless it wraps past the top of the address space), the
// memory measure counts only loaded sections, and laying out twice gives the same pieces.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "elf_file.h"
#include "fuzz_check.h"
#include "layout.h"

using fuzzcheck::check;

namespace {

void checkLayout(const vorlith::PieceLayout& layout, vorlith::Measure measure) {
  std::vector<uint64_t> sums(layout.sections.size(), 0);
  for (const vorlith::Piece& piece : layout.pieces) {
    check(piece.size != 0, "an empty piece");
    check(piece.section < layout.sections.size(), "a piece names no section");
    const vorlith::LayoutSection& section = layout.sections[piece.section];
    uint64_t offset = piece.address - section.address;
    check(offset < section.size && piece.size <= section.size - offset,
          "a piece lies outside its section");
    sums[piece.section] += piece.size;
    if (measure == vorlith::Measure::Memory) {
      check(section.traits.loaded, "the memory measure counts a section that is not loaded");
    }
  }
  for (size_t k = 0; k < layout.sections.size(); ++k) {
    const vorlith::LayoutSection& section = layout.sections[k];
    check(sums[k] <= section.size, "a section's pieces add up to more than the section");
    bool wraps = section.address + section.size < section.address;
    check(wraps || sums[k] == section.size, "a section's bytes are not all laid out");
  }
}

bool samePieces(const vorlith::PieceLayout& a, const vorlith::PieceLayout& b) {
  if (a.pieces.size() != b.pieces.size()) {
    return false;
  }
  for (size_t i = 0; i < a.pieces.size(); ++i) {
    const vorlith::Piece& x = a.pieces[i];
    const vorlith::Piece& y = b.pieces[i];
    if (x.address != y.address || x.size != y.size || x.name != y.name || x.section != y.section ||
        x.role != y.role) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vorlith::elf::Image image;
  try {
    image = vorlith::elf::readElf(bytes, "fuzz");
  } catch (const std::runtime_error&) {
    return 0;  // the reader's refusals are elf_fuzz's business
  }
  for (vorlith::Measure measure : {vorlith::Measure::Memory, vorlith::Measure::File}) {
    try {
      vorlith::PieceLayout layout = vorlith::layoutBinary(image, "fuzz", measure);
      checkLayout(layout, measure);
      check(samePieces(layout, vorlith::layoutBinary(image, "fuzz", measure)),
            "two layouts of the same image differ");
    } catch (const std::runtime_error& e) {
      check(!image.hasSymbolTable, "a refusal of a file with a symbol table", e.what());
    }
  }
  return 0;
}
