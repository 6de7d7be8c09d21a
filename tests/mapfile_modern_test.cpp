// The map reader with the modern settings: the ELF maps of ld.lld and mold, and GNU ld maps as
// today's versions write them. Every case is also read with the default settings, which must
// keep the classic reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mapfile.h"
#include "mapfile_elf.h"
#include "support/expect.h"
#include "support/symbols.h"
#include "zel/utils/text.h"

using vorlith::ElfMapForm;
using vorlith::MapFile;
using vorlith::Settings;

namespace {

using Syms = std::vector<Sym>;

Syms read(const std::string& text, bool modern, std::string* echoed = nullptr) {
  std::ostringstream echo;
  Settings settings;
  settings.modern = modern;
  Syms out;
  try {
    MapFile map(MapFile::FromText{}, text, echo, settings);
    out = symbolsOf(map);
  } catch (...) {
    if (echoed) {
      *echoed = echo.str();
    }
    throw;
  }
  if (echoed) {
    *echoed = echo.str();
  }
  return out;
}

std::string lines(std::initializer_list<std::string> rows) {
  std::string text;
  for (const std::string& row : rows) {
    text += row + "\n";
  }
  return text;
}

// The headers and rows exactly as the linkers space them.
const std::string kLldHeader =
    "             VMA              LMA     Size Align Out     In      Symbol";
const std::string kLld32Header = "     VMA      LMA     Size Align Out     In      Symbol";
const std::string kMoldHeader = "               VMA       Size Align Out     In      Symbol";
const std::string kPublicsHeading =
    "  Address         Publics by Value              Rva+Base       Lib:Object";

// ld.lld, 64-bit: "%16llx %16llx %8llx %5u " and the indented name.
std::string lld(uint64_t vma, uint64_t size, unsigned align, int indent, const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%16llx %16llx %8llx %5u ", (unsigned long long)vma,
                (unsigned long long)vma, (unsigned long long)size, align);
  return numbers + std::string(indent, ' ') + name;
}

// ld.lld, 32-bit: the address columns are 8 wide.
std::string lld32(uint64_t vma, uint64_t size, unsigned align, int indent,
                  const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%8llx %8llx %8llx %5u ", (unsigned long long)vma,
                (unsigned long long)vma, (unsigned long long)size, align);
  return numbers + std::string(indent, ' ') + name;
}

// mold: the address with "0x" (a bare "0" for address 0), size and alignment in decimal.
std::string mold(uint64_t vma, uint64_t size, unsigned align, int indent, const std::string& name) {
  char numbers[64];
  if (vma == 0) {
    std::snprintf(numbers, sizeof numbers, "%18s %10llu %5u ", "0", (unsigned long long)size,
                  align);
  } else {
    char address[24];
    std::snprintf(address, sizeof address, "0x%llx", (unsigned long long)vma);
    std::snprintf(numbers, sizeof numbers, "%18s %10llu %5u ", address, (unsigned long long)size,
                  align);
  }
  return numbers + std::string(indent, ' ') + name;
}

// A GNU ld line: the section column (16 bytes), "0x", the address and what follows.
std::string gnu(std::string section, std::string address, std::string rest) {
  section.resize(16, ' ');
  return section + "0x" + address + rest;
}

std::string gnuSymbol(std::string address, std::string name) {
  return gnu("", address, "                " + name);
}

}  // namespace

