// The map reader on any bytes as a whole file, with the default and with the modern settings.
// Bad numbers throw ConvException after the failing line is echoed; anything else that
// escapes, or any crash, is a fault.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "mapfile.h"
#include "zel/utils/text.h"

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t lineCount = zel::utils::text::splitAsciiLines(text).size();
  for (bool modern : {false, true}) {
    vorlith::Settings settings;
    settings.modern = modern;
    std::ostringstream echo;
    try {
      vorlith::MapFile map(vorlith::MapFile::FromText{}, text, echo, settings);
      check(echo.str().empty(), "a map that parsed echoed a line");
      for (size_t i = 0; i < map.symbols.size(); ++i) {
        const vorlith::Symbol& symbol = map.symbols[i];
        check(fuzzcheck::referenceValidUTF8(symbol.name), "symbol name is not UTF-8", symbol.name);
        check(symbol.index < lineCount, "symbol from a line past the end");
        if (i > 0) {
          const vorlith::Symbol& before = map.symbols[i - 1];
          check(before.address < symbol.address ||
                    (before.address == symbol.address && before.index <= symbol.index),
                "symbols not sorted by address, then line");
        }
      }
    } catch (const zel::utils::text::ConvException&) {
      std::string echoed = echo.str();
      check(!echoed.empty() && echoed.back() == '\n', "a failing line was not echoed");
      check(fuzzcheck::referenceValidUTF8(echoed), "the echoed line is not UTF-8", echoed);
    }
  }
  return 0;
}
