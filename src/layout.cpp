#include "layout.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "elf_file.h"

namespace vorlith {

using std::string_view;

namespace {

// ELF constants (<elf.h>'s values).
constexpr uint8_t kSttNotype = 0;
constexpr uint8_t kSttObject = 1;
constexpr uint8_t kSttFunc = 2;
constexpr uint8_t kSttTls = 6;
constexpr uint8_t kSttGnuIfunc = 10;
constexpr uint8_t kStbLocal = 0;
constexpr uint8_t kStbGlobal = 1;
constexpr uint32_t kShtNull = 0;
constexpr uint64_t kShfTls = 0x400;

// Whether a section of `size` bytes takes part in the measure.
bool counts(const SectionTraits& traits, uint64_t size, Measure measure) {
  return size != 0 && (measure == Measure::Memory ? traits.loaded : traits.fileBytes);
}

// Whether `address` lies in [start, start + size); the end may wrap.
bool inside(uint64_t address, uint64_t start, uint64_t size) {
  return address >= start && address - start < size;
}

// The same with the end included: where the end of an entry may lie.
bool insideOrAtEnd(uint64_t address, uint64_t start, uint64_t size) {
  return address >= start && address - start <= size;
}

void addToTotals(KindTotals& totals, const SectionTraits& traits, uint64_t size) {
  auto kind = static_cast<size_t>(traits.kind);
  totals.memory[kind] += traits.loaded ? size : 0;
  totals.file[kind] += traits.fileBytes ? size : 0;
}

bool isSectionStart(const Symbol& symbol, const MapSection& section) {
  return symbol.index == section.line && symbol.name == section.name;
}

std::string hex(uint64_t n) {
  char text[19];
  int count = 0;
  do {
    text[count++] = "0123456789abcdef"[n & 0xF];
    n >>= 4;
  } while (n != 0);
  std::string out = "0x";
  while (count > 0) {
    out += text[--count];
  }
  return out;
}

[[noreturn]] void failStripped(string_view path) {
  throw std::runtime_error(
      std::string(path) +
      ": the file has no symbol table (it was stripped), so its symbols cannot be sized: give "
      "the program as the linker wrote it, before strip or install -s, and link without -s "
      "(-Wl,-s)");
}

// A symbol of the binary chosen to take its bytes. Offsets within its section, which never
// wrap, place it; the address is what the leaf shows.
struct Candidate {
  uint64_t address = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  string_view name;
  int rank = 0;      // of its binding: global before weak before local
  size_t order = 0;  // in the symbol table
};

// The sections of a binary as pieces are laid out in them.
struct BinarySections {
  PieceLayout* out = nullptr;
  std::vector<uint32_t> layoutIndex;  // per section header: its LayoutSection, or kNoSection
  std::vector<std::vector<Candidate>> candidates;  // per LayoutSection
  uint64_t tlsBase = UINT64_MAX;
};

BinarySections readSections(const elf::Image& image, Measure measure, PieceLayout& out) {
  BinarySections binary;
  binary.out = &out;
  binary.layoutIndex.assign(image.sections.size(), kNoSection);
  for (const elf::Section& section : image.sections) {
    if (section.type == kShtNull) {
      continue;
    }
    SectionTraits traits = traitsOfElfSection(section.name, section.type, section.flags);
    addToTotals(out.totals, traits, section.size);
    if (section.allocated() && (section.flags & kShfTls) != 0 && section.size != 0) {
      binary.tlsBase = std::min(binary.tlsBase, section.address);
    }
    if (!counts(traits, section.size, measure)) {
      continue;
    }
    binary.layoutIndex[section.index] = static_cast<uint32_t>(out.sections.size());
    out.sections.push_back({section.name, section.address, section.size, traits});
  }
  out.totals.wholeFile = true;
  out.totals.measure = measure;
  binary.candidates.resize(out.sections.size());
  return binary;
}

// Every defined function and object (and thread-local variable, indirect function, sized
// assembly label) with a size, at its address in its section.
void chooseSymbols(const elf::Image& image, BinarySections& binary) {
  const std::vector<LayoutSection>& sections = binary.out->sections;
  for (size_t order = 0; order < image.symbols.size(); ++order) {
    const elf::Symbol& symbol = image.symbols[order];
    bool sized = symbol.type == kSttObject || symbol.type == kSttFunc || symbol.type == kSttTls ||
                 symbol.type == kSttGnuIfunc || symbol.type == kSttNotype;
    if (!sized || symbol.size == 0 || !symbol.inSection() ||
        symbol.sectionIndex >= binary.layoutIndex.size()) {
      continue;
    }
    uint32_t at = binary.layoutIndex[symbol.sectionIndex];
    if (at == kNoSection) {
      continue;
    }
    const LayoutSection& section = sections[at];
    uint64_t address = symbol.value;
    if (symbol.type == kSttTls) {
      if (binary.tlsBase == UINT64_MAX) {
        continue;
      }
      address += binary.tlsBase;  // an offset in the thread-local block
    }
    if (!inside(address, section.address, section.size)) {
      continue;
    }
    uint64_t offset = address - section.address;
    uint64_t size = std::min(symbol.size, section.size - offset);
    int rank = symbol.binding == kStbGlobal ? 0 : symbol.binding == kStbLocal ? 2 : 1;
    binary.candidates[at].push_back({address, offset, size, symbol.name, rank, order});
  }
  // Of symbols at one address the largest takes the bytes (aliases share them), then the one
  // bound most widely, then the first in the table; one that starts inside another's bytes gets
  // only what lies past them.
  for (size_t at = 0; at < binary.candidates.size(); ++at) {
    std::vector<Candidate>& list = binary.candidates[at];
    std::sort(list.begin(), list.end(), [](const Candidate& a, const Candidate& b) {
      if (a.offset != b.offset) {
        return a.offset < b.offset;
      }
      if (a.size != b.size) {
        return a.size > b.size;
      }
      return a.rank != b.rank ? a.rank < b.rank : a.order < b.order;
    });
    if (sections[at].name == ".opd") {
      // 64-bit PowerPC's function descriptors: a function's symbol is its descriptor, but its
      // size that of its code, which lies in .text. Each keeps its descriptor's bytes.
      for (size_t k = 0; k + 1 < list.size(); ++k) {
        list[k].size = std::min(list[k].size, list[k + 1].offset - list[k].offset);
      }
    }
    uint64_t covered = 0;  // the end of the bytes taken so far, as an offset
    size_t kept = 0;
    for (Candidate& c : list) {
      uint64_t end = c.offset + c.size;  // within the section: no wrap
      if (c.size == 0 || end <= covered) {
        continue;
      }
      if (c.offset < covered) {
        c.address += covered - c.offset;
        c.size = end - covered;
        c.offset = covered;
      }
      covered = end;
      list[kept++] = c;
    }
    list.resize(kept);
  }
}

// The role of a piece of a binary's section.
PieceRole roleIn(const LayoutSection& section, PieceRole otherwise) {
  return section.traits.linkerMade ? PieceRole::LinkerMade : otherwise;
}

// The pieces of a section that no map describes: its chosen symbols and the bytes between them
// as the section's own.
void layOutAlone(BinarySections& binary, uint32_t at) {
  PieceLayout& out = *binary.out;
  const LayoutSection& section = out.sections[at];
  uint64_t cursor = 0;  // offsets within the section
  uint64_t own = 0;
  uint64_t ownFirst = 0;
  size_t ownAt = 0;  // where among the section's pieces the first of its own bytes lies
  size_t first = out.pieces.size();
  auto leaveOwn = [&](uint64_t from, uint64_t to) {
    if (to > from) {
      if (own == 0) {
        ownFirst = from;
        ownAt = out.pieces.size();
      }
      own += to - from;
    }
  };
  for (const Candidate& c : binary.candidates[at]) {
    leaveOwn(cursor, c.offset);
    out.pieces.push_back(
        {c.address, c.size, c.name, at, kNoObject, roleIn(section, PieceRole::Entry)});
    cursor = c.offset + c.size;
  }
  leaveOwn(cursor, section.size);
  if (own != 0) {
    // Filed where its first byte lies, so that the pieces stay in address order.
    out.pieces.insert(out.pieces.begin() + static_cast<ptrdiff_t>(std::max(ownAt, first)),
                      {section.address + ownFirst, own, section.name, at, kNoObject,
                       roleIn(section, PieceRole::SectionOwn)});
  }
}

// The ELF header, the program and section headers, and whatever of the file lies between them
// and the sections' bytes: in the file measure's totals, and with Measure::File as pieces of
// their own, so that the pieces add up to the file.
void addFileStructure(const elf::Image& image, Measure measure, PieceLayout& out) {
  struct Range {
    uint64_t offset;
    uint64_t size;
  };
  std::vector<Range> used;
  auto structure = [&out, measure](string_view name, uint64_t offset, uint64_t size) {
    out.totals.file[static_cast<size_t>(SectionKind::Headers)] += size;
    if (measure != Measure::File) {
      return;
    }
    SectionTraits traits{SectionKind::Headers, false, true, true};
    auto at = static_cast<uint32_t>(out.sections.size());
    out.sections.push_back({name, offset, size, traits});
    out.pieces.push_back({offset, size, name, at, kNoObject, PieceRole::LinkerMade});
  };
  for (auto [name, range] : {std::pair<string_view, elf::FileRange>{"ELF header", image.elfHeader},
                             {"program headers", image.programHeaders},
                             {"section headers", image.sectionHeaders}}) {
    if (range.size != 0) {
      structure(name, range.offset, range.size);
      used.push_back({range.offset, range.size});
    }
  }
  for (const elf::Section& section : image.sections) {
    if (section.hasFileBytes()) {
      used.push_back({section.offset, section.size});
    }
  }
  std::sort(used.begin(), used.end(),
            [](const Range& a, const Range& b) { return a.offset < b.offset; });
  uint64_t cursor = 0;
  uint64_t gaps = 0;
  uint64_t firstGap = 0;
  auto gap = [&](uint64_t to) {
    if (to > cursor) {
      firstGap = gaps == 0 ? cursor : firstGap;
      gaps += to - cursor;
    }
  };
  for (const Range& range : used) {
    gap(range.offset);
    cursor = std::max(cursor, range.offset + range.size);
  }
  gap(image.fileSize);
  if (gaps != 0) {
    structure("gaps between sections", firstGap, gaps);
  }
}

// The first section of the map whose address or size the binary does not share.
void requireSameLink(const elf::Image& image, string_view path, const MapSections& map) {
  std::unordered_map<string_view, const elf::Section*> byName;
  for (const elf::Section& section : image.sections) {
    byName.emplace(section.name, &section);  // the first of a name, as the map lists it first
  }
  for (const MapSection& section : map.sections()) {
    if (section.size == 0) {
      continue;
    }
    auto found = byName.find(section.name);
    std::string inMap = "section " + std::string(section.name) + " is at " + hex(section.address) +
                        " with " + std::to_string(section.size) + " bytes in the map";
    if (found == byName.end()) {
      if (traitsOfSectionName(section.name, section.address).loaded) {
        throw std::runtime_error(std::string(path) +
                                 ": the map and the binary are not of the same link: " + inMap +
                                 ", and the binary has no such section");
      }
      continue;  // not loaded: debug sections go with strip --strip-debug
    }
    const elf::Section& section2 = *found->second;
    if (section2.address != section.address || section2.size != section.size) {
      throw std::runtime_error(std::string(path) +
                               ": the map and the binary are not of the same link: " + inMap +
                               ", at " + hex(section2.address) + " with " +
                               std::to_string(section2.size) + " bytes in the binary");
    }
  }
}

}  // namespace

bool hasSectionLayout(const MapFile& map) {
  return !map.sections().empty();
}

void addSectionStarts(std::vector<Symbol>& symbols, const MapSections& sections) {
  const std::vector<MapSection>& list = sections.sections();
  uint64_t tlsBase = UINT64_MAX;
  for (const MapSection& section : list) {
    if (isThreadLocalSectionName(section.name) && section.size != 0 && section.address != 0) {
      tlsBase = std::min(tlsBase, section.address);
    }
  }
  auto before = [](const Symbol& a, const Symbol& b) {
    return a.address != b.address ? a.address < b.address : a.index < b.index;
  };
  bool moved = false;
  if (tlsBase != UINT64_MAX) {
    // Each section's names are told once: the symbols ask which section's lines hold them.
    std::vector<bool> threadLocal(list.size());
    for (size_t k = 0; k < list.size(); ++k) {
      threadLocal[k] = isThreadLocalSectionName(list[k].name);
    }
    for (Symbol& symbol : symbols) {
      uint32_t at = sections.sectionOfLine(symbol.index);
      if (at == kNoSection || !threadLocal[at]) {
        continue;
      }
      const MapSection& section = list[at];
      // ld.lld and gold list a thread-local symbol (and the end of a sized one) at its offset
      // in the block, which begins at the first thread-local section.
      if (!insideOrAtEnd(symbol.address, section.address, section.size) &&
          insideOrAtEnd(tlsBase + symbol.address, section.address, section.size)) {
        symbol.address += tlsBase;
        moved = true;
      }
    }
  }
  if (moved) {
    std::sort(symbols.begin(), symbols.end(), before);
  }
  size_t listed = symbols.size();
  for (const MapSection& section : list) {
    Symbol start{section.address, section.name, section.line};
    // ld.lld and mold list the section as a row of its own, which already is its start.
    auto [from, to] = std::equal_range(
        symbols.begin(), symbols.begin() + static_cast<ptrdiff_t>(listed), start, before);
    bool present = std::any_of(from, to, [&](const Symbol& s) { return s.name == section.name; });
    if (!present) {
      symbols.push_back(start);
    }
  }
  auto tail = symbols.begin() + static_cast<ptrdiff_t>(listed);
  std::sort(tail, symbols.end(), before);
  std::inplace_merge(symbols.begin(), tail, symbols.end(), before);
}

namespace {

// The end markers of input sections that GNU ld lists with their size before merging although
// they were merged into another (.rodata.cst2 of a second object): the next input section is
// listed at the same address, or a little after, and its bytes are its own. An input section
// whose end lies past the start of the next one listed in its output section ends nothing.
std::vector<bool> mergedAwayEnds(const std::vector<Symbol>& symbols, const MapSections& sections) {
  const std::vector<MapInput>& inputs = sections.inputs();
  std::vector<uint64_t> start(inputs.size(), UINT64_MAX);
  for (const Symbol& symbol : symbols) {
    if (symbol.name.starts_with(kEndMarker)) {
      continue;
    }
    size_t input = sections.inputOnLine(symbol.index);
    if (input != SIZE_MAX) {
      start[input] = symbol.address;
    }
  }
  std::vector<bool> merged(symbols.size(), false);
  for (size_t i = 0; i < symbols.size(); ++i) {
    if (!symbols[i].name.starts_with(kEndMarker)) {
      continue;
    }
    size_t input = sections.inputOnLine(symbols[i].index);
    if (input == SIZE_MAX || input + 1 >= inputs.size() ||
        sections.sectionOfLine(inputs[input + 1].line) !=
            sections.sectionOfLine(inputs[input].line)) {
      continue;
    }
    merged[i] = start[input + 1] < symbols[i].address;
  }
  return merged;
}

}  // namespace

MapLayout layoutMap(const std::vector<Symbol>& symbols, const MapSections& sections,
                    Measure measure) {
  MapLayout layout;
  layout.totals.measure = measure;
  const std::vector<MapSection>& list = sections.sections();
  layout.sections.reserve(list.size());
  for (const MapSection& section : list) {
    SectionTraits traits = traitsOfSectionName(section.name, section.address);
    layout.sections.push_back({section.name, section.address, section.size, traits});
    addToTotals(layout.totals, traits, section.size);
  }
  // From the last symbol back, each section's next entry is the bound of the one before it,
  // as an offset within the section (which never wraps).
  std::vector<uint64_t> next(list.size());
  for (size_t k = 0; k < list.size(); ++k) {
    next[k] = list[k].size;
  }
  layout.sizes.assign(symbols.size(), 0);
  std::vector<bool> merged = mergedAwayEnds(symbols, sections);
  for (size_t i = symbols.size(); i-- > 0;) {
    const Symbol& symbol = symbols[i];
    uint32_t at = sections.sectionOfLine(symbol.index);
    if (at == kNoSection || merged[i]) {
      continue;  // outside every section, or the end of nothing
    }
    const LayoutSection& section = layout.sections[at];
    if (!counts(section.traits, section.size, measure) ||
        !inside(symbol.address, section.address, section.size)) {
      continue;  // merged away and listed past the end, or not counted
    }
    uint64_t offset = symbol.address - section.address;
    // Entries come in address order; only a section that wraps past the top of the address
    // space, which no linker makes, could put a later offset first.
    uint64_t size = next[at] > offset ? next[at] - offset : 0;
    next[at] = offset;
    if (section.traits.linkerMade) {
      size = isSectionStart(symbol, list[at]) ? section.size : 0;
    }
    layout.sizes[i] = size;
  }
  return layout;
}

void dropUnsized(std::vector<Symbol>& symbols, std::vector<uint64_t>& sizes) {
  size_t kept = 0;
  for (size_t i = 0; i < symbols.size(); ++i) {
    if (sizes[i] != 0) {
      symbols[kept] = symbols[i];
      sizes[kept] = sizes[i];
      ++kept;
    }
  }
  symbols.resize(kept);
  sizes.resize(kept);
}

Piece pieceOfMapSymbol(const std::vector<Symbol>& symbols, const std::vector<uint64_t>& sizes,
                       const MapLayout& layout, const MapSections& sections, size_t index) {
  return pieceOfMapSymbol(symbols, sizes, layout, sections, index,
                          sections.objectOfLine(symbols[index].index));
}

std::vector<uint32_t> objectsOfMapSymbols(const std::vector<Symbol>& symbols,
                                          const MapSections& sections) {
  std::vector<uint32_t> objects(symbols.size());
  for (size_t i = 0; i < symbols.size(); ++i) {
    objects[i] = sections.objectOfLine(symbols[i].index);
  }
  return objects;
}

Piece pieceOfMapSymbol(const std::vector<Symbol>& symbols, const std::vector<uint64_t>& sizes,
                       const MapLayout& layout, const MapSections& sections, size_t index,
                       uint32_t object) {
  const Symbol& symbol = symbols[index];
  Piece piece;
  piece.address = symbol.address;
  piece.size = sizes[index];
  piece.name = symbol.name;
  piece.section = sections.sectionOfLine(symbol.index);
  if (piece.section == kNoSection) {
    return piece;
  }
  const MapSection& section = sections.sections()[piece.section];
  if (layout.sections[piece.section].traits.linkerMade) {
    piece.role = PieceRole::LinkerMade;
    piece.name = section.name;
  } else if (isSectionStart(symbol, section)) {
    piece.role = PieceRole::SectionOwn;
  } else {
    if (piece.name.starts_with(kEndMarker)) {
      piece.role = PieceRole::Padding;
      piece.name.remove_prefix(kEndMarker.size());
    }
    piece.object = object;
  }
  return piece;
}

PieceLayout layoutBinary(const elf::Image& image, string_view path, Measure measure) {
  if (!image.hasSymbolTable) {
    failStripped(path);
  }
  PieceLayout out;
  BinarySections binary = readSections(image, measure, out);
  chooseSymbols(image, binary);
  for (uint32_t at = 0; at < out.sections.size(); ++at) {
    layOutAlone(binary, at);
  }
  addFileStructure(image, measure, out);
  return out;
}

PieceLayout layoutBinaryWithMap(const elf::Image& image, string_view path,
                                const std::vector<Symbol>& symbols,
                                const std::vector<uint64_t>& sizes, const MapSections& sections,
                                Measure measure) {
  if (!image.hasSymbolTable) {
    failStripped(path);
  }
  requireSameLink(image, path, sections);
  PieceLayout out;
  out.objects = sections.objects();
  BinarySections binary = readSections(image, measure, out);
  chooseSymbols(image, binary);
  MapLayout mapLayout;  // the map's traits, for the roles of its entries
  for (const MapSection& section : sections.sections()) {
    mapLayout.sections.push_back({section.name, section.address, section.size,
                                  traitsOfSectionName(section.name, section.address)});
  }
  // The map's entries of each section of the binary, in address order.
  std::unordered_map<string_view, uint32_t> layoutByName;
  for (uint32_t at = 0; at < out.sections.size(); ++at) {
    layoutByName.emplace(out.sections[at].name, at);
  }
  std::vector<std::vector<size_t>> entries(out.sections.size());
  for (size_t i = 0; i < symbols.size(); ++i) {
    uint32_t mapSection = sections.sectionOfLine(symbols[i].index);
    if (sizes[i] == 0 || mapSection == kNoSection) {
      continue;
    }
    auto found = layoutByName.find(sections.sections()[mapSection].name);
    if (found != layoutByName.end()) {
      entries[found->second].push_back(i);
    }
  }
  for (uint32_t at = 0; at < out.sections.size(); ++at) {
    const LayoutSection& section = out.sections[at];
    if (entries[at].empty() || section.traits.linkerMade) {
      layOutAlone(binary, at);
      continue;
    }
    // The map's entries tile the section; each is given what the binary's symbols leave of
    // its bytes, and each symbol the object of the entry it begins in. Offsets within the
    // section place both.
    const std::vector<Candidate>& chosen = binary.candidates[at];
    size_t first = out.pieces.size();
    size_t k = 0;  // the first chosen symbol that ends past the current entry's start
    size_t c = 0;  // the next chosen symbol to place
    for (size_t i : entries[at]) {
      Piece piece = pieceOfMapSymbol(symbols, sizes, mapLayout, sections, i);
      uint64_t begin = piece.address - section.address;
      uint64_t end = begin + piece.size;
      for (; c < chosen.size() && chosen[c].offset < end; ++c) {
        const Candidate& symbol = chosen[c];
        out.pieces.push_back(
            {symbol.address, symbol.size, symbol.name, at, piece.object, PieceRole::Entry});
      }
      while (k < chosen.size() && chosen[k].offset + chosen[k].size <= begin) {
        ++k;
      }
      uint64_t cursor = begin;
      uint64_t left = 0;
      uint64_t firstLeft = 0;
      auto leave = [&](uint64_t to) {
        if (to > cursor) {
          firstLeft = left == 0 ? cursor : firstLeft;
          left += to - cursor;
        }
      };
      for (size_t j = k; j < chosen.size() && chosen[j].offset < end; ++j) {
        leave(std::max(begin, chosen[j].offset));
        cursor = std::max(cursor, std::min(end, chosen[j].offset + chosen[j].size));
      }
      leave(end);
      if (left != 0) {
        piece.address = section.address + firstLeft;
        piece.size = left;
        piece.section = at;  // the binary's section, where the map's entry lies
        out.pieces.push_back(piece);
      }
    }
    uint64_t start = section.address;
    std::stable_sort(
        out.pieces.begin() + static_cast<ptrdiff_t>(first), out.pieces.end(),
        [start](const Piece& a, const Piece& b) { return a.address - start < b.address - start; });
  }
  addFileStructure(image, measure, out);
  return out;
}

}  // namespace vorlith