TEST(ElfMapForm, KnowsTheTwoHeadersWhateverTheSpacing) {
  struct Case {
    std::string line;
    ElfMapForm form;
  } cases[] = {
      {kLldHeader, ElfMapForm::Lld},
      {kLld32Header, ElfMapForm::Lld},
      {"VMA LMA Size Align Out In Symbol", ElfMapForm::Lld},
      {kMoldHeader, ElfMapForm::Mold},
      {"\tVMA  Size\tAlign Out In Symbol  ", ElfMapForm::Mold},
      {"VMA LMA Size Align Out In Symbol Extra", ElfMapForm::None},
      {"VMA LMA Size Align Out In", ElfMapForm::None},
      {"vma lma size align out in symbol", ElfMapForm::None},
      {"Archive member included to satisfy reference by file (symbol)", ElfMapForm::None},
      {"", ElfMapForm::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(vorlith::elfMapForm(c.line), c.form);
  }
}

TEST(MapFileElf, ReadsTheKindsOfRowByIndentationAt64And32Bits) {
  // Output section, input sections (a plain object, an archive member, the linker's own), a
  // symbol with a size and one without; the same rows at both widths.
  using Row = std::string (*)(uint64_t, uint64_t, unsigned, int, const std::string&);
  struct Width {
    const char* name;
    std::string header;
    Row row;
  } widths[] = {{"64-bit", kLldHeader, lld}, {"32-bit", kLld32Header, lld32}};
  for (const Width& w : widths) {
    SCOPED_TRACE(w.name);
    std::string text =
        lines({w.header, w.row(0x1890, 0x25b, 16, 0, ".text"),
               w.row(0x1890, 0x22, 16, 8, "main.o:(.text)"), w.row(0x1890, 0x22, 1, 16, "report"),
               w.row(0x18b2, 0, 1, 16, "frame_dummy"),
               w.row(0x18c0, 0x10, 16, 8, "/usr/lib/libc.a(printf.o):(.text.x)"),
               w.row(0x2d58, 0x28, 8, 8, "<internal>:(.got)")});
    EXPECT_EQ(read(text, true), (Syms{{0x1890, ".text", 1},
                                      {0x1890, "main.o (.text)", 2},
                                      {0x1890, "report", 3},
                                      {0x18b2, "END\tmain.o (.text)", 2},
                                      {0x18b2, "END\treport", 3},
                                      {0x18b2, "frame_dummy", 4},
                                      {0x18c0, "/usr/lib/libc.a(printf.o) (.text.x)", 5},
                                      {0x18d0, "END\t/usr/lib/libc.a(printf.o) (.text.x)", 5},
                                      {0x1aeb, "END\t.text", 1},
                                      {0x2d58, "<internal> (.got)", 6},
                                      {0x2d80, "END\t<internal> (.got)", 6}}));
    EXPECT_EQ(read(text, false), Syms{});  // the classic reading knows no such rows
  }
}

TEST(MapFileElf, ReadsMoldRows) {
  std::string text =
      lines({kMoldHeader, mold(0, 64, 8, 0, "EHDR"), mold(0x1820, 603, 16, 0, ".text"),
             mold(0x1909, 232, 1, 8, "main.o:(.text)"), mold(0x1909, 0, 0, 16, "report"),
             mold(0x193a, 0, 0, 16, "main"), mold(0x1909, 0, 1, 8, "crtn.o:(.text)"),
             mold(0, 77, 1, 0, ".comment")});
  EXPECT_EQ(read(text, true), (Syms{{0, "EHDR", 1},
                                    {0, ".comment", 7},
                                    {0x1820, ".text", 2},
                                    {0x1909, "main.o (.text)", 3},
                                    {0x1909, "report", 4},
                                    {0x1909, "crtn.o (.text)", 6},
                                    {0x193a, "main", 5},
                                    {0x19f1, "END\tmain.o (.text)", 3},
                                    {0x1a7b, "END\t.text", 2}}));
}

TEST(MapFileElf, KeepsOddRowsAsTheyAreAndSkipsAssignments) {
  std::string text = lines({
      kLldHeader, lld(0x7b8, 0x2c, 1, 8, "crt1.o:(.eh_frame+0x0)"),  // a piece of a section
      lld(0x800, 4, 1, 8, "odd name without a section"), lld(0x810, 0, 1, 0, "__bss_start = ."),
      lld(0x810, 0, 1, 8, "PROVIDE_HIDDEN ( __init_array_start = . )"),
      lld(0x820, 8, 1, 16, "operator new(unsigned long)"),  // names with spaces stay whole
      "",                                                   // a blank line
      "  1000  1000",                                       // a row cut short
  });
  EXPECT_EQ(read(text, true), (Syms{{0x7b8, "crt1.o (.eh_frame+0x0)", 1},
                                    {0x7e4, "END\tcrt1.o (.eh_frame+0x0)", 1},
                                    {0x800, "odd name without a section", 2},
                                    {0x804, "END\todd name without a section", 2},
                                    {0x820, "operator new(unsigned long)", 5},
                                    {0x828, "END\toperator new(unsigned long)", 5}}));
}

TEST(MapFileElf, TakesTheHeaderOnlyFromTheFirstLine) {
  std::string rows = lld(0x1000, 0x10, 1, 8, "a.o:(.text)") + "\n";
  EXPECT_EQ(read("\n" + kLldHeader + "\n" + rows, true), Syms{});
  EXPECT_EQ(read(kLldHeader + "\r\n" + rows, true).size(), 2u);  // CR LF files too
}

TEST(MapFileElf, EchoesARowWithABadNumberAndFails) {
  using zel::utils::text::ConvException;
  using zel::utils::text::ConvOverflowException;
  struct Case {
    std::string header, row, message;
  } cases[] = {
      {kLldHeader, "    10z0     1000       10     1 .text", "Could not parse entire string"},
      {kLldHeader, "    1000     1000       10    1x .text", "Could not parse entire string"},
      {kLldHeader, "    1000     1000  10000000000000000     1 .text",
       "Overflow in integral conversion"},
      {kMoldHeader, "    0x1000        1a     1 .text", "Could not parse entire string"},
      {kMoldHeader, "    0x1000  18446744073709551616     1 .text",
       "Overflow in integral conversion"},
      {kMoldHeader, "    0x1000        16     1 .text\xE9", ""},  // repaired, not a failure
      {kMoldHeader, "        0x        16     1 .text",
       "Unexpected end of input when converting from type string to type uint64 in base 16"},
      {kMoldHeader, "    0x1000        -1     1 .text",
       "Unexpected '-' when converting from type string to type uint64 in base 10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    std::string echoed;
    if (c.message.empty()) {
      EXPECT_EQ(read(lines({c.header, c.row}), true, &echoed).size(), 2u);
      EXPECT_EQ(echoed, "");
      continue;
    }
    expectThrowsWithMessage<ConvException>(
        [&] {
          read(lines({c.header, c.row}), true, &echoed);
        },
        c.message);
    EXPECT_EQ(echoed, c.row + "\n");
  }
}

// Every number reader of every form, with a byte that begins no number and with one after the
// digits, in each numeric column. The message quotes the whole bad character, a NUL as "\0", so
// that it is not cut short where it travels as a C string.
TEST(MapFileNumbers, EveryNumericColumnOfEveryFormNamesItsBadByte) {
  using zel::utils::text::ConvException;
  struct Column {
    const char* name;
    std::string digits;
    int base;
  };
  struct Form {
    const char* name;
    bool modern;
    std::string before;  // the header or heading the row needs
    std::string row;     // "{0}", "{1}", ... stand for the columns
    std::vector<Column> columns;
  } forms[] = {
      {"segmented",
       false,
       kPublicsHeading,
       " 0001:00000000       _main                      {0} f   app.obj",
       {{"flat address", "0000000140001000", 16}}},
      {"GNU ld",
       false,
       "",
       " .text          0x{0}       0x{1} foo.o",
       {{"address", "0000000000401000", 16}, {"size", "30", 16}}},
      {"GNU ld, modern",
       true,
       "",
       " .text          0x{0}       0x{1} foo.o",
       {{"address", "0000000000401000", 16}, {"size", "30", 16}}},
      {"ld64",
       false,
       "",
       "0x{0}\t0x{1}\t[  1] _main",
       {{"address", "100003F30", 16}, {"size", "00000020", 16}}},
      {"ld.lld",
       true,
       kLldHeader,
       "    {0}     {1}       {2}     {3} .text",
       {{"VMA", "1000", 16}, {"LMA", "1000", 16}, {"Size", "10", 16}, {"Align", "1", 10}}},
      {"mold",
       true,
       kMoldHeader,
       "    0x{0}        {1}     {2} .text",
       {{"VMA", "1000", 16}, {"Size", "16", 10}, {"Align", "1", 10}}},
  };
  struct Bad {
    std::string byte, quoted;
  } bads[] = {
      {std::string(1, '\0'), "\\0"},
      {"g", "g"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"+", "+"},
      {"\x7F", "\x7F"},
  };
  auto rowWith = [](const Form& form, size_t column, const std::string& text) {
    std::string row = form.row;
    for (size_t k = 0; k < form.columns.size(); ++k) {
      std::string mark = "{" + std::to_string(k) + "}";
      row.replace(row.find(mark), mark.size(), k == column ? text : form.columns[k].digits);
    }
    return row;
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::string before = form.before.empty() ? "" : form.before + "\n";
    // The row as written reads, so that each failure below is the column's own.
    EXPECT_FALSE(read(before + rowWith(form, SIZE_MAX, "") + "\n", form.modern).empty());
    for (size_t k = 0; k < form.columns.size(); ++k) {
      const Column& column = form.columns[k];
      SCOPED_TRACE(column.name);
      for (const Bad& bad : bads) {
        SCOPED_TRACE(hexBytes(bad.byte));
        std::string echoed;
        std::string first = rowWith(form, k, bad.byte + column.digits);
        expectThrowsWithMessage<ConvException>(
            [&] { read(before + first + "\n", form.modern, &echoed); },
            "Unexpected '" + bad.quoted +
                "' when converting from type string to type uint64 in base " +
                std::to_string(column.base));
        EXPECT_EQ(echoed, first + "\n");
        std::string after = rowWith(form, k, column.digits + bad.byte);
        expectThrowsWithMessage<ConvException>(
            [&] { read(before + after + "\n", form.modern, &echoed); },
            "Could not parse entire string");
        EXPECT_EQ(echoed, after + "\n");
      }
    }
  }
}

TEST(MapFileGnuModern, CarriesASectionNameThatStoodAloneToTheNextLine) {
  struct Case {
    const char* what;
    std::string text;
    Syms classic, modern;
  } cases[] = {
      {"input section",
       lines({" .text._D3app4mainFZv", gnu("", "0000000000401000", "       0x30 app.o")}),
       {{0x401000, "app.o", 1}, {0x401030, "END\tapp.o", 1}},
       {{0x401000, "app.o (.text._D3app4mainFZv)", 1},
        {0x401030, "END\tapp.o (.text._D3app4mainFZv)", 1}}},
      {"output section and file",
       lines({".note.gnu.build-id", gnu("", "00000000004002c4", "       0x24 /usr/lib/crt1.o")}),
       {{0x4002c4, "/usr/lib/crt1.o", 1}, {0x4002e8, "END\t/usr/lib/crt1.o", 1}},
       {{0x4002c4, "/usr/lib/crt1.o (.note.gnu.build-id)", 1},
        {0x4002e8, "END\t/usr/lib/crt1.o (.note.gnu.build-id)", 1}}},
      {"not to a symbol line",
       lines({" .text.x", gnuSymbol("0000000000401000", "_Dmain")}),
       {{0x401000, "_Dmain", 1}},
       {{0x401000, "_Dmain", 1}}},
      {"not over a line between",
       lines({" .text.x", "", gnu("", "0000000000401000", "       0x30 app.o")}),
       {{0x401000, "app.o", 2}, {0x401030, "END\tapp.o", 2}},
       {{0x401000, "app.o", 2}, {0x401030, "END\tapp.o", 2}}},
      {"not from a pattern line",
       lines({" *(.text.unlikely)", gnu("", "0000000000401000", "       0x30 app.o")}),
       {{0x401000, "app.o", 1}, {0x401030, "END\tapp.o", 1}},
       {{0x401000, "app.o", 1}, {0x401030, "END\tapp.o", 1}}},
      {"a carried .comment is skipped",
       lines({" .comment", gnu("", "0000000000000000", "       0x1f app.o")}),
       {{0, "app.o", 1}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read(c.text, false), c.classic);
    EXPECT_EQ(read(c.text, true), c.modern);
  }
}

TEST(MapFileGnuModern, AssignmentsMakeNoSymbol) {
  for (std::string assignment :
       {"__size_of_stack_reserve__ = 0x200000", "__bss_start = .",
        "[!provide] PROVIDE (__init_array_start = .)", "__image_base__ = 0x140000000"}) {
    SCOPED_TRACE(assignment);
    std::string text =
        lines({gnuSymbol("0000000140001000", "main"), gnuSymbol("0000000000200000", assignment),
               gnuSymbol("0000000140001040", "other")});
    EXPECT_EQ(read(text, true), (Syms{{0x140001000, "main", 0}, {0x140001040, "other", 2}}));
    // The classic reading keeps those that do not begin with its three skipped prefixes.
    EXPECT_EQ(read(text, false).size(), 3u);
  }
}

TEST(MapFileGnuModern, NamesFillsWithoutAPatternAfterTheirOutputSection) {
  std::string text = lines({
      // GNU ld ends a fill line without a pattern with a space, which makes it long enough.
      gnu(" *fill*", "0000000000001000", "        0x4 "),  // before any output section
      gnu(".text", "0000000000401000", "      0x630"),     // too short to be read itself
      gnu(" .text", "0000000000401000", "       0x2c app.o"),
      gnu(" *fill*", "000000000040102c", "        0x4 "),
      gnu(" *fill*", "0000000000401030", "        0x4 90909090"),
      ".note.gnu.property",  // an output section too long for its column
      gnu("", "0000000000402000", "       0x20"),
      gnu(" *fill*", "0000000000402020", "        0x8 "),
  });
  EXPECT_EQ(read(text, true), (Syms{{0x1000, "*fill* (*fill*)", 0},
                                    {0x1004, "END\t*fill* (*fill*)", 0},
                                    {0x401000, "app.o (.text)", 2},
                                    {0x40102c, "END\tapp.o (.text)", 2},
                                    {0x40102c, ".text (*fill*)", 3},
                                    {0x401030, "END\t.text (*fill*)", 3},
                                    {0x401030, "90909090 (*fill*)", 4},
                                    {0x401034, "END\t90909090 (*fill*)", 4},
                                    {0x402020, ".note.gnu.property (*fill*)", 7},
                                    {0x402028, "END\t.note.gnu.property (*fill*)", 7}}));
  Syms classic = read(text, false);
  ASSERT_EQ(classic.size(), 10u);
  EXPECT_EQ(classic[4], (Sym{0x40102c, "*fill*", 3}));
}

TEST(MapFileModern, ClassicFormsReadAsBefore) {
  // The other forms do not change under the modern settings.
  std::string text = lines({"0x1F30\t0x20\t[  1] _main",
                            "  Address         Publics by Value              Rva+Base       Lib",
                            " 0001:00000000       _start                     00001000 f   a.obj"});
  EXPECT_EQ(read(text, true), read(text, false));
  EXPECT_EQ(read(text, true).size(), 3u);
}

TEST(MapFileGnuModern, KeepsNamesWholeWhileTheTextBehindTheReaderIsGivenBack) {
  // The text goes back to the system in steps of megabytes as it is read, so the names of a
  // map this long must all have been copied out of it, and the output section that names a
  // late fill must be remembered on its own.
  std::string text = lines({gnu(".text", "0000000000401000", "      0x630")});
  std::vector<std::string> names;
  for (size_t k = 0; text.size() < (size_t{10} << 20); ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016zx", 0x401000 + k * 16);
    names.push_back("symbol_" + std::to_string(k));
    text += gnu("", address, "                " + names.back()) + "\n";
  }
  text += lines({gnu(" *fill*", "0000000010000000", "        0x8 "), " .text._D3app4mainFZv",
                 gnu("", "0000000010000010", "       0x30 app.o")});
  std::string path = ::testing::TempDir() + "vorlith-long-modern.map";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  Settings settings;
  settings.modern = true;
  for (bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "file" : "text");
    std::ostringstream echo;
    std::unique_ptr<MapFile> map =
        fromFile ? std::make_unique<MapFile>(path, echo, settings)
                 : std::make_unique<MapFile>(MapFile::FromText{}, text, echo, settings);
    Syms read = symbolsOf(*map);
    ASSERT_EQ(read.size(), names.size() + 4);
    for (size_t k = 0; k < names.size(); ++k) {
      ASSERT_EQ(read[k].name, names[k]) << k;
    }
    EXPECT_EQ(Syms(read.end() - 4, read.end()),
              (Syms{{0x10000000, ".text (*fill*)", names.size() + 1},
                    {0x10000008, "END\t.text (*fill*)", names.size() + 1},
                    {0x10000010, "app.o (.text._D3app4mainFZv)", names.size() + 3},
                    {0x10000040, "END\tapp.o (.text._D3app4mainFZv)", names.size() + 3}}));
  }
  std::remove(path.c_str());
}
