// The ELF reader: real programs of both classes and byte orders (the whole of each is compared
// with readelf by the elfread.* CTests), the extended forms of large files, and the files it
// refuses, each with its message.
#include "elf_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "elf_file_internal.h"
#include "support/elf_builder.h"
#include "support/expect.h"

using elftest::ElfBuilder;
using vorlith::elf::Image;
using vorlith::elf::readElf;

namespace {

std::string dataPath(const std::string& name) {
  return std::string(VORLITH_TEST_DATA) + "/elf/" + name;
}

std::string hexOf(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const vorlith::elf::Section* sectionNamed(const Image& image, std::string_view name) {
  for (const auto& section : image.sections) {
    if (section.name == name) {
      return &section;
    }
  }
  return nullptr;
}

const vorlith::elf::Symbol* symbolNamed(const Image& image, std::string_view name) {
  for (const auto& symbol : image.symbols) {
    if (symbol.name == name) {
      return &symbol;
    }
  }
  return nullptr;
}

// A small program: code, zero-initialised data and a symbol table with a file symbol, two
// defined symbols, an absolute one and an undefined one.
ElfBuilder smallProgram(bool is64 = true, bool bigEndian = false) {
  ElfBuilder builder(is64, bigEndian);
  builder.add({.name = ".text",
               .type = 1,
               .flags = 6,
               .address = 0x1000,
               .bytes = std::string(32, '\x90'),
               .alignment = 16});
  builder.add({.name = ".bss", .type = 8, .flags = 3, .address = 0x2000, .noBitsSize = 64});
  builder.addSymbolTable({
      {.name = "a.c", .type = 4, .binding = 0, .section = 0xfff1},
      {.name = "main", .value = 0x1000, .size = 16, .type = 2, .binding = 1, .section = 1},
      {.name = "counter", .value = 0x2000, .size = 8, .type = 1, .binding = 1, .section = 2},
      {.name = "puts", .type = 2, .binding = 1, .section = 0},
  });
  return builder;
}

#define SKIP_WITHOUT_LIBELF()                                   \
  if (!vorlith::elf::canReadElf()) {                            \
    GTEST_SKIP() << "built without libelf: ELF files not read"; \
  }

}  // namespace

TEST(ElfFile, TellsElfFilesByTheirMagic) {
  struct Case {
    std::string_view head;
    bool elf;
  };
  for (const Case& c : std::vector<Case>{{std::string_view("\x7f"
                                                           "ELF\x02\x01",
                                                           6),
                                          true},
                                         {std::string_view("\x7f"
                                                           "ELF",
                                                           4),
                                          true},
                                         {std::string_view("\x7f"
                                                           "EL",
                                                           3),
                                          false},
                                         {"", false},
                                         {"ELF\x7f", false},
                                         {"Archive member included", false},
                                         {std::string_view("\0ELF", 4), false}}) {
    SCOPED_TRACE(hexBytes(c.head));
    EXPECT_EQ(vorlith::elf::looksLikeElf(c.head), c.elf);
  }
}

TEST(ElfFile, SaysWhatToInstallWhenBuiltWithoutLibelf) {
  if (vorlith::elf::canReadElf()) {
    GTEST_SKIP() << "built with libelf";
  }
  expectThrowsWithMessage<std::runtime_error>(
      [] { (void)readElf(dataPath("gdc-bfd.elf")); },
      dataPath("gdc-bfd.elf") + ": reading ELF files needs elfutils' libelf", true);
}

TEST(ElfFile, ReadsRealProgramsOfBothClassesAndByteOrders) {
  SKIP_WITHOUT_LIBELF();
  // The facts below are readelf's for these files.
  struct Case {
    const char* file;
    bool is64;
    bool bigEndian;
    uint16_t machine;
    uint16_t fileType;
    const char* symbol;
    uint64_t size;
    const char* section;
  };
  for (const Case& c : std::vector<Case>{
           {"gdc-bfd.elf", true, false, 62, 3, "mixChecksum", 0, ".text"},
           {"gdc-bfd-32.elf", false, false, 3, 3, "mix_rounds", 4, ".data"},
           {"mips-lld-be32.elf", false, true, 8, 2, "ring_bytes", 1024, ".bss"},
           {"ppc64-lld-be64.elf", true, true, 21, 2, "crc_nibbles", 64, ".rodata"},
       }) {
    SCOPED_TRACE(c.file);
    Image image = readElf(dataPath(c.file));
    EXPECT_EQ(image.is64, c.is64);
    EXPECT_EQ(image.bigEndian, c.bigEndian);
    EXPECT_EQ(image.machine, c.machine);
    EXPECT_EQ(image.fileType, c.fileType);
    EXPECT_EQ(image.fileSize, std::filesystem::file_size(dataPath(c.file)));
    EXPECT_EQ(image.elfHeader.size, c.is64 ? 64u : 52u);
    ASSERT_TRUE(image.hasSymbolTable);
    const auto* symbol = symbolNamed(image, c.symbol);
    ASSERT_NE(symbol, nullptr);
    if (c.size != 0) {
      EXPECT_EQ(symbol->size, c.size);
    }
    ASSERT_TRUE(symbol->inSection());
    ASSERT_LT(symbol->sectionIndex, image.sections.size());
    const auto& section = image.sections[symbol->sectionIndex];
    EXPECT_EQ(section.name, c.section);
    EXPECT_TRUE(section.allocated());
    EXPECT_GE(symbol->value, section.address);
    EXPECT_LE(symbol->value + symbol->size, section.address + section.size);
    // Every section with file bytes lies inside the file, and the index is the position.
    for (size_t i = 0; i < image.sections.size(); ++i) {
      const auto& s = image.sections[i];
      EXPECT_EQ(s.index, i);
      if (s.hasFileBytes()) {
        EXPECT_LE(s.offset + s.size, image.fileSize) << s.name;
      }
    }
    EXPECT_FALSE(image.sections[0].hasFileBytes());
    EXPECT_EQ(image.sectionHeaders.offset + image.sectionHeaders.size, image.fileSize);
  }
}

TEST(ElfFile, KeepsEveryKindOfDefinedSymbolAndNoUndefinedOne) {
  SKIP_WITHOUT_LIBELF();
  for (bool is64 : {true, false}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(is64) + std::to_string(big));
      Image image = readElf(smallProgram(is64, big).build(), "small");
      ASSERT_EQ(image.symbols.size(), 3u);
      EXPECT_EQ(image.symbols[0].name, "a.c");
      EXPECT_EQ(image.symbols[0].type, 4);
      EXPECT_EQ(image.symbols[0].sectionIndex, 0xfff1u);
      EXPECT_FALSE(image.symbols[0].inSection());
      EXPECT_EQ(image.symbols[1].name, "main");
      EXPECT_EQ(image.symbols[1].value, 0x1000u);
      EXPECT_EQ(image.symbols[1].size, 16u);
      EXPECT_EQ(image.symbols[1].binding, 1);
      EXPECT_EQ(image.symbols[2].name, "counter");
      EXPECT_EQ(image.sections[image.symbols[2].sectionIndex].name, ".bss");
      EXPECT_EQ(symbolNamed(image, "puts"), nullptr);
      EXPECT_FALSE(image.hasDynamicSymbols);
    }
  }
}

