#include "mapfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mapfile_elf.h"
#include "support/expect.h"
#include "support/symbols.h"
#include "zel/utils/text.h"

using vorlith::MapFile;

namespace {

std::vector<Sym> read(const std::string& text, std::string* echoed = nullptr) {
  std::ostringstream echo;
  MapFile map(MapFile::FromText{}, text, echo);
  if (echoed) {
    *echoed = echo.str();
  }
  return symbolsOf(map);
}

// A GNU ld line: the section column (16 bytes), "0x", the address and what follows.
std::string gnu(std::string section, std::string address, std::string rest) {
  section.resize(16, ' ');
  return section + "0x" + address + rest;
}

// A GNU ld symbol line: blanks, the address, blanks, the name.
std::string gnuSymbol(std::string address, std::string name) {
  return gnu("", address, "                " + name);
}

const std::string kHeading =
    "  Address         Publics by Value              Rva+Base       Lib:Object";

}  // namespace

TEST(MapFilePublics, ReadsRowsOnlyAfterTheHeading) {
  std::string row = " 0001:00000000       _main                      00001000 f   app.obj";
  EXPECT_EQ(read(row), std::vector<Sym>{});
  EXPECT_EQ(read(kHeading + "\n" + row), (std::vector<Sym>{{0x1000, "_main", 1}}));
  EXPECT_EQ(read("Publics by Value\n" + row), std::vector<Sym>{});  // heading must not be at 0
  // Once seen, the table runs to the end of the file, blank lines and other blocks included.
  std::string later = " 0002:00000010       _data                      0000000140003010 d   x.obj";
  EXPECT_EQ(read(kHeading + "\n" + row + "\n\n Static symbols\n\n" + later),
            (std::vector<Sym>{{0x1000, "_main", 1}, {0x140003010, "_data", 5}}));
}

TEST(MapFilePublics, EdgeRows) {
  // No space after column 21: the name ends at the first other white space.
  EXPECT_EQ(read(kHeading + "\n 0001:00000000       _foo\t00001000"),
            (std::vector<Sym>{{0x1000, "_foo", 1}}));
  // A 64-bit flat address reads whole; one too large for 64 bits still fails.
  EXPECT_EQ(read(kHeading + "\n 0001:00000000       ?f@@YAXXZ                  ffffffffffffffff"),
            (std::vector<Sym>{{UINT64_MAX, "?f@@YAXXZ", 1}}));
  expectThrowsWithMessage<zel::utils::text::ConvOverflowException>(
      [] { read(kHeading + "\n 0001:00000000       _big                   10000000000000000"); },
      "Overflow in integral conversion");
}

TEST(MapFilePublics, RepairsANameThatBeginsInsideACharacter) {
  // The e acute spans columns 20 and 21, so the name column starts on its second byte.
  EXPECT_EQ(read(kHeading + "\n 0001:00000000      \xC3\xA9x 0000000140001000 f app.obj"),
            (std::vector<Sym>{{0x140001000, "\xC2\xA9x", 1}}));
}

TEST(MapFilePublics, RowWithOneTokenEndsTheLinesProcessing) {
  // Without the table this line is an ld64 row with a bad size field and fails; in the table it
  // is a row with a single token, which stops the line before the other forms see it.
  std::string line = "0x100:abcdefghijk \t0x\t[abcdefghij]xyz";
  ASSERT_EQ(line[5], ':');
  ASSERT_EQ(line[17], ' ');
  EXPECT_THROW(read(line), zel::utils::text::ConvException);
  EXPECT_EQ(read(kHeading + "\n" + line), std::vector<Sym>{});
}

