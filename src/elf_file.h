// An ELF file as the size tree needs it: the headers' places in the file, the section table and
// the defined symbols of the symbol table, for 32- and 64-bit files of either byte order.
// Reading needs elfutils' libelf at build time; without it canReadElf() is false and readElf
// throws a message that says what to install.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith::elf {

// Whether a file that begins with `head` is an ELF file ("\x7f" "ELF").
[[nodiscard]] bool looksLikeElf(std::string_view head);
// Whether this build can read ELF files (it was built with libelf).
[[nodiscard]] bool canReadElf();

struct Section {
  std::string_view name;  // from the section header string table; "" when it has none
  uint32_t index = 0;     // its number in the section header table
  uint32_t type = 0;      // SHT_*
  uint64_t flags = 0;     // SHF_*
  uint64_t address = 0;   // sh_addr
  uint64_t offset = 0;    // sh_offset
  uint64_t size = 0;      // sh_size (for SHT_NOBITS: memory only, no file bytes)
  uint64_t alignment = 0;
  uint32_t link = 0;  // sh_link
  uint32_t info = 0;  // sh_info
  // SHF_ALLOC: the section takes memory when the program is loaded.
  [[nodiscard]] bool allocated() const;
  // Not SHT_NOBITS nor SHT_NULL, and size > 0: the section's bytes are in the file at
  // [offset, offset + size), which the reader checked lies inside the file.
  [[nodiscard]] bool hasFileBytes() const;
};

struct Symbol {
  std::string_view name;
  uint64_t value = 0;      // st_value: the address (for STT_TLS: the offset in the TLS block)
  uint64_t size = 0;       // st_size
  uint8_t type = 0;        // STT_*
  uint8_t binding = 0;     // STB_*
  uint8_t visibility = 0;  // STV_* (the low bits of st_other)
  // st_shndx, SHN_* values kept as they are, extended indexes (SHN_XINDEX) resolved. 32 bits
  // wide because a resolved index may pass 65535; a value below SHN_LORESERVE, or any value with
  // `extendedIndex` set, names an entry of Image::sections (checked by the reader).
  uint32_t sectionIndex = 0;
  bool extendedIndex = false;  // the index came from the SHT_SYMTAB_SHNDX table
  // Whether sectionIndex names an entry of Image::sections (not SHN_ABS, SHN_COMMON...).
  [[nodiscard]] bool inSection() const;
};

// A range of the file that is not section contents: the ELF header, the program header table,
// the section header table. {0, 0} for a table the file does not have.
struct FileRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct Image {
  bool is64 = false;
  bool bigEndian = false;
  uint16_t machine = 0;   // e_machine
  uint16_t fileType = 0;  // e_type (ET_EXEC, ET_DYN, ...)
  uint64_t fileSize = 0;
  FileRange elfHeader, programHeaders, sectionHeaders;
  // In section header order, index 0 included; empty when the file has no section header
  // table. Sections may overlap in the file and in memory (SHT_NOBITS sections share offsets
  // with what follows them, .tbss addresses too): the reader keeps what the file says.
  std::vector<Section> sections;
  // Defined symbols of .symtab (all of them, locals included, file and section symbols too: the
  // user decides), in table order. Empty when the file has no .symtab (stripped).
  std::vector<Symbol> symbols;
  bool hasSymbolTable = false;     // a .symtab was present
  bool hasDynamicSymbols = false;  // a .dynsym was present
  // Owns the bytes the views above point into: copies of the file's section header string table
  // and symbol string table, so that the file's bytes are not kept.
  std::shared_ptr<const void> storage;
};

// Reads a regular file and parses it: its header and section header table, its symbol table
// and string tables, never the rest (code, data and debug information are most of a program's
// bytes); a file that changes while it is read is refused. Throws std::runtime_error
// "path: what is wrong" (not ELF, truncated, a header or table past the end of the file, sizes
// that overflow, a string table without a final NUL, out of memory...).
[[nodiscard]] Image readElf(const std::string& path);
// The same from bytes in memory (tests, fuzzing); `name` stands for the path in messages.
[[nodiscard]] Image readElf(std::string_view bytes, std::string_view name);

}  // namespace vorlith::elf
