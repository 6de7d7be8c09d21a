// Builds small ELF files of either class and byte order, section by section, so that tests can
// make exactly the file they need (extended section numbering, a million symbols, a string table
// without its final NUL) and then break one field of it with `put`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace elftest {

struct SectionSpec {
  std::string name{};
  uint32_t type = 1;  // SHT_PROGBITS
  uint64_t flags = 0;
  uint64_t address = 0;
  std::string bytes{};      // the contents in the file
  uint64_t noBitsSize = 0;  // sh_size of a SHT_NOBITS section, which has no bytes
  uint32_t link = 0;
  uint32_t info = 0;
  uint64_t alignment = 1;
  uint64_t entrySize = 0;
};

struct SymbolSpec {
  std::string name{};
  uint64_t value = 0;
  uint64_t size = 0;
  uint8_t type = 0;      // STT_*
  uint8_t binding = 0;   // STB_*
  uint16_t section = 0;  // st_shndx as written
};

class ElfBuilder {
 public:
  explicit ElfBuilder(bool is64 = true, bool bigEndian = false) : is64_(is64), big_(bigEndian) {}

  size_t headerSize() const { return is64_ ? 64 : 52; }
  size_t sectionEntrySize() const { return is64_ ? 64 : 40; }
  size_t symbolEntrySize() const { return is64_ ? 24 : 16; }

  // Adds a section; returns its index (section 0 is the null section).
  uint32_t add(SectionSpec section) {
    sections_.push_back(std::move(section));
    return static_cast<uint32_t>(sections_.size());
  }

  // The bytes of a symbol table holding the null symbol and `symbols`; names go into `strings`,
  // a string table that starts with its NUL.
  std::string symbolEntries(const std::vector<SymbolSpec>& symbols, std::string& strings) const {
    if (strings.empty()) {
      strings.push_back('\0');
    }
    std::string out(symbolEntrySize(), '\0');
    for (const SymbolSpec& s : symbols) {
      uint32_t name = 0;
      if (!s.name.empty()) {
        name = static_cast<uint32_t>(strings.size());
        strings.append(s.name).push_back('\0');
      }
      std::string entry(symbolEntrySize(), '\0');
      uint8_t info = static_cast<uint8_t>((s.binding << 4) | (s.type & 15));
      if (is64_) {
        put(entry, 0, 4, name);
        put(entry, 4, 1, info);
        put(entry, 6, 2, s.section);
        put(entry, 8, 8, s.value);
        put(entry, 16, 8, s.size);
      } else {
        put(entry, 0, 4, name);
        put(entry, 4, 4, s.value);
        put(entry, 8, 4, s.size);
        put(entry, 12, 1, info);
        put(entry, 14, 2, s.section);
      }
      out += entry;
    }
    return out;
  }

  // Adds .symtab and its .strtab; returns the index of .symtab.
  uint32_t addSymbolTable(const std::vector<SymbolSpec>& symbols) {
    std::string strings;
    std::string entries = symbolEntries(symbols, strings);
    uint32_t names = add({.name = ".strtab", .type = 3, .bytes = strings});
    return add({.name = ".symtab",
                .type = 2,
                .bytes = entries,
                .link = names,
                .info = 1,
                .alignment = 8,
                .entrySize = symbolEntrySize()});
  }

