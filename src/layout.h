// Where a program's bytes lie, section by section, under the modern rules: each entry of a map
// (or symbol of a binary) gets the bytes from its address to the next entry of its own output
// section, never past the section's end. Sections are apart from each other: what a debug
// section lists at small offsets, the thread-local block and a .tbss that shares its addresses
// with the next section never cut a symbol of another section. Only the sections that the
// measure counts take part (Measure::Memory: the loaded ones; Measure::File: those with bytes in
// the file), and every byte of those is given to exactly one entry:
//
//   .rodata 0x2000 0x8          [0x2000, 0x2008): its entries, to the next one or the end
//    .rodata.cst2 0x2008 0x2 c3.o    listed past the end (merged away): no bytes at all
//   .eh_frame_hdr 0x2008 0x2c   [0x2008, 0x2034): one piece, "Linker-generated › .eh_frame_hdr"
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "map_sections.h"
#include "mapfile.h"
#include "options.h"
#include "sections.h"

namespace vorlith {

namespace elf {
struct Image;
}

// A section as the tree and the reports know it.
struct LayoutSection {
  std::string_view name;  // owned by the map or the binary
  uint64_t address = 0;
  uint64_t size = 0;
  SectionTraits traits;
};

// The sizes of all sections by kind, in both measures: what --summary tables.
struct KindTotals {
  uint64_t memory[kSectionKinds] = {};
  uint64_t file[kSectionKinds] = {};
  // Whether the file measure covers the whole file (headers and gaps too): only a binary
  // tells where those lie.
  bool wholeFile = false;
  Measure measure = Measure::Memory;  // the one the layout's pieces count
};

// How a piece of a section is filed.
enum class PieceRole : uint8_t {
  Entry,       // a symbol, input section or fill: filed by its name
  Padding,     // the gap after a sized entry: "Afterpadding", then as its name
  SectionOwn,  // what nothing else in the section claims: "Unattributed › <section> (unattributed)"
  LinkerMade,  // a section the linker wrote: "Linker-generated › <section>"
};

// One leaf to be: a stretch of bytes (or several of one entry, given at the first one's
// address) and where it goes.
struct Piece {
  uint64_t address = 0;
  uint64_t size = 0;
  std::string_view name;  // the entry's name; the section's for the section's own bytes
  uint32_t section = kNoSection;
  uint32_t object = kNoObject;
  PieceRole role = PieceRole::Entry;
};

// The section each symbol of a sorted map list lies in and the bytes it is given: the part of
// a map's layout that stays beside its symbol list, so that the list is not copied.
struct MapLayout {
  std::vector<LayoutSection> sections;  // one per section of the map, in its order
  std::vector<uint64_t> sizes;          // per symbol: its bytes, 0 for none
  KindTotals totals;
};

// Whether a map's symbols can be laid out by their sections: an ELF map read under the modern
// rules lists them.
[[nodiscard]] bool hasSectionLayout(const MapFile& map);

// Adds an entry at the start of every section of `map` (the section's own bytes, up to its first
// entry) to `symbols`, moves the thread-local symbols that a linker lists at their offset in the
// thread-local block (ld.lld, gold) to their addresses, and keeps the list sorted by address
// and line. The entries' names are the sections' names, owned by the map.
void addSectionStarts(std::vector<Symbol>& symbols, const MapSections& sections);

// Sizes every symbol of `symbols` (sorted, after addSectionStarts) within its section, as
// `measure` counts: 0 for an entry outside the sections counted, outside its section's range,
// or of a section the linker made (whose start entry takes the whole section).
[[nodiscard]] MapLayout layoutMap(const std::vector<Symbol>& symbols, const MapSections& sections,
                                  Measure measure);

// Drops the symbols of size 0 and their sizes, keeping the order. Every symbol left is filed.
void dropUnsized(std::vector<Symbol>& symbols, std::vector<uint64_t>& sizes);

// How the symbol at `index` of a laid-out map is filed.
[[nodiscard]] Piece pieceOfMapSymbol(const std::vector<Symbol>& symbols,
                                     const std::vector<uint64_t>& sizes, const MapLayout& layout,
                                     const MapSections& sections, size_t index);
// The same, with the object of its input section given (objectsOfMapSymbols) rather than looked
// up among the map's input sections, which may be gone.
[[nodiscard]] Piece pieceOfMapSymbol(const std::vector<Symbol>& symbols,
                                     const std::vector<uint64_t>& sizes, const MapLayout& layout,
                                     const MapSections& sections, size_t index, uint32_t object);

// The object of the input section that holds each symbol of `symbols` (MapSections::objectOfLine
// of its line), in the list's order: with these, the map's input sections may go before the
// symbols are filed.
[[nodiscard]] std::vector<uint32_t> objectsOfMapSymbols(const std::vector<Symbol>& symbols,
                                                        const MapSections& sections);

// A whole layout of pieces: from a binary, alone or with its map.
struct PieceLayout {
  std::vector<LayoutSection> sections;
  std::vector<std::string_view> objects;  // views into the map's table
  std::vector<Piece> pieces;              // in the order they are filed
  KindTotals totals;
  std::vector<std::string> ownedNames;  // names made here (none so far); never moves them
};

// Lays out a binary alone: every defined function and object with a size at its address with
// exactly its size, the rest of each section as its own piece; with Measure::File also the
// ELF header, program and section headers and the gaps between sections. Throws
// std::runtime_error for a file without a symbol table.
[[nodiscard]] PieceLayout layoutBinary(const elf::Image& image, std::string_view path,
                                       Measure measure);

// Lays out a binary with the map of its link (`symbols` sorted, after addSectionStarts; `sizes`
// from layoutMap, same length): the binary's symbols as above, and the bytes they leave filed as
// the map files them. Throws std::runtime_error naming the first section whose address or size
// disagrees when the two come from different links, or when the binary has no symbol table.
[[nodiscard]] PieceLayout layoutBinaryWithMap(const elf::Image& image, std::string_view path,
                                              const std::vector<Symbol>& symbols,
                                              const std::vector<uint64_t>& sizes,
                                              const MapSections& sections, Measure measure);

}  // namespace vorlith
