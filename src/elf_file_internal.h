// Pieces of the ELF reader that need no ELF library, for the reader itself and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith::elf::detail {

// The strings at `offsets` in `table`, a string table that is empty or ends with a NUL byte: each
// runs from its offset to the first NUL at or after it. Offset 0 of an empty table is "". Returns
// views into `table`, or, when an offset lies outside the table, nothing and its position in
// `*outside`. Costs time in proportion to the table plus the offsets (times the logarithm of
// their count when many names share one long string). When `scanned` is given, the bytes
// searched for a NUL are added to it.
[[nodiscard]] bool namesInTable(std::string_view table, std::span<const uint32_t> offsets,
                                std::vector<std::string_view>& names, size_t* outside,
                                uint64_t* scanned = nullptr);

// The table fields of an ELF header, read by hand so that their ranges are checked before any
// library trusts them, with the extended forms (e_shnum 0, e_shstrndx SHN_XINDEX, e_phnum
// PN_XNUM) resolved from section 0.
struct HeaderTables {
  bool is64 = false;
  bool bigEndian = false;
  uint16_t fileType = 0;    // e_type
  uint16_t machine = 0;     // e_machine
  uint16_t headerSize = 0;  // e_ehsize
  uint64_t programOffset = 0;
  uint64_t programCount = 0;
  uint64_t programEntrySize = 0;
  uint64_t sectionOffset = 0;
  uint64_t sectionCount = 0;
  uint64_t sectionEntrySize = 0;
  uint64_t nameTableIndex = 0;  // e_shstrndx resolved; 0 (SHN_UNDEF) when there is none
};

// Reads `length` bytes at `offset` of a file, a range the caller checked lies inside it.
using ReadAt = std::function<std::string(uint64_t offset, size_t length)>;

// Reads and checks the header of a file of `fileSize` bytes: an ELF file of a known class and
// byte order whose header, program header table and section header table lie inside it, with
// entries of their class's size. Reads the header and section 0's entry, nothing else. Throws
// std::runtime_error "name: what is wrong".
[[nodiscard]] HeaderTables readHeaderTables(uint64_t fileSize, const ReadAt& read,
                                            std::string_view name);

}  // namespace vorlith::elf::detail
