// Reading an ELF file: where its headers lie, its sections and the defined symbols of its symbol
// table. A linked program looks like this (`readelf -SW`, shortened):
//
//   [Nr] Name      Type      Address          Off    Size   ES Flg Lk Inf Al
//   [ 0]           NULL      0000000000000000 000000 000000 00      0   0  0
//   [14] .text     PROGBITS  0000000000001040 001040 000113 00  AX  0   0 16
//   [24] .bss      NOBITS    0000000000004010 003010 000008 00  WA  0   0  1
//   [27] .symtab   SYMTAB    0000000000000000 003040 000360 18     28  18  8
//   [28] .strtab   STRTAB    0000000000000000 0033a0 0001d8 00      0   0  1
//
// Only what the image needs is read: the header, the section header table, the symbol table
// and the string tables. The header is read by hand first, so that the places of the two header
// tables are checked (and the extended counts of files with 65280 sections or more resolved)
// before libelf trusts them; libelf then converts section headers and symbols of either class
// and byte order. Every range libelf returns is checked again against the file's size, and
// names are found in copies of their string tables, which the image keeps.
#include "elf_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "elf_file_internal.h"
#include "file_io.h"

#if defined(VORLITH_WITH_LIBELF)
#include <gelf.h>
#endif

namespace vorlith::elf {

using std::string_view;

namespace {

// The values of the ELF format this file needs, so that it compiles where no <elf.h> is.
constexpr uint32_t kShtNull = 0;
constexpr uint32_t kShtSymtab = 2;
constexpr uint32_t kShtStrtab = 3;
constexpr uint32_t kShtNobits = 8;
constexpr uint32_t kShtDynsym = 11;
constexpr uint32_t kShtSymtabShndx = 18;
constexpr uint64_t kShfAlloc = 0x2;
constexpr uint32_t kShnUndef = 0;
constexpr uint32_t kShnLoreserve = 0xff00;
constexpr uint32_t kShnXindex = 0xffff;
constexpr uint32_t kPnXnum = 0xffff;

[[noreturn]] void fail(string_view name, const std::string& what) {
  throw std::runtime_error(std::string(name) + ": " + what);
}

std::string hex(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char text[18];
  char* end = text + sizeof text;
  char* at = end;
  do {
    *--at = kDigits[value & 15];
    value >>= 4;
  } while (value != 0);
  *--at = 'x';
  *--at = '0';
  return std::string(at, end);
}

// A number of `width` bytes at `at`, in the file's byte order.
uint64_t readNumber(string_view bytes, size_t at, size_t width, bool bigEndian) {
  uint64_t value = 0;
  for (size_t k = 0; k < width; ++k) {
    auto byte = static_cast<unsigned char>(bytes[at + (bigEndian ? k : width - 1 - k)]);
    value = (value << 8) | byte;
  }
  return value;
}

// Whether [offset, offset + size) lies inside a file of `fileSize` bytes; no sum can overflow.
bool insideFile(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

void requireInside(string_view name, uint64_t offset, uint64_t size, uint64_t fileSize,
                   const std::string& what) {
  if (!insideFile(offset, size, fileSize)) {
    fail(name, "truncated: " + what + " (offset " + hex(offset) + ", " + std::to_string(size) +
                   " bytes) lies past the end of the file (" + std::to_string(fileSize) +
                   " bytes)");
  }
}

}  // namespace

namespace detail {

bool namesInTable(string_view table, std::span<const uint32_t> offsets,
                  std::vector<string_view>& names, size_t* outside, uint64_t* scanned) {
  names.assign(offsets.size(), string_view());
  for (size_t i = 0; i < offsets.size(); ++i) {
    if (offsets[i] >= table.size() && !(offsets[i] == 0 && table.empty())) {
      *outside = i;
      return false;
    }
  }
  if (table.empty()) {
    return true;
  }
  // Name by name, the search costs the names' lengths, which is about the table's size in any
  // real file but quadratic when many offsets point into one long string. Past a budget of
  // twice the table plus 64 bytes a name, the rest are found in one sweep in offset order.
  uint64_t budget = 2 * static_cast<uint64_t>(table.size()) + 64 * uint64_t{offsets.size()};
  uint64_t spent = 0;
  size_t done = 0;
  for (; done < offsets.size(); ++done) {
    size_t at = offsets[done];
    size_t limit = static_cast<size_t>(std::min<uint64_t>(table.size() - at, budget - spent));
    const void* nul = std::memchr(table.data() + at, 0, limit);
    if (nul == nullptr) {
      spent += limit;
      break;
    }
    size_t length = static_cast<size_t>(static_cast<const char*>(nul) - (table.data() + at));
    spent += length + 1;
    names[done] = table.substr(at, length);
  }
  if (done < offsets.size()) {
    std::vector<std::pair<uint32_t, size_t>> order;
    order.reserve(offsets.size() - done);
    for (size_t i = done; i < offsets.size(); ++i) {
      order.emplace_back(offsets[i], i);
    }
    std::sort(order.begin(), order.end());
    // Every byte is searched at most once: a name that starts before the last NUL found ends
    // there, and the next search begins past it.
    size_t nul = 0;
    bool found = false;
    for (const auto& [offset, i] : order) {
      if (!found || offset > nul) {
        const void* at = std::memchr(table.data() + offset, 0, table.size() - offset);
        nul = static_cast<size_t>(static_cast<const char*>(at) - table.data());
        spent += nul - offset + 1;
        found = true;
      }
      names[i] = table.substr(offset, nul - offset);
    }
  }
  if (scanned != nullptr) {
    *scanned += spent;
  }
  return true;
}

HeaderTables readHeaderTables(uint64_t fileSize, const ReadAt& read, string_view name) {
  std::string bytes = read(0, static_cast<size_t>(std::min<uint64_t>(fileSize, 64)));
  if (!looksLikeElf(bytes)) {
    fail(name, "not an ELF file (it does not begin with \\x7fELF)");
  }
  if (bytes.size() < 16) {
    fail(name, "truncated: the ELF identification takes 16 bytes, the file has " +
                   std::to_string(bytes.size()));
  }
  auto elfClass = static_cast<unsigned char>(bytes[4]);
  auto byteOrder = static_cast<unsigned char>(bytes[5]);
  if (elfClass != 1 && elfClass != 2) {
    fail(name, "unknown ELF class " + std::to_string(elfClass) + " (1 is 32-bit, 2 is 64-bit)");
  }
  if (byteOrder != 1 && byteOrder != 2) {
    fail(name, "unknown ELF byte order " + std::to_string(byteOrder) +
                   " (1 is little-endian, 2 is big-endian)");
  }
  HeaderTables tables;
  tables.is64 = elfClass == 2;
  tables.bigEndian = byteOrder == 2;
  size_t headerSize = tables.is64 ? 64 : 52;
  size_t sectionEntry = tables.is64 ? 64 : 40;
  size_t programEntry = tables.is64 ? 56 : 32;
  if (bytes.size() < headerSize) {
    fail(name, "truncated: the ELF header takes " + std::to_string(headerSize) +
                   " bytes, the file has " + std::to_string(bytes.size()));
  }
  auto number = [&](size_t at, size_t width) {
    return readNumber(bytes, at, width, tables.bigEndian);
  };
  size_t word = tables.is64 ? 8 : 4;
  tables.fileType = static_cast<uint16_t>(number(16, 2));
  tables.machine = static_cast<uint16_t>(number(18, 2));
  tables.programOffset = number(tables.is64 ? 32 : 28, word);
  tables.sectionOffset = number(tables.is64 ? 40 : 32, word);
  size_t small = tables.is64 ? 52 : 40;  // e_ehsize, then five more half-words
  tables.headerSize = static_cast<uint16_t>(number(small, 2));
  uint64_t programEntrySize = number(small + 2, 2);
  uint64_t programCount = number(small + 4, 2);
  uint64_t sectionEntrySize = number(small + 6, 2);
  uint64_t sectionCount = number(small + 8, 2);
  uint64_t nameTable = number(small + 10, 2);
  if (tables.headerSize < headerSize) {
    fail(name, "the ELF header says it takes " + std::to_string(tables.headerSize) +
                   " bytes, less than the " + std::to_string(headerSize) + " of its class");
  }
  requireInside(name, 0, tables.headerSize, fileSize, "the ELF header");

  if (tables.sectionOffset == 0 && sectionCount != 0) {
    fail(name, "the header lists " + std::to_string(sectionCount) +
                   " sections but no section header table");
  }
  uint64_t firstLink = 0;
  uint64_t firstInfo = 0;
  if (tables.sectionOffset != 0) {
    if (sectionEntrySize != sectionEntry) {
      fail(name, "section header entries of " + std::to_string(sectionEntrySize) +
                     " bytes; this class has " + std::to_string(sectionEntry));
    }
    // Section 0 holds what the header's fields cannot: the count from 65280 sections on, the
    // index of the name table past 65279, the program header count past 65534.
    requireInside(name, tables.sectionOffset, sectionEntry, fileSize, "the first section header");
    std::string first = read(tables.sectionOffset, sectionEntry);
    auto field = [&](size_t at, size_t width) {
      return readNumber(first, at, width, tables.bigEndian);
    };
    uint64_t firstSize = field(tables.is64 ? 32 : 20, word);
    firstLink = field(tables.is64 ? 40 : 24, 4);
    firstInfo = field(tables.is64 ? 44 : 28, 4);
    if (sectionCount == 0) {
      sectionCount = firstSize;
    }
    uint64_t tableSize = 0;
    // Sections are numbered in 32 bits (sh_link); a larger count would need a file of 160 GB.
    if (sectionCount > UINT32_MAX ||
        __builtin_mul_overflow(sectionCount, sectionEntry, &tableSize)) {
      fail(name, "the section header table's size overflows: " + std::to_string(sectionCount) +
                     " sections");
    }
    requireInside(name, tables.sectionOffset, tableSize, fileSize,
                  "the section header table of " + std::to_string(sectionCount) + " sections");
    tables.sectionCount = sectionCount;
    tables.sectionEntrySize = sectionEntry;
    if (nameTable == kShnXindex) {
      nameTable = firstLink;
    }
    if (nameTable >= sectionCount && nameTable != kShnUndef) {
      fail(name, "the section name string table is section " + std::to_string(nameTable) +
                     ", past the last of " + std::to_string(sectionCount) + " sections");
    }
    tables.nameTableIndex = nameTable;
  }

  if (programCount == kPnXnum && tables.sectionCount > 0) {
    programCount = firstInfo;
  }
  if (programCount > 0) {
    if (programEntrySize != programEntry) {
      fail(name, "program header entries of " + std::to_string(programEntrySize) +
                     " bytes; this class has " + std::to_string(programEntry));
    }
    // At most 2^32 entries of 56 bytes: no overflow.
    requireInside(name, tables.programOffset, programCount * programEntry, fileSize,
                  "the program header table of " + std::to_string(programCount) + " entries");
    tables.programCount = programCount;
    tables.programEntrySize = programEntry;
  }
  return tables;
}

}  // namespace detail

bool looksLikeElf(string_view head) {
  return head.substr(0, 4) == string_view(
                                  "\x7f"
                                  "ELF",
                                  4);
}

bool Section::allocated() const {
  return (flags & kShfAlloc) != 0;
}

bool Section::hasFileBytes() const {
  return type != kShtNobits && type != kShtNull && size > 0;
}

bool Symbol::inSection() const {
  return extendedIndex || (sectionIndex != kShnUndef && sectionIndex < kShnLoreserve);
}

#if defined(VORLITH_WITH_LIBELF)

bool canReadElf() {
  return true;
}

namespace {

// A name from the file as a message shows it: printable ASCII, the rest as \xNN, at most 80.
std::string shown(string_view text) {
  std::string out;
  for (char c : text.substr(0, 80)) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      out += c;
    } else {
      out += "\\x";
      out += "0123456789abcdef"[byte >> 4];
      out += "0123456789abcdef"[byte & 15];
    }
  }
  if (text.size() > 80) {
    out += "...";
  }
  return out;
}

struct ElfEnd {
  void operator()(Elf* elf) const { elf_end(elf); }
};

// Where the file's bytes are: all in memory, or in an open file that is read in the pieces the
// reader needs (its headers, section header table, symbol table and string tables).
struct Input {
  uint64_t size = 0;
  char* memory = nullptr;  // the whole file, which libelf reads in place
  int fd = -1;
};

// One reading of one file.
class Reader {
 public:
  Reader(const Input& input, string_view name) : input_(input), name_(name) {}

