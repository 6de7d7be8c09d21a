// The ELF reader on any bytes as a whole file. It either refuses them with a message that names
// the file, or gives an image whose every range lies inside the file and whose every symbol's
// section exists; reading the same bytes twice gives the same image.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "elf_file.h"
#include "fuzz_check.h"

using fuzzcheck::check;

namespace {

bool inside(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

void checkImage(const vorlith::elf::Image& image, std::string_view bytes) {
  check(image.fileSize == bytes.size(), "file size is not the input's size");
  check(image.is64 == (bytes[4] == 2), "class differs from the identification");
  check(image.bigEndian == (bytes[5] == 2), "byte order differs from the identification");
  for (const auto& range : {image.elfHeader, image.programHeaders, image.sectionHeaders}) {
    check(inside(range.offset, range.size, image.fileSize), "a header table lies outside");
  }
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const auto& section = image.sections[i];
    check(section.index == i, "a section's index is not its position");
    check(section.name.find('\0') == std::string_view::npos, "a section name holds a NUL");
    if (section.hasFileBytes()) {
      check(inside(section.offset, section.size, image.fileSize), "a section lies outside");
    }
  }
  check(image.hasSymbolTable || image.symbols.empty(), "symbols without a symbol table");
  for (const auto& symbol : image.symbols) {
    check(symbol.name.find('\0') == std::string_view::npos, "a symbol name holds a NUL");
    if (symbol.inSection()) {
      check(symbol.sectionIndex > 0 && symbol.sectionIndex < image.sections.size(),
            "a symbol's section does not exist");
    }
  }
}

bool sameImage(const vorlith::elf::Image& a, const vorlith::elf::Image& b) {
  if (a.sections.size() != b.sections.size() || a.symbols.size() != b.symbols.size()) {
    return false;
  }
  for (size_t i = 0; i < a.sections.size(); ++i) {
    if (a.sections[i].name != b.sections[i].name || a.sections[i].size != b.sections[i].size) {
      return false;
    }
  }
  for (size_t i = 0; i < a.symbols.size(); ++i) {
    if (a.symbols[i].name != b.symbols[i].name || a.symbols[i].value != b.symbols[i].value) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    vorlith::elf::Image image = vorlith::elf::readElf(bytes, "fuzz");
    checkImage(image, bytes);
    vorlith::elf::Image again = vorlith::elf::readElf(bytes, "fuzz");
    check(sameImage(image, again), "two readings of the same bytes differ");
  } catch (const std::runtime_error& e) {
    check(std::string_view(e.what()).substr(0, 6) == "fuzz: ", "a refusal does not name the file",
          e.what());
  }
  return 0;
}
