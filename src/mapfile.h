// Reading a linker map file into a list of symbols sorted by address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "arena.h"
#include "map_line.h"
#include "map_sections.h"
#include "options.h"

namespace vorlith {

// The map forms this reader knows, in one line, for the user whose map gave no symbols.
inline constexpr std::string_view kMapFormsRead =
    "Maps read: the \"Publics by Value\" table (link.exe, lld-link, OPTLINK), the GNU ld memory "
    "map (ld -Map, gold), the ld64 symbol table with sizes (ld64, ld64.lld of LLVM 15 and later); "
    "with --modern also ld.lld and mold maps";

class ReadBuffer;

// Sorts `symbols` by address, then by line index, as std::stable_sort would: symbols equal in
// both keep the order they have. Made for the lists a map gives, in line order, where the few
// out of order (the end of an input section, listed before its symbols) are set aside, sorted
// alone and merged back.
void sortSymbols(std::vector<Symbol>& symbols);

class MapFile {
 public:
  struct FromText {};

  // Reads and parses the file. Throws std::runtime_error "name: error text" when it cannot be
  // read or shrinks while it is read, and rethrows the failure of a line that cannot be parsed
  // after writing that line and a line feed to `echo`. Default settings read the three classic
  // forms only; `modern` adds the ELF maps of ld.lld and mold and reads GNU ld maps as today's
  // versions write them.
  explicit MapFile(const std::string& fileName);
  MapFile(const std::string& fileName, std::ostream& echo, const Settings& settings = {});
  // The same; when a line fails, `failedLine` receives its number, counted from 1, for the
  // message that names the file and the line.
  MapFile(const std::string& fileName, std::ostream& echo, const Settings& settings,
          size_t* failedLine);

  // Parses map text that is already in memory (the seam for tests, and inputs read whole
  // elsewhere).
  MapFile(FromText, std::string text, std::ostream& echo, const Settings& settings = {},
          size_t* failedLine = nullptr);

  // Names are views into this object's storage, so it never moves.
  MapFile(const MapFile&) = delete;
  MapFile& operator=(const MapFile&) = delete;
  ~MapFile();

  // Sorted by address, then by line index.
  std::vector<Symbol> symbols;

  // Whether the file had no bytes at all.
  [[nodiscard]] bool empty() const { return empty_; }

  // The output and input sections of an ELF map read under the modern rules (GNU ld, gold,
  // ld.lld, mold); empty for other maps and under the classic rules. Kept by keepOnlyNames.
  [[nodiscard]] const MapSections& sections() const { return sections_; }

  // Copies the names of `symbols`, as they are now, into one block of their own and lets go of
  // the names made while reading (the text itself goes while it is read): once the symbols that
  // file nothing are gone, the names left are a fraction of those. Names stay equal byte for
  // byte; views of the old storage dangle afterwards.
  void keepOnlyNames();

  // Lets go of the input sections of sections() (MapSections::releaseInputs), once every
  // entry's object is known.
  void releaseInputSections() { sections_.releaseInputs(); }

 private:
  // Reads the whole file into read_ or owned_ and points text_ at it.
  void readText(const std::string& fileName);
  void parse(std::ostream& echo, const Settings& settings);

  size_t* failedLine_ = nullptr;  // where the caller wants the number of a line that fails
  std::unique_ptr<ReadBuffer> read_;  // the text of a regular file, read at the size it had
  std::string owned_;                 // the text otherwise (pipes, devices, tests)
  std::string_view text_;             // the whole file while it is read
  TextArena made_;                // text the file lacks: repaired lines, joined names, end markers
  std::unique_ptr<char[]> kept_;  // the names alone, once keepOnlyNames has run
  MapSections sections_;
  bool empty_ = true;
};

}  // namespace vorlith
