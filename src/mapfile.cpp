// The map file reader. Every line is offered to three recognisers, one per listing form:
//
// A, "Publics by Value" (segment:offset, name, flat address), after its heading:
//    0001:00000000       _main                      0000000140001000 f   app.obj
// B, the GNU ld memory map (output sections, input sections, fills, symbols):
//  .text          0x0000000000401000      0x630 app.o
//                 0x0000000000401000                _Dmain
// C, the ld64 symbol table (address, size, [file number] name), tab-separated:
//    0x100003F30	0x00000020	[  1] _main
//
// Forms B and C also make an end marker where a sized entry ends, so that the gap up to the
// next symbol can be shown as padding.
//
// With the modern settings, a file that begins with the column header of ld.lld or mold is read
// by that form alone (mapfile_elf.cpp), and form B reads GNU ld maps as today's versions write
// them: a section name too long for its column stands alone on the line before its address
//  .text._D3app4mainFZv
//                 0x0000000000401000       0x30 app.o
// and is carried over to that line; assignments (" = ") hold no storage and make no symbol; a
// fill without a pattern is named after its output section, "(*fill*)" behind it, so that it is
// filed with the patterned ones.
#include "mapfile.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "file_io.h"
#include "mapfile_elf.h"
#include "pages.h"
#include "zel/utils/text.h"

