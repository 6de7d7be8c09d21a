// The ELF maps of ld.lld and mold. Both are one table from the header line to the end of the
// file: numeric columns, then a name whose indentation tells what the row is.
//
// ld.lld (VMA, LMA and Size in hexadecimal without "0x", Align in decimal), 64-bit:
//              VMA              LMA     Size Align Out     In      Symbol
//             1979             1979       e8     1         main.o:(.text)
//             1979             1979       31     1                 report
//             1a61             1a61       8a     1         libx.a(table.o):(.text)
// and 32-bit, whose address columns are 8 wide:
//      VMA      LMA     Size Align Out     In      Symbol
//     1eb0     1eb0      625    16 .text
//     1fde     1fde      3a0     2         app.o:(.text)
//     1fde     1fde       22     1                 _D3app6Square4sizeMxFZi
// mold (VMA with "0x", Size and Align in decimal; symbols carry no size):
//                VMA       Size Align Out     In      Symbol
//             0x1820        603    16 .text
//             0x1909        232     1         main.o:(.text)
//             0x1909          0     0                 report
//
// The column widths move with the target and with wide values, so the numbers are read as
// white-space separated tokens and the indentation is measured from the single space that ends
// the last number. Rows become what the GNU memory map makes of the same things: an output
// section is its name, an input section "file (section)", a symbol its name, and a row with a
// size gets an end marker.
#include "mapfile_elf.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "zel/utils/text.h"

namespace vorlith {

using std::string_view;
using zel::utils::text::fromDec;

namespace {

uint64_t fromHexWithPrefix(string_view s) {
  if (s.substr(0, 2) == "0x") {
    s.remove_prefix(2);
  }
  return zel::utils::text::fromHex<uint64_t>(s);
}

// Indentation of the name column's kinds of row: output section 0, input section 8, symbol 16.
constexpr size_t kInputIndent = 8;
constexpr size_t kSymbolIndent = 16;

}  // namespace

ElfMapForm elfMapForm(string_view firstLine) {
  static constexpr std::array<string_view, 7> kLld = {"VMA", "LMA", "Size",  "Align",
                                                      "Out", "In",  "Symbol"};
  static constexpr std::array<string_view, 6> kMold = {"VMA", "Size", "Align",
                                                       "Out", "In",   "Symbol"};
  std::vector<string_view> words;
  size_t pos = 0;
  for (string_view word = nextToken(firstLine, pos); !word.empty() && words.size() <= kLld.size();
       word = nextToken(firstLine, pos)) {
    words.push_back(word);
  }
  if (std::equal(words.begin(), words.end(), kLld.begin(), kLld.end())) {
    return ElfMapForm::Lld;
  }
  if (std::equal(words.begin(), words.end(), kMold.begin(), kMold.end())) {
    return ElfMapForm::Mold;
  }
  return ElfMapForm::None;
}

void ElfMapReader::parseLine(string_view line, size_t index) {
  // lld: VMA LMA Size Align; mold: VMA Size Align.
  std::array<string_view, 4> columns;
  size_t count = form_ == ElfMapForm::Lld ? 4 : 3;
  size_t pos = 0;
  for (size_t k = 0; k < count; ++k) {
    columns[k] = nextToken(line, pos);
    if (columns[k].empty()) {
      return;  // a blank line, or a row cut short: nothing to read
    }
  }
  size_t nameStart = pos + 1;
  size_t end = line.size();
  while (end > nameStart && isMapSpace(line[end - 1])) {
    --end;
  }
  size_t first = nameStart;
  while (first < end && line[first] == ' ') {
    ++first;
  }
  if (first >= end) {
    return;  // no name
  }
  string_view text = line.substr(first, end - first);
  size_t indent = first - nameStart;

  uint64_t address, size;
  if (form_ == ElfMapForm::Lld) {
    address = zel::utils::text::fromHex<uint64_t>(columns[0]);
    (void)zel::utils::text::fromHex<uint64_t>(columns[1]);  // checked like every column
    size = zel::utils::text::fromHex<uint64_t>(columns[2]);
    (void)fromDec(columns[3]);
  } else {
    address = fromHexWithPrefix(columns[0]);
    size = fromDec(columns[1]);
    (void)fromDec(columns[2]);
  }

  // Linker-script assignments ("__bss_start = .", "PROVIDE_HIDDEN ( x = . )") hold no storage.
  if (text.find(" = ") != string_view::npos) {
    return;
  }

  string_view name = text;
  string_view marker;  // "END\t" and the name, when made together with it
  if (indent < kInputIndent) {
    sections_.addSection(text, address, size, index);
  } else if (indent < kSymbolIndent) {
    // "file:(section)", the archive member inside the file part: "lib.a(m.o):(.text)".
    size_t colon = text.rfind(":(");
    if (colon != string_view::npos && text.back() == ')') {
      marker = made_.concat({kEndMarker, text.substr(0, colon), " ", text.substr(colon + 1)});
      name = marker.substr(kEndMarker.size());
      sections_.addInput(index, text.substr(0, colon));
    } else {
      sections_.addInput(index, {});
    }
  }
  // Rows at address 0 are sections that are not loaded (.comment, .symtab, debug sections).
  bool ends = address != 0 && size != 0;
  if (ends && marker.empty()) {
    // The name is the marker's tail: one copy of the row's text for both.
    marker = made_.concat({kEndMarker, name});
    name = marker.substr(kEndMarker.size());
  }
  symbols_.push_back({address, name, index});
  if (ends) {
    symbols_.push_back({address + size, marker, index});  // wraps like every address sum
  }
}

}  // namespace vorlith