  Image run() {
    tables_ = detail::readHeaderTables(
        input_.size, [this](uint64_t offset, size_t length) { return readAt(offset, length); },
        name_);
    image_.is64 = tables_.is64;
    image_.bigEndian = tables_.bigEndian;
    image_.machine = tables_.machine;
    image_.fileType = tables_.fileType;
    image_.fileSize = input_.size;
    image_.elfHeader = {0, tables_.headerSize};
    if (tables_.programCount > 0) {
      image_.programHeaders = {tables_.programOffset,
                               tables_.programCount * tables_.programEntrySize};
    }
    if (tables_.sectionCount > 0) {
      image_.sectionHeaders = {tables_.sectionOffset,
                               tables_.sectionCount * tables_.sectionEntrySize};
    }
    open();
    readSections();
    findTables();
    readNames();
    if (symbolTable_ != nullptr) {
      readSymbols();
    }
    image_.storage = std::move(names_);
    return std::move(image_);
  }

 private:
  [[noreturn]] void fail(const std::string& what) const { elf::fail(name_, what); }

  [[noreturn]] void failLibelf(const std::string& what) const {
    fail(what + ": " + elf_errmsg(-1));
  }

  // [offset, offset + length), which the caller checked lies inside the file.
  std::string readAt(uint64_t offset, size_t length) const {
    if (input_.memory != nullptr) {
      return std::string(input_.memory + offset, length);
    }
    std::string bytes(length, '\0');
    ReadResult read = readFully(input_.fd, bytes.data(), length, offset);
    if (read.error != 0) {
      failOnFile(name_, read.error);
    }
    if (read.got < length) {
      fail("the file shrank while it was read");
    }
    return bytes;
  }