namespace vorlith {

using std::string_view;
using zel::utils::text::fromHex;

namespace {

// The Unicode White_Space property. ASCII, nearly every code point asked about, takes two tests.
inline bool isWhiteSpace(uint32_t cp) {
  if (cp < 0x80) {
    return cp == 0x20 || cp - 0x09 <= 0x0D - 0x09;
  }
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// Strips Unicode white space from both ends. The text is a cut of valid UTF-8, so a sequence
// may be cut at either end; a cut sequence is not white space.
string_view strip(string_view s) {
  using zel::utils::text::decodeUTF8;
  using zel::utils::text::validUTF8SequenceLength;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t begin = 0, end = s.size();
  while (begin < end) {
    size_t len = 1;  // an ASCII byte, nearly always: no decoding
    uint32_t cp = p[begin];
    if (cp >= 0x80) {
      len = validUTF8SequenceLength(s.substr(0, end), begin);
      if (len == 0) {
        break;
      }
      cp = decodeUTF8(s, begin, len);
    }
    if (!isWhiteSpace(cp)) {
      break;
    }
    begin += len;
  }
  while (end > begin) {
    if (p[end - 1] < 0x80) {
      if (!isWhiteSpace(p[end - 1])) {
        break;
      }
      --end;
      continue;
    }
    size_t lead = end - 1;
    while (lead > begin && end - lead < 4 && (p[lead] & 0xC0) == 0x80) {
      --lead;
    }
    size_t len = validUTF8SequenceLength(s.substr(0, end), lead);
    if (len != end - lead || !isWhiteSpace(decodeUTF8(s, lead, len))) {
      break;
    }
    end = lead;
  }
  return s.substr(begin, end - begin);
}

// Line parser state shared by the three forms.
class LineParser {
 public:
  // `text` is the whole map; the lines given to parseLine are cut from it.
  // `sections`, given for the modern rules only, receives the output and input sections.
  LineParser(std::vector<Symbol>& symbols, TextArena& made, MapSections* sections, string_view text)
      : symbols_(symbols),
        made_(made),
        sections_(sections),
        modern_(sections != nullptr),
        text_(text),
        heading_(findHeading(0)) {}

  // `line` is `raw`, the line as the file has it, or its repaired copy.
  void parseLine(string_view line, string_view raw, size_t index) {
    index_ = index;
    if (modern_) {
      carried_ = loneSection_;
      loneSection_ = loneSectionName(line);
      noteOutputSection(line);
      noteSection(line);
    }
    if (parsing_) {
      if (!parsePublic(line)) {
        return;
      }
    } else {
      parsing_ = headingInside(raw);
    }
    if (!parseGnu(line)) {
      return;
    }
    parseLd64(line);
  }

 private:
  static constexpr string_view kHeading = "Publics by Value";

  // Where the heading next occurs in the text at or after `from`, or npos. The text is searched
  // once instead of line by line: most maps lack the heading, and a search per line costs a
  // call for every 'P' in it.
  size_t findHeading(size_t from) const {
    const void* found =
        ::memmem(text_.data() + from, text_.size() - from, kHeading.data(), kHeading.size());
    return found == nullptr ? string_view::npos
                            : static_cast<size_t>(static_cast<const char*>(found) - text_.data());
  }

  // Whether the first heading in `raw` begins past its first column. (One at column 0 is some
  // other text.) Repairing a line re-encodes bytes above 0x7F only, so the ASCII heading is
  // found in the raw line exactly where it is in the repaired one, shifted.
  bool headingInside(string_view raw) {
    auto start = static_cast<size_t>(raw.data() - text_.data());
    if (heading_ < start) {
      heading_ = findHeading(start);  // the one found was at column 0 of an earlier line
    }
    return heading_ != string_view::npos && heading_ > start &&
           heading_ + kHeading.size() <= start + raw.size();
  }

  void add(uint64_t address, string_view name) { symbols_.push_back({address, name, index_}); }

  // The marker's name is "END\t" and `name`; where `name` was made with room for the prefix
  // just before it (see parseGnu), the marker shares its bytes.
  void addEndMarker(uint64_t address, string_view name) {
    if (!madeWithPrefix_.empty() && name.data() == madeWithPrefix_.data() + kEndMarker.size()) {
      add(address, madeWithPrefix_);
    } else {
      add(address, made_.concat({kEndMarker, name}));
    }
  }

  // Form A. Returns false when the line's processing ends here.
  bool parsePublic(string_view line) {
    if (line.size() <= 30 || line[5] != ':' || line[17] != ' ') {
      return true;
    }
    string_view rest = line.substr(21);
    size_t nameEnd = rest.find(' ');
    if (nameEnd == string_view::npos) {
      nameEnd = rest.find_first_of("\t\n\v\f\r");
    }
    string_view name = rest.substr(0, nameEnd);
    // Column 21 may fall inside a character of the line; names are always valid UTF-8, and the
    // leaf would be repaired the same way later.
    if (!zel::utils::text::isValidUTF8(name)) {
      name = made_.copy(zel::utils::text::rawToUTF8(name));
    }
    size_t pos = 0;
    nextToken(rest, pos);
    string_view addressText = nextToken(rest, pos);
    if (addressText.empty()) {
      return false;
    }
    // 64-bit maps carry 16-digit flat addresses above 4 GB.
    add(fromHex<uint64_t>(addressText), name);
    return true;
  }

  // Form B. Returns false when the line's processing ends here.
  bool parseGnu(string_view line) {
    if (line.size() <= 45 || line.substr(15, 3) != " 0x") {
      return true;
    }
    string_view section = strip(line.substr(0, 16));
    if (section.empty() && !carried_.empty()) {
      section = carried_;  // checked below: only a line with a size takes it
    }
    if (section == ".comment") {
      return false;
    }
    string_view fields = line.substr(18);
    size_t pos = 0;
    string_view addressText = nextToken(fields, pos);
    if (addressText.empty()) {
      return true;  // nothing but white space after the "0x": no symbol, no error
    }
    uint64_t address = fromHex<uint64_t>(addressText);
    uint64_t size = 0;
    size_t afterAddress = pos;
    string_view token = nextToken(fields, pos);
    bool sized = token.starts_with("0x");
    if (sized) {
      size = fromHex<uint64_t>(token.substr(2));
    } else {
      pos = afterAddress;
    }
    if (!sized && section.data() == carried_.data()) {
      section = {};  // a symbol line: the name before it was something else
    }
    string_view text = joinTokens(fields, pos);
    if (text.starts_with(". =") || text.starts_with("_end =") || text.starts_with("PROVIDE (")) {
      return false;
    }
    if (modern_ && text.find(" = ") != string_view::npos) {
      return false;
    }
    string_view name;
    if (modern_ && text.empty() && section == "*fill*") {
      string_view in = outputSection_.empty() ? section : outputSection_;
      // The fills of one output section share one name, made once.
      constexpr string_view kFill = " (*fill*)";
      if (lastFill_.size() != kEndMarker.size() + in.size() + kFill.size() ||
          lastFill_.substr(kEndMarker.size(), in.size()) != in) {
        lastFill_ = made_.concat({kEndMarker, in, kFill});
      }
      madeWithPrefix_ = lastFill_;
      name = madeWithPrefix_.substr(kEndMarker.size());
    } else if (text.empty()) {
      name = section;
    } else if (section.empty()) {
      name = text;
    } else {
      madeWithPrefix_ = made_.concat({kEndMarker, text, " (", section, ")"});
      name = madeWithPrefix_.substr(kEndMarker.size());
    }
    add(address, name);
    if (address != 0 && size != 0) {
      addEndMarker(address + size, name);  // wraps like every address sum
    }
    if (sections_ != nullptr && sized) {
      // A contribution begins the stretch of lines of its object; a fill (GNU ld's "*fill*",
      // gold's "** fill") belongs to none.
      bool fill = section == "*fill*" || section.starts_with("**") || text.empty();
      sections_->addInput(index_, fill ? string_view() : text);
    }
    return true;
  }

  // The tokens from `pos` on, joined by single spaces; a view of the line when it already is.
  string_view joinTokens(string_view s, size_t pos) {
    size_t first = skipMapSpace(s, pos);
    size_t last = s.size();
    while (last > first && isMapSpace(s[last - 1])) {
      --last;
    }
    string_view span = s.substr(first, last - first);
    bool plain = true;  // no white space but single spaces (the span ends in none)
    for (size_t k = findMapSpace(span, 0); k < span.size() && plain;
         k = findMapSpace(span, k + 1)) {
      plain = span[k] == ' ' && !isMapSpace(span[k + 1]);
    }
    if (plain) {
      return span;
    }
    std::string& joined = joined_;
    joined.clear();
    size_t at = 0;
    for (string_view token = nextToken(span, at); !token.empty(); token = nextToken(span, at)) {
      if (!joined.empty()) {
        joined += ' ';
      }
      joined.append(token);
    }
    return made_.copy(joined);
  }

  // Form C.
  void parseLd64(string_view line) {
    size_t tab1 = line.find('\t');
    if (tab1 == string_view::npos) {
      return;
    }
    size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 == string_view::npos || line.find('\t', tab2 + 1) != string_view::npos) {
      return;
    }
    string_view addressField = line.substr(0, tab1);
    string_view sizeField = line.substr(tab1 + 1, tab2 - tab1 - 1);
    string_view nameField = line.substr(tab2 + 1);
    if (!addressField.starts_with("0x") || !sizeField.starts_with("0x") ||
        !nameField.starts_with("[")) {
      return;
    }
    uint64_t address = fromHex<uint64_t>(addressField.substr(2));
    uint64_t size = fromHex<uint64_t>(sizeField.substr(2));
    size_t close = nameField.find("] ");
    string_view name =
        close == string_view::npos ? nameField.substr(1) : nameField.substr(close + 2);
    add(address, name);
    if (size != 0) {
      addEndMarker(address + size, name);
    }
  }

  // A line that holds nothing but a section name, at the start or after one space: GNU ld
  // writes the address of such a section on the next line.
  static string_view loneSectionName(string_view line) {
    size_t begin = !line.empty() && line[0] == ' ' ? 1 : 0;
    if (begin >= line.size() || isMapSpace(line[begin]) || line[begin] == '*') {
      return {};
    }
    return findMapSpace(line, begin) == line.size() ? line.substr(begin) : string_view();
  }

  // An output section starts at column 0, its address in the section column or, when its name
  // is too long, on the next line. (Its own line is too short for form B.)
  void noteOutputSection(string_view line) {
    if (line.empty() || isMapSpace(line[0])) {
      return;
    }
    // Kept as a copy: the text of earlier lines goes while the map is read.
    if (loneSection_.data() == line.data()) {
      outputSection_ = outputSectionText_.assign(loneSection_);
    } else if (line.size() >= 18 && line.substr(15, 3) == " 0x") {
      size_t pos = 0;
      outputSection_ = outputSectionText_.assign(nextToken(line, pos));
    }
  }

  // An output section's line: its name at column 0, its address and size on the same line
  //   .text           0x0000000000001040      0x129
  // or, when the name is too long for its column, on the next line (which form B, wanting
  // more than 45 bytes, never reads). A load address may follow.
  void noteSection(string_view line) {
    string_view pending = std::exchange(pendingSection_, string_view());
    if (line.empty()) {
      return;
    }
    size_t pos = 0;
    if (!isMapSpace(line[0])) {
      if (loneSection_.data() == line.data()) {
        pendingSection_ = pendingSectionText_.assign(loneSection_);
        return;
      }
      string_view name = nextToken(line, pos);
      if (line.size() >= 18 && line.substr(15, 3) == " 0x") {
        addSectionFrom(name, line, pos);
      }
    } else if (!pending.empty()) {
      addSectionFrom(pending, line, pos);
    }
  }

  // Reads "0xADDRESS 0xSIZE" and at most a load address from `pos` on.
  void addSectionFrom(string_view name, string_view line, size_t pos) {
    string_view address = nextToken(line, pos);
    string_view size = nextToken(line, pos);
    string_view more = nextToken(line, pos);
    uint64_t start = 0, length = 0;
    if (!readHex(address, start) || !readHex(size, length) || (!more.empty() && more != "load")) {
      return;  // not a section's line after all: the symbols' forms judge it
    }
    sections_->addSection(name, start, length, index_);
  }

  // "0x" and up to 16 hexadecimal digits, without failing: lines that only look like a
  // section's are left to the forms that read them.
  static bool readHex(string_view token, uint64_t& value) {
    if (!token.starts_with("0x") || token.size() < 3 || token.size() > 18) {
      return false;
    }
    value = 0;
    for (char c : token.substr(2)) {
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) {
        return false;
      }
      value = value << 4 | static_cast<uint64_t>(digit);
    }
    return true;
  }

