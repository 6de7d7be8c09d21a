#include "sections.h"

#include <array>
#include <initializer_list>

namespace vorlith {

using std::string_view;

namespace {

// ELF constants (the values of <elf.h>, spelt out so that this module needs no system header).
constexpr uint32_t kShtSymtab = 2;
constexpr uint32_t kShtRela = 4;
constexpr uint32_t kShtHash = 5;
constexpr uint32_t kShtDynamic = 6;
constexpr uint32_t kShtNobits = 8;
constexpr uint32_t kShtRel = 9;
constexpr uint32_t kShtDynsym = 11;
constexpr uint32_t kShtRelr = 19;
constexpr uint32_t kShtGnuHash = 0x6ffffff6;
constexpr uint32_t kShtGnuVerdef = 0x6ffffffd;
constexpr uint32_t kShtGnuVerneed = 0x6ffffffe;
constexpr uint32_t kShtGnuVersym = 0x6fffffff;
// SHT_X86_64_UNWIND, and SHT_ARM_EXIDX on ARM: the same number.
constexpr uint32_t kShtUnwind = 0x70000001;
constexpr uint64_t kShfWrite = 0x1;
constexpr uint64_t kShfAlloc = 0x2;
constexpr uint64_t kShfExecinstr = 0x4;
constexpr uint64_t kShfTls = 0x400;

// `name` is `prefix` or begins with `prefix` and a dot: ".text" matches ".text" and
// ".text.unlikely", not ".textfoo".
bool isOrUnder(string_view name, string_view prefix) {
  return name == prefix ||
         (name.size() > prefix.size() && name.starts_with(prefix) && name[prefix.size()] == '.');
}

bool anyOrUnder(string_view name, std::initializer_list<string_view> prefixes) {
  for (string_view prefix : prefixes) {
    if (isOrUnder(name, prefix)) {
      return true;
    }
  }
  return false;
}

// Sections whose whole contents the linker writes, whatever object GNU ld charges them to.
bool isLinkerMadeName(string_view name) {
  return name.starts_with(".note") || name.starts_with(".rela") || name.starts_with(".rel.") ||
         anyOrUnder(name, {".interp",        ".dynsym",       ".dynstr",       ".dynamic",
                           ".hash",          ".gnu.hash",     ".gnu.version",  ".gnu.version_r",
                           ".gnu.version_d", ".relr.dyn",     ".got",          ".got.plt",
                           ".plt",           ".plt.got",      ".plt.sec",      ".iplt",
                           ".igot",          ".igot.plt",     ".eh_frame_hdr", ".symtab",
                           ".symtab_shndx",  ".strtab",       ".shstrtab",     ".gnu_debuglink",
                           ".reloc",         ".relro_padding"});
}

// Tables for dynamic linking, named as ELF and PE linkers name them.
bool isDynamicName(string_view name) {
  return name.starts_with(".rela") || name.starts_with(".rel.") ||
         anyOrUnder(
             name,
             {".interp",      ".dynsym",        ".dynstr",        ".dynamic",  ".hash", ".gnu.hash",
              ".gnu.version", ".gnu.version_r", ".gnu.version_d", ".relr.dyn", ".got",  ".got.plt",
              ".plt",         ".plt.got",       ".plt.sec",       ".iplt",     ".igot", ".igot.plt",
              ".idata",       ".edata",         ".reloc"});
}

bool isUnwindName(string_view name) {
  return anyOrUnder(name, {".eh_frame", ".eh_frame_hdr", ".gcc_except_table", ".sframe",
                           ".ARM.exidx", ".ARM.extab", ".pdata", ".xdata"});
}

bool isNotLoadedName(string_view name) {
  return name.starts_with(".debug") || name.starts_with(".zdebug") ||
         name.starts_with(".gnu.debuglto") || name.starts_with(".stab") ||
         anyOrUnder(name, {".comment", ".symtab", ".symtab_shndx", ".strtab", ".shstrtab",
                           ".gnu_debuglink", ".gnu_debugaltlink", ".gnu.build.attributes",
                           ".GCC.command.line", ".note.GNU-stack", ".gnu.warning", ".annobin",
                           ".llvm_addrsig", ".gnu.lto_"});
}

}  // namespace

string_view kindId(SectionKind kind) {
  static constexpr std::array<string_view, kSectionKinds> kIds = {
      "code", "rodata", "unwind", "data", "tls", "bss", "dynamic", "unloaded", "headers"};
  return kIds[static_cast<size_t>(kind)];
}

string_view kindLabel(SectionKind kind) {
  static constexpr std::array<string_view, kSectionKinds> kLabels = {"code",
                                                                     "read-only data",
                                                                     "unwind tables",
                                                                     "writable data",
                                                                     "thread-local data",
                                                                     "zero-initialised",
                                                                     "dynamic linking",
                                                                     "not loaded",
                                                                     "file headers and gaps"};
  return kLabels[static_cast<size_t>(kind)];
}

bool isThreadLocalSectionName(string_view name) {
  return anyOrUnder(name, {".tdata", ".tbss", ".tcommon", ".tls"}) ||
         name.starts_with(".gnu.linkonce.td.") || name.starts_with(".gnu.linkonce.tb.");
}

SectionTraits traitsOfSectionName(string_view name, uint64_t address) {
  SectionTraits traits;
  traits.linkerMade = isLinkerMadeName(name);
  auto set = [&traits](SectionKind kind) {
    traits.kind = kind;
    return traits;
  };
  // A note at address 0 is one that the linker keeps in the file only (gold's version note).
  if (isNotLoadedName(name) || (address == 0 && name.starts_with(".note"))) {
    traits.loaded = false;
    return set(SectionKind::NotLoaded);
  }
  if (name == "EHDR" || name == "PHDR" || name == "SHDR") {
    // mold lists the file's headers among the sections; they are not sections of the image.
    traits.loaded = false;
    return set(SectionKind::Headers);
  }
  if (isThreadLocalSectionName(name)) {
    traits.fileBytes =
        !anyOrUnder(name, {".tbss", ".tcommon"}) && !name.starts_with(".gnu.linkonce.tb.");
    return set(SectionKind::ThreadLocal);
  }
  if (isDynamicName(name)) {
    return set(SectionKind::Dynamic);
  }
  if (isUnwindName(name)) {
    return set(SectionKind::Unwind);
  }
  if (anyOrUnder(name, {".bss", ".sbss", ".lbss", ".dynbss", ".noinit", "COMMON",
                        "__libc_freeres_ptrs", ".relro_padding"}) ||
      name.starts_with(".gnu.linkonce.b.") || name.starts_with(".bss.")) {
    traits.fileBytes = false;
    return set(SectionKind::ZeroInitialised);
  }
  if (anyOrUnder(name, {".text", ".init", ".fini", ".ltext", "__libc_freeres_fn"}) ||
      name.starts_with(".gnu.linkonce.t.")) {
    return set(SectionKind::Code);
  }
  if (anyOrUnder(name, {".rodata", ".rodata1", ".lrodata", ".rdata", ".srodata", ".reginfo"}) ||
      name.starts_with(".MIPS.") || name.starts_with(".note") ||
      name.starts_with(".gnu.linkonce.r.")) {
    return set(SectionKind::ReadOnlyData);
  }
  if (address == 0) {
    // An ELF map gives the sections that are not loaded address 0; a loaded one never starts
    // there in a program, and a name not known above is no code or data by convention.
    traits.loaded = false;
    return set(SectionKind::NotLoaded);
  }
  // .data, .data.rel.ro, .init_array, .tm_clone_table, D's minfo, and names not known here:
  // what a section of unknown use most likely is, in memory and in the file.
  return set(SectionKind::Data);
}

SectionTraits traitsOfElfSection(string_view name, uint32_t type, uint64_t flags) {
  SectionTraits traits;
  traits.loaded = (flags & kShfAlloc) != 0;
  traits.fileBytes = type != kShtNobits;
  traits.linkerMade = isLinkerMadeName(name) || type == kShtSymtab || type == kShtDynsym ||
                      type == kShtHash || type == kShtGnuHash || type == kShtDynamic ||
                      type == kShtGnuVersym || type == kShtGnuVerneed || type == kShtGnuVerdef ||
                      type == kShtRelr || (traits.loaded && (type == kShtRela || type == kShtRel));
  if (!traits.loaded) {
    traits.kind = SectionKind::NotLoaded;
  } else if ((flags & kShfTls) != 0) {
    traits.kind = SectionKind::ThreadLocal;
  } else if (type == kShtNobits) {
    traits.kind = SectionKind::ZeroInitialised;
  } else if (type == kShtDynsym || type == kShtDynamic || type == kShtHash || type == kShtGnuHash ||
             type == kShtGnuVersym || type == kShtGnuVerneed || type == kShtGnuVerdef ||
             type == kShtRela || type == kShtRel || type == kShtRelr || isDynamicName(name)) {
    traits.kind = SectionKind::Dynamic;
  } else if (type == kShtUnwind || isUnwindName(name)) {
    traits.kind = SectionKind::Unwind;
  } else if ((flags & kShfExecinstr) != 0) {
    traits.kind = SectionKind::Code;
  } else if ((flags & kShfWrite) != 0) {
    traits.kind = SectionKind::Data;
  } else {
    traits.kind = SectionKind::ReadOnlyData;  // notes, .interp's neighbours, .rodata
  }
  return traits;
}

}  // namespace vorlith