  std::string describe(const Section& section) const {
    std::string text = "section " + std::to_string(section.index);
    if (!section.name.empty()) {
      text += " (" + shown(section.name) + ")";
    }
    return text;
  }

  static void startLibelf() {
    static const bool started = elf_version(EV_CURRENT) != EV_NONE;
    if (!started) {
      throw std::runtime_error("libelf does not take this program's ELF version");
    }
  }

  void open() {
    startLibelf();
    // In memory libelf reads the bytes in place; from a file (ELF_C_READ, not mapped) it reads
    // the section headers, and a section's contents when asked for them, with pread.
    if (input_.memory != nullptr) {
      elf_.reset(elf_memory(input_.memory, static_cast<size_t>(input_.size)));
    } else {
      elf_.reset(elf_begin(input_.fd, ELF_C_READ, nullptr));
    }
    if (!elf_ || elf_kind(elf_.get()) != ELF_K_ELF) {
      failLibelf("libelf cannot read it");
    }
    // The header's ranges are checked already; libelf's own reading of them must agree.
    size_t count = 0;
    if (elf_getshdrnum(elf_.get(), &count) != 0) {
      failLibelf("libelf cannot count its sections");
    }
    if (count != tables_.sectionCount) {
      fail("libelf counts " + std::to_string(count) + " sections, the header " +
           std::to_string(tables_.sectionCount));
    }
  }