TEST(MapFileGnu, ReadsTheCommonKindsOfLine) {
  struct Case {
    std::string line;
    std::vector<Sym> symbols;
  } cases[] = {
      {gnu(" .text", "0000000000001000", "       0x30 foo.o"),
       {{0x1000, "foo.o (.text)", 0}, {0x1030, "END\tfoo.o (.text)", 0}}},
      {gnu(".text", "0000000000401000", "     0x123456"),
       {{0x401000, ".text", 0}, {0x524456, "END\t.text", 0}}},
      // 64-bit output-section lines are exactly 45 bytes: too short to be read.
      {gnu(".text", "0000000000401000", "     0x1234"), {}},
      {gnu("", "0000000000401000", "                              "), {{0x401000, "", 0}}},
      {gnu("", "0000000000401000", "       0x20 /usr/lib/crt1.o"),
       {{0x401000, "/usr/lib/crt1.o", 0}, {0x401020, "END\t/usr/lib/crt1.o", 0}}},
      {gnu(" *fill*", "0000000000401010", "        0x10 90909090"),
       {{0x401010, "90909090 (*fill*)", 0}, {0x401020, "END\t90909090 (*fill*)", 0}}},
      {gnu(" *fill*", "0000000000401010", "        0x10"),
       {{0x401010, "*fill*", 0}, {0x401020, "END\t*fill*", 0}}},
      {gnuSymbol("0000000000401000", "_Dmain"), {{0x401000, "_Dmain", 0}}},
      {gnuSymbol("0000000000401000", "foo(int,   char)  "), {{0x401000, "foo(int, char)", 0}}},
      {gnuSymbol("0000000000401000", "edata = ."), {{0x401000, "edata = .", 0}}},
      {gnu(" .data", "0000000000402000", "        0x0 empty.o"),
       {{0x402000, "empty.o (.data)", 0}}},
      {gnu(" .bss", "0000000000000000", "       0x40 zero.o"), {{0, "zero.o (.bss)", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(read(c.line), c.symbols);
  }
}

TEST(MapFileGnu, SkipsCommentsAssignmentsAndShortLines) {
  for (const std::string& line : {
           gnu(" .comment", "0000000000000000", "       0x1f crt1.o"),
           gnuSymbol("0000000000401000", ". = ALIGN (0x8)"),
           gnuSymbol("0000000000401000", "_end = ."),
           gnuSymbol("0000000000401000", "PROVIDE (__etext = .)"),
           std::string(16, ' ') + "0x" + std::string(30, ' '),  // no address: nothing, no error
           gnuSymbol("0000000000401000", "_main").substr(0, 44),
       }) {
    SCOPED_TRACE(line);
    EXPECT_EQ(read(line), std::vector<Sym>{});
  }
  // The 45-byte limit: exactly 45 bytes are not read, 46 are.
  std::string line45 = gnuSymbol("0000000000401000", "").substr(0, 40) + "abcde";
  ASSERT_EQ(line45.size(), 45u);
  EXPECT_EQ(read(line45), std::vector<Sym>{});
  EXPECT_EQ(read(line45 + "f"), (std::vector<Sym>{{0x401000, "abcdef", 0}}));
}

TEST(MapFileGnu, StripsUnicodeWhiteSpaceFromTheSectionColumn) {
  // A no-break space counts as white space; a Latin-1 byte re-encodes the line and moves it.
  EXPECT_EQ(read(gnu("\xC2\xA0.rodata", "0000000000001000", "       0x10 a.o")),
            (std::vector<Sym>{{0x1000, "a.o (.rodata)", 0}, {0x1010, "END\ta.o (.rodata)", 0}}));
  EXPECT_EQ(
      read(gnu(" .d\xC3\xA9", "0000000000001000", "       0x10 a.o")),
      (std::vector<Sym>{{0x1000, "a.o (.d\xC3\xA9)", 0}, {0x1010, "END\ta.o (.d\xC3\xA9)", 0}}));
}

TEST(MapFileGnu, StripsEveryKindOfWhiteSpaceAtBothEndsOfTheSectionColumn) {
  // ASCII and other white space mixed at each end, and characters that are not white space
  // beside them.
  struct Case {
    std::string column;  // the 16 bytes before "0x"
    std::string section;
  } cases[] = {
      {" \t\v\f.text \t", ".text"},
      {"\xC2\xA0 .text\xE2\x80\x83 ", ".text"},       // no-break space, em space
      {"\xE3\x80\x80.x\xE2\x80\xAF\xC2\x85", ".x"},   // ideographic space; U+202F, U+0085
      {" .x\xC2\xA1   \xC2\xA0", ".x\xC2\xA1"},       // inverted exclamation mark stays
      {" .x \xE2\x80\x8B", ".x \xE2\x80\x8B"},        // zero-width space is no white space
      {" .abc  \xE2\x80\x94", ".abc  \xE2\x80\x94"},  // em dash, after spaces
      {"\xE2\x80\x80\xE2\x80\x8A.y\r\t", ".y"},       // en quad, hair space
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.column));
    std::string column = c.column;
    column.resize(16, ' ');
    std::string line = column + "0x0000000000001000       0x10 a.o";
    std::vector<Sym> symbols = read(line);
    ASSERT_FALSE(symbols.empty());
    EXPECT_EQ(symbols[0].name, "a.o (" + c.section + ")");
  }
}

TEST(MapFileLd64, ReadsTabSeparatedRows) {
  struct Case {
    std::string line;
    std::vector<Sym> symbols;
  } cases[] = {
      {"0x1F30\t0x20\t[  1] _main", {{0x1F30, "_main", 0}, {0x1F50, "END\t_main", 0}}},
      {"0x0\t0x8\t[  2] zero", {{0, "zero", 0}, {8, "END\tzero", 0}}},
      {"0x1000\t0x0\t[  3] literal string: hi", {{0x1000, "literal string: hi", 0}}},
      {"0x1000\t0x4\t[x", {{0x1000, "x", 0}, {0x1004, "END\tx", 0}}},
      {"0x1000\t0x4\t[  1] a\tb", {}},
      {"0x1000\t0x4\t  1] a", {}},
      {"0x1000\t0x00000010\t__TEXT\t__text", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(read(c.line), c.symbols);
  }
}

TEST(MapFile, SortsByAddressThenLine) {
  std::string text = "0x3000\t0x0\t[1] c\n0x1000\t0x0\t[1] a\n0x3000\t0x0\t[1] d\n" +
                     gnuSymbol("0000000000001000", "b") + "\n" + gnuSymbol("0000000000002000", "e");
  EXPECT_EQ(read(text), (std::vector<Sym>{{0x1000, "a", 1},
                                          {0x1000, "b", 3},
                                          {0x2000, "e", 4},
                                          {0x3000, "c", 0},
                                          {0x3000, "d", 2}}));
}

TEST(SortSymbols, OrdersAsAStableSortByAddressThenLineDoes) {
  // Lists in line order as maps give them, and lists far from any order; every name is told
  // apart by where its symbol stood, so that equal addresses and lines show the order kept.
  using vorlith::Symbol;
  std::vector<std::string> names;
  for (size_t k = 0; k < 5000; ++k) {
    names.push_back("s" + std::to_string(k));
  }
  std::mt19937_64 random(24);
  struct Case {
    const char* name;
    std::function<Symbol(size_t)> make;  // the symbol at place k
    size_t count;
  } cases[] = {
      {"empty", [](size_t) { return Symbol{}; }, 0},
      {"one",
       [](size_t) {
         return Symbol{5, {}, 0};
       },
       1},
      {"in order",
       [](size_t k) {
         return Symbol{0x1000 + 8 * k, {}, k};
       },
       3000},
      // An input section's line gives its start and its end, then its symbols follow.
      {"ends before their sections' symbols",
       [](size_t k) {
         size_t section = k / 6;
         size_t at = k % 6;
         uint64_t base = 0x1000 + 0x100 * section;
         return at == 0   ? Symbol{base, {}, 5 * section}
                : at == 1 ? Symbol{base + 0x100, {}, 5 * section}
                          : Symbol{base + 0x10 * (at - 2), {}, 5 * section + at - 1};
       },
       3000},
      {"descending",
       [](size_t k) {
         return Symbol{100000 - k, {}, k};
       },
       3000},
      {"sawtooth",
       [](size_t k) {
         return Symbol{k % 97, {}, k / 500};
       },
       5000},
      {"random, many equal",
       [&random](size_t) {
         return Symbol{random() % 8, {}, random() % 4};
       },
       5000},
      {"in order but for a few",
       [&random](size_t k) {
         return random() % 50 == 0 ? Symbol{random() % 4000, {}, random() % 4000}
                                   : Symbol{k, {}, k};
       },
       5000},
      // Those out of order are nearly in order themselves, but for a few.
      {"out of order in order but for a few",
       [&random](size_t k) {
         if (k % 10 != 5) {
           return Symbol{k, {}, k};
         }
         return k % 70 == 5 ? Symbol{random() % 6000, {}, k} : Symbol{k + 1000, {}, k};
       },
       5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Symbol> symbols;
    for (size_t k = 0; k < c.count; ++k) {
      symbols.push_back(c.make(k));
      symbols.back().name = names[k];
    }
    std::vector<Symbol> expected = symbols;
    std::stable_sort(expected.begin(), expected.end(), [](const Symbol& a, const Symbol& b) {
      return a.address != b.address ? a.address < b.address : a.index < b.index;
    });
    vorlith::sortSymbols(symbols);
    ASSERT_EQ(symbols.size(), expected.size());
    for (size_t k = 0; k < symbols.size(); ++k) {
      ASSERT_EQ(symbols[k].name, expected[k].name) << "at " << k;
      ASSERT_EQ(symbols[k].address, expected[k].address) << "at " << k;
      ASSERT_EQ(symbols[k].index, expected[k].index) << "at " << k;
    }
  }
}

TEST(MapFile, ReadsCrLfLikeLf) {
  std::string lf = kHeading + "\n 0001:00000000       _main                      00001000 f\n" +
                   gnuSymbol("0000000000002000", "x") + "\n0x3000\t0x10\t[1] y\n";
  std::string crlf;
  for (char c : lf) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  EXPECT_EQ(read(crlf), read(lf));
  EXPECT_EQ(read(lf).size(), 4u);
}

TEST(MapFile, ReencodesInvalidLinesBeforeAnyTest) {
  std::string line = gnuSymbol("0000000000001000", "caf\xE9.o");
  EXPECT_EQ(read(line), (std::vector<Sym>{{0x1000, "caf\xC3\xA9.o", 0}}));
  // The repaired line is longer, which can move a field out of its column.
  std::string shifted = gnu(" .t\xE9xt", "0000000000001000", "       0x30 foo.o");
  EXPECT_EQ(read(shifted), std::vector<Sym>{});
}

TEST(MapFile, EchoesTheFailingLineAndFails) {
  std::string bad = gnu(" .text", "00000000004g1000", "       0x30 foo.o");
  std::string echoed;
  expectThrowsWithMessage<zel::utils::text::ConvException>(
      [&] { read(gnuSymbol("0000000000001000", "fine") + "\n" + bad + "\nnext", &echoed); },
      "Could not parse entire string");
  std::ostringstream echo;
  try {
    MapFile map(MapFile::FromText{}, "0x10\t0xZZ\t[1] caf\xE9", echo);
  } catch (const zel::utils::text::ConvException& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 14), "Unexpected 'Z'");
  }
  EXPECT_EQ(echo.str(), "0x10\t0xZZ\t[1] caf\xC3\xA9\n");
}

TEST(MapFile, ReportsFilesThatCannotBeRead) {
  expectThrowsWithMessage<std::runtime_error>([] { MapFile map("/nonexistent/x.map"); },
                                              "/nonexistent/x.map: No such file or directory");
  expectThrowsWithMessage<std::runtime_error>([] { MapFile map("/"); }, "/: Is a directory");
}

TEST(MapFilePublics, FindsTheHeadingWhereverItFallsInTheText) {
  const std::string row = " 0001:00000000       _main                      00001000 f   app.obj";
  struct Case {
    const char* what;
    std::string before;  // the text before the row
    bool read;
  } cases[] = {
      {"inside the first line", kHeading + "\n", true},
      {"on the last line, no LF after it", "x\n  Publics by Value", true},
      {"after CR LF lines", "a\r\nb\r\n  Publics by Value\r\n", true},
      {"split across two lines", "  Publics by\nValue\n", false},
      {"split by CR LF", "  Publics by\r\n Value\r\n", false},
      {"at column 0", "Publics by Value\n", false},
      {"at column 0, again later in the line", "Publics by Value  Publics by Value\n", false},
      {"at column 0, then inside a later line", "Publics by Value\nx\n Publics by Value\n", true},
      {"at column 0 of the line after one with it inside", "a Publics by Value\nPublics by Value\n",
       true},
      {"cut short", "  Publics by Valu\n", false},
      {"after a byte that is not UTF-8", "\xE9\xE9 Publics by Value\n", true},
      {"at column 0 after an empty line", "\nPublics by Value\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Sym> symbols = read(c.before + "\n" + row);
    EXPECT_EQ(symbols.size(), c.read ? 1u : 0u);
  }
}

TEST(MapFile, ReencodesOnlyTheLinesThatAreNotUTF8) {
  // Lines are checked in runs across line ends; a bad byte anywhere repairs its line alone,
  // whether it opens the run, ends it or lies next to the line feed.
  const std::string names[] = {"first", "se\xE9", "\xE9third", "fourth", "fifth\xC3", "sixth"};
  const std::string fixed[] = {"first",  "se\xC3\xA9",    "\xC3\xA9third",
                               "fourth", "fifth\xC3\x83", "sixth"};
  for (size_t bad = 0; bad < 6; ++bad) {
    std::string text;
    std::vector<Sym> expected;
    for (size_t k = 0; k < 6; ++k) {
      bool broken = k == bad || k == 2;  // line 2 is always bad: two bad lines in some runs
      std::string name = broken ? names[k] : std::string("line") + char('0' + k);
      std::string address = "000000000000100" + std::to_string(k);
      text += gnuSymbol(address, name) + (k % 2 ? "\r\n" : "\n");
      expected.push_back({0x1000 + k, broken ? fixed[k] : name, k});
    }
    SCOPED_TRACE(hexBytes(text));
    EXPECT_EQ(read(text), expected);
  }
}

TEST(MapFile, ReadsALargeFileLikeTheSameTextInMemory) {
  // Past 2 MiB the file is read into memory of its own kind; what is read must not differ.
  std::string text;
  for (size_t k = 0; text.size() < (size_t{5} << 20); ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016zx", 0x1000 + k * 16);
    text += gnuSymbol(address, "symbol_" + std::to_string(k)) + "\n";
  }
  text += gnuSymbol("00000000ffffffff", "last");  // no LF at the end
  std::string path = ::testing::TempDir() + "vorlith-large.map";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  std::ostringstream echo;
  MapFile fromFile(path, echo);
  std::vector<Sym> expected = read(text);
  EXPECT_EQ(symbolsOf(fromFile), expected);
  EXPECT_EQ(expected.back(), (Sym{0xffffffff, "last", expected.size() - 1}));
  std::remove(path.c_str());
}

TEST(MapSpaceScanners, AgreeWithTheByteByByteDefinitionAroundWordEdges) {
  // Every byte value at every position of runs around the 8-byte stride, at every alignment,
  // in a run of letters (for findMapSpace) and of spaces (for skipMapSpace). Bytes from 0x80 up
  // and controls below '!' that are no white space must not stop findMapSpace.
  auto plainFind = [](std::string_view s, size_t pos) {
    while (pos < s.size() && !vorlith::isMapSpace(s[pos])) {
      ++pos;
    }
    return pos;
  };
  auto plainSkip = [](std::string_view s, size_t pos) {
    while (pos < s.size() && vorlith::isMapSpace(s[pos])) {
      ++pos;
    }
    return pos;
  };
  std::string buffer;
  for (int byte = 0; byte < 256; ++byte) {
    for (size_t offset = 0; offset < 8; ++offset) {
      for (size_t length = 0; length <= 24; ++length) {
        for (size_t at = 0; at <= length; ++at) {  // `length`: the byte is not in the text
          for (char fill : {'a', ' '}) {
            buffer.assign(offset, '\t');
            buffer.append(length, fill);
            if (at < length) {
              buffer[offset + at] = static_cast<char>(byte);
            }
            buffer += '\n';  // past the end: must not be seen
            std::string_view s = std::string_view(buffer).substr(offset, length);
            for (size_t from : {size_t{0}, at / 2, at}) {
              if (from > length) {
                continue;
              }
              ASSERT_EQ(vorlith::findMapSpace(s, from), plainFind(s, from))
                  << hexBytes(s) << " from " << from;
              ASSERT_EQ(vorlith::skipMapSpace(s, from), plainSkip(s, from))
                  << hexBytes(s) << " from " << from;
            }
          }
        }
      }
    }
  }
}

TEST(MapFileGnu, JoinsTheNameColumnByTokens) {
  // The name is a view of the line unless white space other than single spaces is in it.
  struct Case {
    std::string rest;  // what follows the address
    std::string name;
  } cases[] = {
      {"                _Dmain", "_Dmain"},
      {"                vtable for llvm::Pass", "vtable for llvm::Pass"},
      {"                a  b\tc \v d", "a b c d"},
      {"                a\tb", "a b"},
      {"                0123456 abcdefg", "0123456 abcdefg"},  // the space ends a word
      {"                0123456\tabcdefg  ", "0123456 abcdefg"},
      {"                long_name_of_many_words_with_one\x01control",
       "long_name_of_many_words_with_one\x01control"},
      {"                name \t", "name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.rest));
    std::vector<Sym> symbols = read(gnu("", "0000000000001000", c.rest));
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].name, c.name);
  }
}

TEST(MapFile, KeepsEveryNameWhenOnlyTheNamesAreKept) {
  // Names of every origin: views of the text, joined contributions, end markers that share a
  // contribution's bytes or are copies, and a line repaired from Latin-1. The storage they came
  // from is freed, so a view left pointing into it fails under AddressSanitizer.
  const std::string text = gnu(" .text", "0000000000401000", "       0x30 build/objects/app.o") +
                           "\n" + gnuSymbol("0000000000401000", "caf\xE9_main") + "\n" +
                           gnuSymbol("0000000000401010", "_D3app4mainFZv") + "\n" +
                           "0x402000\t0x10\t[  1] _ld64_entry\n" +
                           gnuSymbol("0000000000000000", "at_zero");
  // The same text read from a file of more than 2 MiB takes the other kind of storage.
  std::string large = text + "\n";
  large.resize(size_t{3} << 20, '\n');
  std::string path = ::testing::TempDir() + "vorlith-kept-names.map";
  {
    std::ofstream out(path, std::ios::binary);
    out << large;
  }
  for (bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "file" : "text");
    std::ostringstream echo;
    std::unique_ptr<MapFile> map = fromFile
                                       ? std::make_unique<MapFile>(path, echo)
                                       : std::make_unique<MapFile>(MapFile::FromText{}, text, echo);
    std::vector<Sym> before = symbolsOf(*map);
    ASSERT_EQ(before.size(), 7u) << ::testing::PrintToString(before);
    map->keepOnlyNames();
    EXPECT_EQ(symbolsOf(*map), before);
    EXPECT_FALSE(map->empty());
  }
  std::remove(path.c_str());

  std::ostringstream echo;
  MapFile none(MapFile::FromText{}, "", echo);
  none.keepOnlyNames();
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(none.symbols.empty());
}

