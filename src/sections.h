// What an output section holds and what it costs: its kind (code, read-only data, unwind
// tables, ...), whether it is loaded and whether it has bytes in the file, and whether the
// linker made its contents. Told from the section's ELF type and flags where a binary gives them,
// else from its standard name:
//   .text .init .fini             code              .tdata .tbss        thread-local data
//   .rodata .rodata.* .note.*     read-only data    .bss .sbss COMMON    zero-initialised
//   .eh_frame .gcc_except_table   unwind tables     .dynsym .rela.dyn    dynamic linking
//   .data .init_array .got        writable data     .debug_* .comment    not loaded
#pragma once

#include <cstdint>
#include <string_view>

namespace vorlith {

enum class SectionKind : uint8_t {
  Code,
  ReadOnlyData,
  Unwind,
  Data,
  ThreadLocal,
  ZeroInitialised,
  Dynamic,
  NotLoaded,
  Headers,  // the file's own headers and the gaps between sections: not a section at all
};

inline constexpr int kSectionKinds = 9;

// The kind's name in documents and the CSV ("code", "rodata", "unwind", "data", "tls", "bss",
// "dynamic", "unloaded", "headers").
[[nodiscard]] std::string_view kindId(SectionKind kind);
// The kind as reports say it ("code", "read-only data", ...).
[[nodiscard]] std::string_view kindLabel(SectionKind kind);

// What a section is, as far as sizing goes.
struct SectionTraits {
  SectionKind kind = SectionKind::Data;
  bool loaded = true;       // part of the loaded image (SHF_ALLOC)
  bool fileBytes = true;    // holds bytes in the file (not SHT_NOBITS)
  bool linkerMade = false;  // the linker wrote its contents (symbol tables, GOT, PLT, notes, ...)
};

// The traits of an output section known only by its name (a map without its binary). An ELF
// map lists sections that are not loaded at address 0, which `address` tells for names this
// table lacks.
[[nodiscard]] SectionTraits traitsOfSectionName(std::string_view name, uint64_t address);

// The traits of a section of an ELF file, from its type (SHT_*) and flags (SHF_*); the name
// only tells what the flags cannot (unwind tables, the PLT and GOT, notes made by the linker).
[[nodiscard]] SectionTraits traitsOfElfSection(std::string_view name, uint32_t type,
                                               uint64_t flags);

// Whether `name` is a thread-local section (.tdata, .tbss and their dotted variants), whose
// symbols some linkers list at their offset in the thread-local block.
[[nodiscard]] bool isThreadLocalSectionName(std::string_view name);

// The group that holds what the linker made, by section.
inline constexpr std::string_view kLinkerGroup = "Linker-generated";
// The group that holds the bytes of a section that nothing else claims, as "<section>
// (unattributed)".
inline constexpr std::string_view kUnattributedGroup = "Unattributed";
inline constexpr std::string_view kUnattributedSuffix = " (unattributed)";

}  // namespace vorlith