  void readSections() {
    image_.sections.reserve(tables_.sectionCount);
    for (uint32_t i = 0; i < tables_.sectionCount; ++i) {
      GElf_Shdr header;
      Elf_Scn* scn = elf_getscn(elf_.get(), i);
      if (scn == nullptr || gelf_getshdr(scn, &header) == nullptr) {
        failLibelf("section header " + std::to_string(i));
      }
      Section section;
      section.index = i;
      section.type = header.sh_type;
      // The other fields of a SHT_NULL entry mean nothing; section 0's hold the extended counts.
      if (section.type != kShtNull) {
        section.flags = header.sh_flags;
        section.address = header.sh_addr;
        section.offset = header.sh_offset;
        section.size = header.sh_size;
        section.alignment = header.sh_addralign;
        section.link = header.sh_link;
        section.info = header.sh_info;
      }
      if (section.hasFileBytes() && !insideFile(section.offset, section.size, input_.size)) {
        fail("truncated: section " + std::to_string(i) + " (offset " + hex(section.offset) + ", " +
             std::to_string(section.size) + " bytes) lies past the end of the file (" +
             std::to_string(input_.size) + " bytes)");
      }
      image_.sections.push_back(section);
      nameOffsets_.push_back(header.sh_name);
    }
  }

  void findTables() {
    for (const Section& section : image_.sections) {
      if (section.type == kShtDynsym) {
        image_.hasDynamicSymbols = true;
      }
      if (section.type != kShtSymtab) {
        continue;
      }
      if (symbolTable_ != nullptr) {
        fail("two symbol tables: sections " + std::to_string(symbolTable_->index) + " and " +
             std::to_string(section.index));
      }
      symbolTable_ = &section;
    }
    if (symbolTable_ == nullptr) {
      return;
    }
    image_.hasSymbolTable = true;
    if (symbolTable_->link >= image_.sections.size()) {
      fail("the symbol table (section " + std::to_string(symbolTable_->index) +
           ") links to section " + std::to_string(symbolTable_->link) + ", past the last");
    }
    symbolNames_ = &image_.sections[symbolTable_->link];
    for (const Section& section : image_.sections) {
      if (section.type == kShtSymtabShndx && section.link == symbolTable_->index) {
        extendedIndexes_ = &section;
      }
    }
  }