  // The file: header, `programCount` zeroed program headers, the sections' bytes (8-aligned),
  // .shstrtab (added last), the section header table.
  std::string build(size_t programCount = 0) const {
    std::vector<SectionSpec> all = sections_;
    std::string names(1, '\0');
    std::vector<uint32_t> nameOffsets{0};
    for (const SectionSpec& s : all) {
      nameOffsets.push_back(static_cast<uint32_t>(names.size()));
      names.append(s.name).push_back('\0');
    }
    nameOffsets.push_back(static_cast<uint32_t>(names.size()));
    names.append(".shstrtab").push_back('\0');
    all.push_back({.name = ".shstrtab", .type = 3, .bytes = names});

    size_t programEntry = is64_ ? 56 : 32;
    std::string file(headerSize() + programCount * programEntry, '\0');
    std::vector<uint64_t> offsets{0};
    for (const SectionSpec& s : all) {
      file.resize((file.size() + 7) & ~size_t{7}, '\0');
      offsets.push_back(file.size());
      if (s.type != 8) {
        file += s.bytes;
      }
    }
    file.resize((file.size() + 7) & ~size_t{7}, '\0');
    uint64_t sectionOffset = file.size();
    file.append(sectionEntrySize(), '\0');  // section 0
    for (size_t i = 0; i < all.size(); ++i) {
      const SectionSpec& s = all[i];
      std::string entry(sectionEntrySize(), '\0');
      uint64_t size = s.type == 8 ? s.noBitsSize : s.bytes.size();
      size_t w = is64_ ? 8 : 4;
      put(entry, 0, 4, nameOffsets[i + 1]);
      put(entry, 4, 4, s.type);
      put(entry, 8, w, s.flags);
      put(entry, 8 + w, w, s.address);
      put(entry, 8 + 2 * w, w, offsets[i + 1]);
      put(entry, 8 + 3 * w, w, size);
      put(entry, 8 + 4 * w, 4, s.link);
      put(entry, 12 + 4 * w, 4, s.info);
      put(entry, 16 + 4 * w, w, s.alignment);
      put(entry, 16 + 5 * w, w, s.entrySize);
      file += entry;
    }
    std::string& h = file;
    h[0] = '\x7f';
    h[1] = 'E';
    h[2] = 'L';
    h[3] = 'F';
    h[4] = is64_ ? 2 : 1;
    h[5] = big_ ? 2 : 1;
    h[6] = 1;
    put(h, 16, 2, 2);   // ET_EXEC
    put(h, 18, 2, 62);  // EM_X86_64, whatever the class: the reader does not care
    put(h, 20, 4, 1);
    size_t w = is64_ ? 8 : 4;
    put(h, 24 + w, w, programCount > 0 ? headerSize() : 0);  // e_phoff
    put(h, 24 + 2 * w, w, sectionOffset);                    // e_shoff
    size_t small = is64_ ? 52 : 40;
    put(h, small, 2, headerSize());
    put(h, small + 2, 2, programEntry);
    put(h, small + 4, 2, programCount);
    put(h, small + 6, 2, sectionEntrySize());
    // From 0xff00 on, the count and the name table's index go into section 0 (sh_size, sh_link).
    size_t count = all.size() + 1;
    size_t nameTable = all.size();  // .shstrtab, the last
    put(h, small + 8, 2, count < 0xff00 ? count : 0);
    put(h, small + 10, 2, nameTable < 0xff00 ? nameTable : 0xffff);
    if (count >= 0xff00) {
      put(file, sectionOffset + (is64_ ? 32 : 20), w, count);
      put(file, sectionOffset + (is64_ ? 40 : 24), 4, nameTable);
    }
    return file;
  }

  // Where fields of a built file lie, for tests that break them.
  size_t shoffAt() const { return is64_ ? 40 : 32; }
  size_t shnumAt() const { return is64_ ? 60 : 48; }
  size_t shstrndxAt() const { return is64_ ? 62 : 50; }
  size_t shentsizeAt() const { return is64_ ? 58 : 46; }
  size_t phnumAt() const { return is64_ ? 56 : 44; }
  // Field offsets inside a section header.
  size_t shNameAt() const { return 0; }
  size_t shTypeAt() const { return 4; }
  size_t shOffsetAt() const { return is64_ ? 24 : 16; }
  size_t shSizeAt() const { return is64_ ? 32 : 20; }
  size_t shLinkAt() const { return is64_ ? 40 : 24; }
  size_t shInfoAt() const { return is64_ ? 44 : 28; }
  size_t shEntsizeAt() const { return is64_ ? 56 : 36; }

  // The offset of section `index`'s header in `file` as build() laid it out.
  uint64_t sectionHeaderOf(const std::string& file, size_t index) const {
    return get(file, shoffAt(), is64_ ? 8 : 4) + index * sectionEntrySize();
  }

  // Writes `value` as `width` bytes at `at` in the file's byte order.
  void put(std::string& bytes, size_t at, size_t width, uint64_t value) const {
    for (size_t k = 0; k < width; ++k) {
      size_t i = big_ ? at + width - 1 - k : at + k;
      bytes[i] = static_cast<char>(value & 0xff);
      value >>= 8;
    }
  }

  uint64_t get(const std::string& bytes, size_t at, size_t width) const {
    uint64_t value = 0;
    for (size_t k = 0; k < width; ++k) {
      size_t i = big_ ? at + k : at + width - 1 - k;
      value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
  }

 private:
  bool is64_;
  bool big_;
  std::vector<SectionSpec> sections_;
};

}  // namespace elftest