TEST(ElfFile, ReadsAFileAsItReadsItsBytes) {
  SKIP_WITHOUT_LIBELF();
  std::string path = dataPath("gdc-lld-32.elf");
  Image fromFile = readElf(path);
  Image fromBytes = readElf(fileBytes(path), path);
  ASSERT_EQ(fromFile.sections.size(), fromBytes.sections.size());
  for (size_t i = 0; i < fromFile.sections.size(); ++i) {
    EXPECT_EQ(fromFile.sections[i].name, fromBytes.sections[i].name);
    EXPECT_EQ(fromFile.sections[i].offset, fromBytes.sections[i].offset);
  }
  ASSERT_EQ(fromFile.symbols.size(), fromBytes.symbols.size());
  for (size_t i = 0; i < fromFile.symbols.size(); ++i) {
    EXPECT_EQ(fromFile.symbols[i].name, fromBytes.symbols[i].name);
    EXPECT_EQ(fromFile.symbols[i].value, fromBytes.symbols[i].value);
  }
}

TEST(ElfFile, NamesOutliveTheBytesTheyWereReadFrom) {
  SKIP_WITHOUT_LIBELF();
  Image image;
  {
    std::string bytes = smallProgram().build();
    image = readElf(bytes, "small");
    bytes.assign(bytes.size(), 'x');
  }
  EXPECT_EQ(image.sections[1].name, ".text");
  EXPECT_EQ(image.symbols[1].name, "main");
}

TEST(ElfFile, AStrippedProgramHasNoSymbolTable) {
  SKIP_WITHOUT_LIBELF();
  Image image = readElf(dataPath("gcc-bfd-stripped.elf"));
  EXPECT_FALSE(image.hasSymbolTable);
  EXPECT_TRUE(image.symbols.empty());
  EXPECT_TRUE(image.hasDynamicSymbols);
  EXPECT_NE(sectionNamed(image, ".text"), nullptr);
}