TEST(MapFile, KeepsTheNamesOfEveryRealMapInBothReadings) {
  // Real maps give names that share bytes (a contribution and its end marker, a section name
  // carried to the next line).
  size_t maps = 0;
  for (const char* dir : {VORLITH_TEST_DATA, VORLITH_TEST_DATA "/fixtures"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() != ".map") {
        continue;
      }
      for (bool modern : {false, true}) {
        SCOPED_TRACE(entry.path().filename().string() + (modern ? " --modern" : ""));
        std::ostringstream echo;
        MapFile map(entry.path().string(), echo, vorlith::readingSettings(modern));
        std::vector<Sym> before = symbolsOf(map);
        map.keepOnlyNames();
        EXPECT_EQ(symbolsOf(map), before);
        ++maps;
      }
    }
  }
  EXPECT_GE(maps, 40u);
}

// Two symbols of one line at one address (a line that both the GNU and the ld64 form read) are a
// tie of address and line: they keep the order they were read in, whatever the sort does with
// thousands of such ties, and so does every symbol of every line at a repeated address.
TEST(MapFileSort, TiesKeepTheOrderOfTheMap) {
  std::string text;
  std::vector<Sym> expected;
  constexpr size_t kLines = 3000;
  for (size_t k = 0; k < kLines; ++k) {
    // Three lines share each address, the addresses falling and rising so the sort must work.
    uint64_t address = 0x1000 + 16 * ((k / 3) % 2 == 0 ? k / 3 : 2000 - k / 3);
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(address));
    std::string name = "name_" + std::to_string(k);
    std::string ld64 = "0x" + std::string(digits).substr(12) + "\t0x0\t[";
    ld64.resize(15, ' ');
    std::string line = ld64 + " 0x" + digits + std::string(16, ' ') + name;
    text += line + "\n";
    std::string gnuName = name + " (" + ld64.substr(0, 12) + ")";
    expected.push_back({address, gnuName, k});
    expected.push_back({address, line.substr(12), k});
  }
  std::stable_sort(expected.begin(), expected.end(), [](const Sym& a, const Sym& b) {
    return a.address < b.address;
  });
  EXPECT_EQ(read(text), expected);
}