  std::vector<Symbol>& symbols_;
  TextArena& made_;
  MapSections* sections_;
  bool modern_;
  string_view text_;
  size_t heading_;             // the next heading in text_ not before the line, or npos
  string_view loneSection_;    // this line, when it is a lone section name
  string_view carried_;        // the line before, when it was one
  string_view outputSection_;  // the last output section, which names the fills in it
  std::string outputSectionText_;
  string_view pendingSection_;  // an output section's name alone on the line before
  std::string pendingSectionText_;
  std::string joined_;
  string_view madeWithPrefix_;  // the last contribution name, made behind an "END\t"
  string_view lastFill_;        // the last fill's name, made behind an "END\t"
  size_t index_ = 0;
  bool parsing_ = false;  // the "Publics by Value" heading has been seen
};

}  // namespace

// Memory for the text of a regular file. A large file goes to anonymous memory that the kernel
// may back with 2 MiB pages: the read faults each page in once, and a fault costs far more than
// its share of the copy on virtual machines, so 512 times fewer faults save most of the system
// time. Where that memory cannot be had, the heap serves.
class ReadBuffer {
 public:
  explicit ReadBuffer(size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr size_t kHugePage = size_t{2} << 20;
    if (size >= kHugePage) {
      size_t length = size + kHugePage;  // room to begin at a huge-page boundary
      void* mapping =
          ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (mapping != MAP_FAILED) {
        mapping_ = mapping;
        length_ = length;
        auto begin = reinterpret_cast<uintptr_t>(mapping);
        auto aligned = (begin + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
        data_ = reinterpret_cast<char*>(aligned);
        // The whole huge pages that the text fills, not the one it ends in: that one would
        // take its 2 MiB whole for the few bytes of the text's end.
        adviseHugePages(data_, size);
        return;
      }
    }
#endif
    heap_ = std::make_unique_for_overwrite<char[]>(size);
    data_ = heap_.get();
  }

  ReadBuffer(const ReadBuffer&) = delete;
  ReadBuffer& operator=(const ReadBuffer&) = delete;

  ~ReadBuffer() {
    if (mapping_ != nullptr) {
      ::munmap(mapping_, length_);
    }
  }

  [[nodiscard]] char* data() const {
    return data_;
  }

 private:
  void* mapping_ = nullptr;
  size_t length_ = 0;
  std::unique_ptr<char[]> heap_;
  char* data_ = nullptr;
};

MapFile::MapFile(const std::string& fileName) : MapFile(fileName, std::cout) {}

MapFile::MapFile(const std::string& fileName, std::ostream& echo, const Settings& settings)
    : MapFile(fileName, echo, settings, nullptr) {}

MapFile::MapFile(const std::string& fileName, std::ostream& echo, const Settings& settings,
                 size_t* failedLine)
    : failedLine_(failedLine) {
  readText(fileName);
  parse(echo, settings);
}

void MapFile::readText(const std::string& fileName) {
  InputFile file(fileName);
  // Read, not mapped: a mapped file that another program shortens meanwhile kills the reader
  // with SIGBUS at the first page past its new end, and no handler can resume the parser
  // safely from there. Reading costs one copy, a small part of the run.
  struct stat info;
  if (::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size_t size = static_cast<size_t>(info.st_size);
    read_ = std::make_unique<ReadBuffer>(size);
    ReadResult read = readFully(file.fd(), read_->data(), size);
    if (read.error != 0) {
      failOnFile(fileName, read.error);
    }
    if (read.got < size) {
      throw std::runtime_error(fileName + ": the file shrank while it was read");
    }
    char probe;
    read = readFully(file.fd(), &probe, 1);
    if (read.error != 0) {
      failOnFile(fileName, read.error);
    }
    if (read.got == 0) {
      text_ = std::string_view(read_->data(), size);
      return;
    }
    // It grew meanwhile: take what there is now, as from a pipe.
    owned_.assign(read_->data(), size);
    owned_ += probe;
    read_.reset();
  }
  readToEnd(file.fd(), owned_, fileName);  // pipes, devices, and files that grow while read
  text_ = owned_;
}

MapFile::MapFile(FromText, std::string text, std::ostream& echo, const Settings& settings,
                 size_t* failedLine)
    : failedLine_(failedLine), owned_(std::move(text)), text_(owned_) {
  parse(echo, settings);
}

MapFile::~MapFile() = default;

void MapFile::keepOnlyNames() {
  // A sized entry and its end marker were read from one line, and the reader made the marker
  // "END\t" + name with the name as its tail: the copies keep sharing those bytes. A symbol
  // shares when the marker of its line (the last one, if a line made several) holds its bytes
  // right behind the prefix; the marker comes after it in the list (it lies at a higher
  // address) unless its address wrapped, and then each is copied apart.
  size_t lines = 0;
  for (const Symbol& symbol : symbols) {
    lines = std::max(lines, symbol.index + 1);
  }
  constexpr uint32_t kNone = UINT32_MAX;
  std::vector<uint32_t> markerOfLine;
  if (symbols.size() < kNone) {
    markerOfLine.assign(lines, kNone);
    for (size_t k = 0; k < symbols.size(); ++k) {
      if (symbols[k].name.starts_with(kEndMarker)) {
        markerOfLine[symbols[k].index] = static_cast<uint32_t>(k);
      }
    }
  }
  // The marker at a later place whose tail `k`'s name is, or kNone.
  auto sharedMarker = [&](size_t k) -> uint32_t {
    const Symbol& symbol = symbols[k];
    if (markerOfLine.empty() || symbol.name.empty() || symbol.name.starts_with(kEndMarker)) {
      return kNone;
    }
    uint32_t m = markerOfLine[symbol.index];
    if (m == kNone || m <= k) {
      return kNone;
    }
    string_view marker = symbols[m].name;
    return marker.data() + kEndMarker.size() == symbol.name.data() &&
                   marker.size() == kEndMarker.size() + symbol.name.size()
               ? m
               : kNone;
  };
  // Room for every name apart: the room that sharing leaves at the end is never touched, and
  // a block this large comes straight from the system, so those pages take no memory.
  size_t bytes = 0;
  for (const Symbol& symbol : symbols) {
    bytes += symbol.name.size();
  }
  auto names = std::make_unique_for_overwrite<char[]>(bytes + 1);
  char* const begin = names.get();
  char* at = begin;
  auto copied = [&](string_view name) {
    return std::less_equal<>()(begin, name.data()) && std::less<>()(name.data(), at);
  };
  // The copies of the names copied last, by where their bytes were: names that the reader made
  // once for many lines (fills of one output section) stay one copy.
  struct Copied {
    const char* from = nullptr;
    size_t size = 0;
    const char* to = nullptr;
  };
  std::vector<Copied> recent(1024);
  auto copy = [&at, &recent](string_view name) {
    auto bits = reinterpret_cast<uintptr_t>(name.data());
    Copied& entry = recent[static_cast<size_t>(((bits >> 3) * 0x9E3779B97F4A7C15ull) >> 54)];
    if (entry.from == name.data() && entry.size == name.size() && !name.empty()) {
      return string_view(entry.to, name.size());
    }
    if (!name.empty()) {
      std::memcpy(at, name.data(), name.size());
    }
    string_view kept(at, name.size());
    entry = {name.data(), name.size(), at};
    at += name.size();
    return kept;
  };
  for (size_t k = 0; k < symbols.size(); ++k) {
    Symbol& symbol = symbols[k];
    if (uint32_t m = sharedMarker(k); m != kNone) {
      symbols[m].name = copy(symbols[m].name);
      symbol.name = symbols[m].name.substr(kEndMarker.size());
    } else if (symbol.name.empty() || !copied(symbol.name)) {
      symbol.name = copy(symbol.name);
    }
  }
  kept_ = std::move(names);
  made_ = TextArena();
}

// Maps from this size on have their symbol list on huge pages.
constexpr size_t kHugeListMap = size_t{48} << 20;

void MapFile::parse(std::ostream& echo, const Settings& settings) {
  empty_ = text_.empty();
  // Room for one symbol per 32 bytes of map, more than real maps give (a GNU ld line is about
  // 100 bytes and makes one or two); pages that stay unused are never touched. On huge pages
  // only for a large map: the one the list ends in takes its 2 MiB whole, which on a map of a
  // few MB would be a good part of the peak.
  symbols.reserve(text_.size() / 32 + 16);
  if (text_.size() >= kHugeListMap) {
    adviseHugePages(symbols.data(), symbols.capacity() * sizeof(Symbol));
  }
  // Lines that lie inside a valid stretch of the text are valid themselves (LF and CR never belong
  // to a longer character), so the text is checked in long runs, not line by line.
  size_t validEnd = 0;  // text_ is valid UTF-8 from the current line up to here
  std::string repaired;
  auto validLine = [&](string_view raw) {
    auto start = static_cast<size_t>(raw.data() - text_.data());
    if (start + raw.size() <= validEnd) {
      return raw;
    }
    validEnd = start + zel::utils::text::validUTF8Prefix(text_.substr(start));
    if (start + raw.size() <= validEnd) {
      return raw;
    }
    return zel::utils::text::forceValidUTF8(raw, repaired);
  };
  // Names are copied out of the text as their lines are read, and the text behind the reader
  // goes back to the system in large steps: the whole text and all the names are never in
  // memory together. The reader's only views of earlier text are of the line before.
  auto liesInText = [this](string_view name) {
    return std::less_equal<>()(text_.data(), name.data()) &&
           std::less_equal<>()(name.data() + name.size(), text_.data() + text_.size());
  };
  // A step of 1 MiB: the text read but not yet given back is then a small part of the peak,
  // which on a map of a few MB the reading itself sets, and a step costs one call.
  constexpr size_t kReleaseStep = size_t{1} << 20;
  // The list's pages are faulted in a step ahead of its end, one call for each step.
  constexpr size_t kPopulateStep = (size_t{256} << 10) / sizeof(Symbol);
  size_t populatedSymbols = 0;
  auto populateSymbols = [&] {
    size_t to = std::min(symbols.capacity(), symbols.size() + kPopulateStep);
    populatePages(symbols.data() + symbols.size(), symbols.data() + to);
    populatedSymbols = to;
  };
  const char* released = text_.data();
  const char* lineBefore = text_.data();
  zel::utils::text::LineCursor cursor(text_);
  auto parseLines = [&](size_t index, auto&& parseLine) {
    for (string_view raw; cursor.next(raw); ++index) {
      string_view line = validLine(raw);
      if (line.data() != raw.data()) {
        line = made_.copy(repaired);  // names may point into it
      }
      size_t before = symbols.size();
      // Recovers only to show which line failed; the failure still ends the run.
      try {
        parseLine(line, raw, index);
      } catch (const std::exception&) {
        echo << line << '\n';
        echo.flush();
        if (failedLine_ != nullptr) {
          *failedLine_ = index + 1;
        }
        throw;
      }
      for (size_t k = before; k < symbols.size(); ++k) {
        if (!symbols[k].name.empty() && liesInText(symbols[k].name)) {
          symbols[k].name = made_.copy(symbols[k].name);
        }
      }
      if (symbols.size() >= populatedSymbols) {
        populateSymbols();
      }
      if (static_cast<size_t>(lineBefore - released) >= kReleaseStep) {
        releasePages(released, lineBefore);
        released = lineBefore;
      }
      lineBefore = raw.data();
    }
  };
  ElfMapForm form = ElfMapForm::None;
  string_view first;
  if (settings.modern && zel::utils::text::LineCursor(text_).next(first)) {
    form = elfMapForm(zel::utils::text::forceValidUTF8(first, repaired));
  }
  if (form != ElfMapForm::None) {
    ElfMapReader parser(form, symbols, made_, sections_);
    cursor.next(first);  // past the header
    parseLines(1,
               [&](string_view line, string_view, size_t index) { parser.parseLine(line, index); });
  } else {
    LineParser parser(symbols, made_, settings.modern ? &sections_ : nullptr, text_);
    parseLines(0, [&](string_view line, string_view raw, size_t index) {
      parser.parseLine(line, raw, index);
    });
  }
  // No name refers to the text any more.
  read_.reset();
  std::string().swap(owned_);
  text_ = {};
  // Stable: symbols of one line at one address (a line read by two forms) keep the order they
  // were made in, so the document never depends on how the sort happens to break ties. The
  // list is made in line order, so this is the order of the map.
  sortSymbols(symbols);
}

namespace {

// Sorts `items` by `less`, under which no two items are equal. Fast for items nearly in order:
// one pass keeps a run in order at the front and sets the others aside; those are sorted the
// same way, unless they are many, and merged back from the end.
template <typename Item, typename Less>
void sortNearlyInOrder(std::vector<Item>& items, const Less& less) {
  std::vector<Item> aside;
  size_t kept = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    Item item = items[k];
    if (kept == 0 || !less(item, items[kept - 1])) {
      items[kept++] = item;
    } else if (kept >= 2 && !less(item, items[kept - 2])) {
      // The last one kept stood too high: it goes aside instead.
      aside.push_back(items[kept - 1]);
      items[kept - 1] = item;
    } else {
      aside.push_back(item);
    }
  }
  if (aside.empty()) {
    return;
  }
  if (aside.size() <= items.size() / 2) {
    sortNearlyInOrder(aside, less);
  } else {
    std::sort(aside.begin(), aside.end(), less);  // far from in order
  }
  size_t out = items.size();
  size_t from = kept;
  for (size_t a = aside.size(); a-- > 0;) {
    while (from > 0 && less(aside[a], items[from - 1])) {
      items[--out] = items[--from];
    }
    items[--out] = aside[a];
  }
}

}  // namespace