TEST(ElfFile, RefusesWhatIsNotARegularFile) {
  std::string missing = dataPath("no-such-file.elf");
  std::string directory = std::string(VORLITH_TEST_DATA) + "/elf";
  if (!vorlith::elf::canReadElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  expectThrowsWithMessage<std::runtime_error>([&] { (void)readElf(missing); },
                                              missing + ": No such file or directory");
  expectThrowsWithMessage<std::runtime_error>([&] { (void)readElf(directory); },
                                              directory + ": not a regular file");
}

TEST(ElfFile, ResolvesTheExtendedFormsOfLargeFiles) {
  SKIP_WITHOUT_LIBELF();
  // From 65280 sections on, the count, the name table's index and, from 65535 program headers
  // on, their count move into section 0: the same file written that way reads the same.
  for (bool is64 : {true, false}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(is64) + std::to_string(big));
      ElfBuilder builder = smallProgram(is64, big);
      std::string plain = builder.build(3);
      std::string extended = plain;
      uint64_t first = builder.sectionHeaderOf(extended, 0);
      uint64_t count = builder.get(plain, builder.shnumAt(), 2);
      uint64_t names = builder.get(plain, builder.shstrndxAt(), 2);
      builder.put(extended, builder.shnumAt(), 2, 0);
      builder.put(extended, first + builder.shSizeAt(), is64 ? 8 : 4, count);
      builder.put(extended, builder.shstrndxAt(), 2, 0xffff);
      builder.put(extended, first + builder.shLinkAt(), 4, names);
      builder.put(extended, builder.phnumAt(), 2, 0xffff);
      builder.put(extended, first + builder.shInfoAt(), 4, 3);
      Image a = readElf(plain, "plain");
      Image b = readElf(extended, "extended");
      ASSERT_EQ(b.sections.size(), a.sections.size());
      for (size_t i = 0; i < a.sections.size(); ++i) {
        EXPECT_EQ(b.sections[i].name, a.sections[i].name);
      }
      EXPECT_EQ(b.programHeaders.size, a.programHeaders.size);
      EXPECT_EQ(a.programHeaders.size, 3 * (is64 ? 56u : 32u));
      EXPECT_EQ(b.sectionHeaders.size, a.sectionHeaders.size);
      // Section 0's fields carry counts, not a section: it has no size of its own.
      EXPECT_EQ(b.sections[0].size, 0u);
      EXPECT_EQ(b.symbols.size(), a.symbols.size());
    }
  }
}

TEST(ElfFile, ResolvesExtendedSymbolSectionIndexes) {
  SKIP_WITHOUT_LIBELF();
  for (bool is64 : {true, false}) {
    ElfBuilder builder(is64, !is64);
    builder.add({.name = ".text", .type = 1, .flags = 6, .bytes = std::string(16, '\0')});
    builder.add({.name = ".data", .type = 1, .flags = 3, .bytes = std::string(16, '\0')});
    uint32_t table = builder.addSymbolTable({
        {.name = "far", .size = 4, .type = 1, .binding = 1, .section = 0xffff},
        {.name = "near", .size = 4, .type = 1, .binding = 1, .section = 1},
    });
    std::string indexes(12, '\0');  // one 4-byte entry per symbol, the null one included
    builder.put(indexes, 4, 4, 2);
    builder.add({.name = ".symtab_shndx",
                 .type = 18,
                 .bytes = indexes,
                 .link = table,
                 .alignment = 4,
                 .entrySize = 4});
    Image image = readElf(builder.build(), "xindex");
    ASSERT_EQ(image.symbols.size(), 2u);
    EXPECT_EQ(image.symbols[0].sectionIndex, 2u);
    EXPECT_TRUE(image.symbols[0].extendedIndex);
    EXPECT_TRUE(image.symbols[0].inSection());
    EXPECT_EQ(image.symbols[1].sectionIndex, 1u);
    EXPECT_FALSE(image.symbols[1].extendedIndex);
  }
}