  // The bytes of a string table, checked: a string table, inside the file (as every section
  // with bytes is), and empty or ending with a NUL, so that no name can run past it.
  std::string stringTable(const Section& section, const char* role) const {
    if (section.type != kShtStrtab) {
      fail(role + (", " + describe(section)) + ", is not a string table (type " +
           std::to_string(section.type) + ")");
    }
    if (section.size == 0) {
      return {};
    }
    std::string table = readAt(section.offset, static_cast<size_t>(section.size));
    if (table.back() != '\0') {
      fail(role + (", " + describe(section)) + ", does not end with a NUL byte");
    }
    return table;
  }

  // Copies the section name table and names the sections, then the symbols' string table
  // (unless it is the same section): the image keeps these copies, not the file.
  void readNames() {
    names_ = std::make_shared<NameTables>();
    if (tables_.nameTableIndex != kShnUndef) {
      names_->sections =
          stringTable(image_.sections[tables_.nameTableIndex], "the section name string table");
      nameSections(names_->sections);
    }
    nameOffsets_ = {};
    if (symbolNames_ == nullptr) {
      return;
    }
    if (symbolNames_->index == tables_.nameTableIndex) {
      symbolNameTable_ = names_->sections;
    } else {
      names_->symbols = stringTable(*symbolNames_, "the symbol table's string table");
      symbolNameTable_ = names_->symbols;
    }
  }

  void nameSections(string_view table) {
    std::vector<string_view> names;
    size_t outside = 0;
    if (!detail::namesInTable(table, nameOffsets_, names, &outside)) {
      fail("the name of section " + std::to_string(outside) + " (offset " +
           std::to_string(nameOffsets_[outside]) +
           ") lies outside the section name string table (" + std::to_string(table.size()) +
           " bytes)");
    }
    for (size_t i = 0; i < names.size(); ++i) {
      image_.sections[i].name = names[i];
    }
  }

  Elf_Data* dataOf(const Section& section, uint64_t expectedSize) const {
    Elf_Data* data = elf_getdata(elf_getscn(elf_.get(), section.index), nullptr);
    if (data == nullptr || data->d_buf == nullptr || data->d_size != expectedSize) {
      failLibelf("the contents of " + describe(section));
    }
    return data;
  }

