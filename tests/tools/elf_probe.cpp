// Prints what the ELF reader makes of one file, one fact a line, for check-elf-reader.py to
// compare with readelf, and for the hostile tests to measure a reading in a process of its own:
//   file <is64> <bigEndian> <machine> <fileType> <fileSize> <hasSymbolTable> <hasDynamicSymbols>
//   range <what> <offset> <size>
//   section <index> <type> <flags> <address> <offset> <size> <alignment> <link> <info> <name>
//   symbol <value> <size> <type> <binding> <visibility> <sectionIndex> <name>
// Numbers are decimal. On failure prints the message on standard error and exits with 1.
// `elf_probe --peak FILE` prints instead "peak <bytes> read|refused": the most memory the
// process held, from /proc (the high-water mark of this program alone, unlike getrusage's,
// which keeps the parent's across exec).
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include "elf_file.h"

namespace {

void print(std::string_view name) {
  std::fwrite(name.data(), 1, name.size(), stdout);
  std::fputc('\n', stdout);
}

// VmHWM of /proc/self/status, in bytes; 0 where there is none.
long long peakMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stoll(line.substr(6)) * 1024;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) {
    const char* outcome = "read";
    try {
      (void)vorlith::elf::readElf(std::string(argv[2]));
    } catch (const std::exception&) {
      outcome = "refused";  // what it cost to refuse is the figure
    }
    std::printf("peak %lld %s\n", peakMemory(), outcome);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [--peak] FILE\n", argv[0]);
    return 2;
  }
  try {
    vorlith::elf::Image image = vorlith::elf::readElf(std::string(argv[1]));
    std::printf("file %d %d %u %u %llu %d %d\n", image.is64, image.bigEndian, image.machine,
                image.fileType, static_cast<unsigned long long>(image.fileSize),
                image.hasSymbolTable, image.hasDynamicSymbols);
    auto range = [](const char* what, vorlith::elf::FileRange r) {
      std::printf("range %s %llu %llu\n", what, static_cast<unsigned long long>(r.offset),
                  static_cast<unsigned long long>(r.size));
    };
    range("header", image.elfHeader);
    range("program", image.programHeaders);
    range("sections", image.sectionHeaders);
    for (const auto& s : image.sections) {
      std::printf(
          "section %u %u %llu %llu %llu %llu %llu %u %u ", s.index, s.type,
          static_cast<unsigned long long>(s.flags), static_cast<unsigned long long>(s.address),
          static_cast<unsigned long long>(s.offset), static_cast<unsigned long long>(s.size),
          static_cast<unsigned long long>(s.alignment), s.link, s.info);
      print(s.name);
    }
    for (const auto& s : image.symbols) {
      std::printf("symbol %llu %llu %u %u %u %u ", static_cast<unsigned long long>(s.value),
                  static_cast<unsigned long long>(s.size), s.type, s.binding, s.visibility,
                  s.sectionIndex);
      print(s.name);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