TEST(ElfFile, KeepsOddButHarmlessSections) {
  SKIP_WITHOUT_LIBELF();
  // Zero-initialised sections of any size take no file bytes; sections may overlap in memory
  // and in the file (.tbss, and a NOBITS section at the offset of what follows); an empty
  // symbol table is a symbol table with no symbols.
  ElfBuilder builder;
  builder.add(
      {.name = ".huge", .type = 8, .flags = 3, .address = 0x1000, .noBitsSize = uint64_t{1} << 62});
  builder.add({.name = ".a", .type = 1, .flags = 2, .address = 0x1000, .bytes = "abcdefgh"});
  uint32_t b = builder.add({.name = ".b", .type = 1, .flags = 2, .address = 0x1004, .bytes = "ij"});
  builder.add({.name = ".strtab", .type = 3});
  builder.add({.name = ".symtab", .type = 2, .link = b + 1, .alignment = 8, .entrySize = 24});
  std::string file = builder.build();
  // .b's bytes: the same as .a's.
  builder.put(file, builder.sectionHeaderOf(file, b) + builder.shOffsetAt(), 8,
              builder.get(file, builder.sectionHeaderOf(file, b - 1) + builder.shOffsetAt(), 8));
  Image image = readElf(file, "odd");
  EXPECT_EQ(image.sections[1].size, uint64_t{1} << 62);
  EXPECT_FALSE(image.sections[1].hasFileBytes());
  EXPECT_TRUE(image.sections[1].allocated());
  EXPECT_EQ(image.sections[2].offset, image.sections[3].offset);
  EXPECT_TRUE(image.hasSymbolTable);
  EXPECT_TRUE(image.symbols.empty());
}