  void readSymbols() {
    const Section& table = *symbolTable_;
    size_t entry = gelf_fsize(elf_.get(), ELF_T_SYM, 1, EV_CURRENT);
    std::string what = "the symbol table (" + describe(table) + ")";
    // An empty table may say nothing of its entries.
    if (table.size == 0) {
      return;
    }
    if (table.size % entry != 0) {
      fail(what + " is " + std::to_string(table.size) + " bytes, not a whole number of " +
           std::to_string(entry) + "-byte entries");
    }
    uint64_t count = table.size / entry;
    if (count > static_cast<uint64_t>(INT_MAX)) {  // libelf counts entries in an int
      fail(what + " has " + std::to_string(count) + " entries, more than libelf can read");
    }
    Elf_Data* data = dataOf(table, table.size);
    Elf_Data* indexes = nullptr;
    if (extendedIndexes_ != nullptr) {
      if (extendedIndexes_->size / 4 < count || !extendedIndexes_->hasFileBytes()) {
        fail("the extended section index table (" + describe(*extendedIndexes_) + ") has " +
             std::to_string(extendedIndexes_->size / 4) + " entries for " + std::to_string(count) +
             " symbols");
      }
      indexes = dataOf(*extendedIndexes_, extendedIndexes_->size);
    }
    std::vector<uint32_t> nameOffsets;
    nameOffsets.reserve(count);
    image_.symbols.reserve(count);
    for (uint64_t i = 1; i < count; ++i) {
      GElf_Sym raw;
      Elf32_Word extended = 0;
      auto at = static_cast<int>(i);
      GElf_Sym* got = indexes != nullptr ? gelf_getsymshndx(data, indexes, at, &raw, &extended)
                                         : gelf_getsym(data, at, &raw);
      if (got == nullptr) {
        failLibelf("symbol " + std::to_string(i));
      }
      if (raw.st_shndx == kShnUndef) {
        continue;
      }
      Symbol symbol;
      symbol.value = raw.st_value;
      symbol.size = raw.st_size;
      symbol.type = static_cast<uint8_t>(GELF_ST_TYPE(raw.st_info));
      symbol.binding = static_cast<uint8_t>(GELF_ST_BIND(raw.st_info));
      symbol.visibility = static_cast<uint8_t>(GELF_ST_VISIBILITY(raw.st_other));
      symbol.sectionIndex = raw.st_shndx;
      if (raw.st_shndx == kShnXindex) {
        if (indexes == nullptr) {
          fail("symbol " + std::to_string(i) +
               " has an extended section index, but the file has no table of them");
        }
        symbol.sectionIndex = extended;
        symbol.extendedIndex = true;
      }
      if (symbol.inSection() &&
          (symbol.sectionIndex == kShnUndef || symbol.sectionIndex >= image_.sections.size())) {
        fail("symbol " + std::to_string(i) + " is in section " +
             std::to_string(symbol.sectionIndex) + ", past the last of " +
             std::to_string(image_.sections.size()));
      }
      image_.symbols.push_back(symbol);
      nameOffsets.push_back(raw.st_name);
    }
    std::vector<string_view> names;
    size_t outside = 0;
    if (!detail::namesInTable(symbolNameTable_, nameOffsets, names, &outside)) {
      fail("a symbol's name (offset " + std::to_string(nameOffsets[outside]) +
           ") lies outside its string table (" + std::to_string(symbolNameTable_.size()) +
           " bytes)");
    }
    for (size_t i = 0; i < names.size(); ++i) {
      image_.symbols[i].name = names[i];
    }
  }

  // The copies of the string tables that the names point into, filled once each.
  struct NameTables {
    std::string sections;
    std::string symbols;
  };

  Input input_;
  string_view name_;
  detail::HeaderTables tables_;
  std::unique_ptr<Elf, ElfEnd> elf_;
  Image image_;
  std::vector<uint32_t> nameOffsets_;  // sh_name of each section, until the sections are named
  const Section* symbolTable_ = nullptr;
  const Section* symbolNames_ = nullptr;
  const Section* extendedIndexes_ = nullptr;
  std::shared_ptr<NameTables> names_;
  string_view symbolNameTable_;  // into names_
};

Image parse(const Input& input, string_view name) {
  try {
    return Reader(input, name).run();
  } catch (const std::bad_alloc&) {
    fail(name, "out of memory");
  }
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ino == b.st_ino;
}

}  // namespace

Image readElf(const std::string& path) {
  InputFile file(path);
  int fd = file.fd();
  struct stat before;
  if (::fstat(fd, &before) != 0) {
    failOnFile(path, errno);
  }
  if (!S_ISREG(before.st_mode)) {
    fail(path, "not a regular file");
  }
  // Only the parts the image needs are read: the code, data and debug information of a large
  // program are most of its bytes, and reading them would cost more than reading its map. A
  // file that changes meanwhile is refused, as one that cannot be read whole would be.
  Image image = parse({.size = static_cast<uint64_t>(before.st_size), .fd = fd}, path);
  struct stat after;
  if (::fstat(fd, &after) != 0 || !sameFile(before, after)) {
    fail(path, "the file changed while it was read");
  }
  return image;
}

Image readElf(string_view bytes, string_view name) {
  // libelf takes a writable image; it gets a copy of its own.
  std::string copy(bytes);
  return parse({.size = copy.size(), .memory = copy.data()}, name);
}

#else  // no libelf

bool canReadElf() {
  return false;
}

namespace {
const char* const kNoLibelf =
    "reading ELF files needs elfutils' libelf, which this vorlith was built without: install "
    "libelf-dev (Debian, Ubuntu) or elfutils-libelf-devel (Fedora) and build vorlith again";
}

Image readElf(const std::string& path) {
  fail(path, kNoLibelf);
}

Image readElf(string_view, string_view name) {
  fail(name, kNoLibelf);
}

#endif

}  // namespace vorlith::elf