void sortSymbols(std::vector<Symbol>& symbols) {
  auto before = [](const Symbol& a, const Symbol& b) {
    return a.address != b.address ? a.address < b.address : a.index < b.index;
  };
  size_t n = symbols.size();
  if (n > UINT32_MAX) {
    std::stable_sort(symbols.begin(), symbols.end(), before);
    return;
  }
  // Where each symbol stood decides between symbols equal in address and line: the order
  // wanted is that of address, line and place, which no two symbols share.
  struct Placed {
    Symbol symbol;
    uint32_t place;
  };
  auto placedBefore = [&before](const Symbol& a, uint32_t aPlace, const Symbol& b,
                                uint32_t bPlace) {
    return before(a, b) || (!before(b, a) && aPlace < bPlace);
  };
  // As sortNearlyInOrder does, with the places of the symbols kept beside them (those set
  // aside carry theirs). A symbol below the last one kept either sends that one aside (the end
  // of an input section, listed before the section's symbols) or, below the one before it
  // too, goes aside itself.
  std::vector<uint32_t> keptPlaces;
  keptPlaces.reserve(n);
  std::vector<Placed> aside;
  size_t kept = 0;
  for (size_t k = 0; k < n; ++k) {
    const Symbol symbol = symbols[k];
    auto place = static_cast<uint32_t>(k);
    if (kept == 0 || !before(symbol, symbols[kept - 1])) {
      symbols[kept++] = symbol;
      keptPlaces.push_back(place);
    } else if (kept >= 2 && !before(symbol, symbols[kept - 2])) {
      aside.push_back({symbols[kept - 1], keptPlaces.back()});
      symbols[kept - 1] = symbol;
      keptPlaces.back() = place;
    } else {
      aside.push_back({symbol, place});
    }
  }
  if (aside.empty()) {
    return;
  }
  auto asideBefore = [&placedBefore](const Placed& a, const Placed& b) {
    return placedBefore(a.symbol, a.place, b.symbol, b.place);
  };
  if (aside.size() <= n / 2) {
    sortNearlyInOrder(aside, asideBefore);
  } else {
    std::sort(aside.begin(), aside.end(), asideBefore);
  }
  // Merged from the back, where the list has room for those set aside.
  size_t out = n;
  size_t from = kept;
  for (size_t a = aside.size(); a-- > 0;) {
    const Placed& next = aside[a];
    while (from > 0 &&
           placedBefore(next.symbol, next.place, symbols[from - 1], keptPlaces[from - 1])) {
      symbols[--out] = symbols[--from];
    }
    symbols[--out] = next.symbol;
  }
}

}  // namespace vorlith