TEST(ElfFile, RefusesBrokenFilesNamingWhatIsWrong) {
  SKIP_WITHOUT_LIBELF();
  ElfBuilder builder = smallProgram();
  const std::string good = builder.build(2);
  const std::string size = std::to_string(good.size());
  auto header = [&](size_t index) { return builder.sectionHeaderOf(good, index); };
  // Sections: 1 .text, 2 .bss, 3 .strtab, 4 .symtab, 5 .shstrtab.
  uint64_t strtabOffset = builder.get(good, header(3) + builder.shOffsetAt(), 8);
  uint64_t strtabSize = builder.get(good, header(3) + builder.shSizeAt(), 8);
  uint64_t symtabOffset = builder.get(good, header(4) + builder.shOffsetAt(), 8);
  uint64_t shoff = builder.get(good, builder.shoffAt(), 8);
  struct Case {
    const char* label;
    std::function<void(std::string&)> breakIt;
    std::string message;
  };
  auto field = [&](size_t at, size_t width, uint64_t value) {
    return [&builder, at, width, value](std::string& f) { builder.put(f, at, width, value); };
  };
  std::vector<Case> cases{
      {"empty", [](std::string& f) { f.clear(); },
       "not an ELF file (it does not begin with \\x7fELF)"},
      {"a map file", [](std::string& f) { f = "Archive member included to satisfy reference"; },
       "not an ELF file (it does not begin with \\x7fELF)"},
      {"the magic alone", [](std::string& f) { f.resize(4); },
       "truncated: the ELF identification takes 16 bytes, the file has 4"},
      {"class 3", field(4, 1, 3), "unknown ELF class 3 (1 is 32-bit, 2 is 64-bit)"},
      {"byte order 0", field(5, 1, 0),
       "unknown ELF byte order 0 (1 is little-endian, 2 is big-endian)"},
      {"cut in the header", [](std::string& f) { f.resize(40); },
       "truncated: the ELF header takes 64 bytes, the file has 40"},
      {"a header too small", field(52, 2, 20),
       "the ELF header says it takes 20 bytes, less than the 64 of its class"},
      {"cut in the section header table", [](std::string& f) { f.resize(f.size() - 10); },
       "truncated: the section header table of 6 sections (offset " + hexOf(shoff) +
           ", 384 bytes) lies past the end of the file (" + std::to_string(good.size() - 10) +
           " bytes)"},
      {"section headers far past the end", field(builder.shoffAt(), 8, 0xffffffffffffff00),
       "truncated: the first section header (offset 0xffffffffffffff00, 64 bytes) lies past "
       "the end of the file (" +
           size + " bytes)"},
      {"section header entries of 32 bytes", field(builder.shentsizeAt(), 2, 32),
       "section header entries of 32 bytes; this class has 64"},
      {"sections without a table", field(builder.shoffAt(), 8, 0),
       "the header lists 6 sections but no section header table"},
      {"an extended count that overflows",
       [&](std::string& f) {
         builder.put(f, builder.shnumAt(), 2, 0);
         builder.put(f, header(0) + builder.shSizeAt(), 8, uint64_t{1} << 59);
       },
       "the section header table's size overflows: 576460752303423488 sections"},
      {"an extended count past the end",
       [&](std::string& f) {
         builder.put(f, builder.shnumAt(), 2, 0);
         builder.put(f, header(0) + builder.shSizeAt(), 8, 1000000);
       },
       "truncated: the section header table of 1000000 sections (offset " + hexOf(shoff) +
           ", 64000000 bytes) lies past the end of the file (" + size + " bytes)"},
      {"the name table past the last section", field(builder.shstrndxAt(), 2, 6),
       "the section name string table is section 6, past the last of 6 sections"},
      {"program headers past the end", field(builder.phnumAt(), 2, 1000),
       "truncated: the program header table of 1000 entries (offset 0x40, 56000 bytes) lies "
       "past the end of the file (" +
           size + " bytes)"},
      {"program header entries of 8 bytes", field(54, 2, 8),
       "program header entries of 8 bytes; this class has 56"},
      {"a section past the end", field(header(1) + builder.shOffsetAt(), 8, good.size() - 8),
       "truncated: section 1 (offset " + hexOf(good.size() - 8) +
           ", 32 bytes) lies past the end of the file (" + size + " bytes)"},
      {"a section whose end overflows", field(header(1) + builder.shSizeAt(), 8, ~uint64_t{0}),
       "truncated: section 1 (offset " +
           hexOf(builder.get(good, header(1) + builder.shOffsetAt(), 8)) +
           ", 18446744073709551615 bytes) lies past the end of the file (" + size + " bytes)"},
      {"a string table without its final NUL", field(strtabOffset + strtabSize - 1, 1, 'x'),
       "the symbol table's string table, section 3 (.strtab), does not end with a NUL byte"},
      {"a name table that is no string table", field(header(5) + builder.shTypeAt(), 4, 1),
       "the section name string table, section 5, is not a string table (type 1)"},
      {"a section name outside its table", field(header(2) + builder.shNameAt(), 4, 0xffffff),
       "the name of section 2 (offset 16777215) lies outside the section name string table (38 "
       "bytes)"},
      {"a symbol name outside its table", field(symtabOffset + 24 * 2, 4, 5000),
       "a symbol's name (offset 5000) lies outside its string table (" +
           std::to_string(strtabSize) + " bytes)"},
      {"a symbol table linked past the last section", field(header(4) + builder.shLinkAt(), 4, 99),
       "the symbol table (section 4) links to section 99, past the last"},
      {"a symbol table linked to code", field(header(4) + builder.shLinkAt(), 4, 1),
       "the symbol table's string table, section 1 (.text), is not a string table (type 1)"},
      {"a symbol table of part of an entry", field(header(4) + builder.shSizeAt(), 8, 100),
       "the symbol table (section 4 (.symtab)) is 100 bytes, not a whole number of 24-byte "
       "entries"},
      {"a symbol in a section past the last", field(symtabOffset + 24 * 2 + 6, 2, 40),
       "symbol 2 is in section 40, past the last of 6"},
      {"an extended index without its table", field(symtabOffset + 24 * 2 + 6, 2, 0xffff),
       "symbol 2 has an extended section index, but the file has no table of them"},
      {"two symbol tables", field(header(1) + builder.shTypeAt(), 4, 2),
       "two symbol tables: sections 1 and 4"},
  };
  // The same from a file, which is read in pieces rather than whole.
  std::string path = std::filesystem::temp_directory_path() /
                     ("vorlith-bad-" + std::to_string(::getpid()) + ".elf");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string file = good;
    c.breakIt(file);
    expectThrowsWithMessage<std::runtime_error>([&] { (void)readElf(file, "bad.elf"); },
                                                "bad.elf: " + c.message);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    expectThrowsWithMessage<std::runtime_error>([&] { (void)readElf(path); },
                                                path + ": " + c.message);
  }
  std::filesystem::remove(path);
}

TEST(ElfNames, FindsEachNameUpToItsNul) {
  using vorlith::elf::detail::namesInTable;
  std::string_view table("\0main\0counter\0x\0", 16);
  std::vector<uint32_t> offsets{1, 6, 9, 0, 15, 14, 6};
  std::vector<std::string_view> names;
  size_t outside = 99;
  ASSERT_TRUE(namesInTable(table, offsets, names, &outside));
  EXPECT_EQ(names,
            (std::vector<std::string_view>{"main", "counter", "nter", "", "", "x", "counter"}));
  // Each name is a view into the table.
  EXPECT_EQ(names[2].data(), table.data() + 9);

  ASSERT_TRUE(namesInTable("", std::vector<uint32_t>{0, 0}, names, &outside));
  EXPECT_EQ(names, (std::vector<std::string_view>{"", ""}));
  EXPECT_FALSE(namesInTable("", std::vector<uint32_t>{0, 1}, names, &outside));
  EXPECT_EQ(outside, 1u);
  EXPECT_FALSE(namesInTable(table, std::vector<uint32_t>{1, 16, 17}, names, &outside));
  EXPECT_EQ(outside, 1u);
}
