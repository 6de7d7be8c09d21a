// Prints the number of symbols the map reader finds in a map file: the "symbols" column of
// bench/run.sh, counted by the same code that vorlith runs, under the modern rules with
// --modern.
//   count_symbols [--modern] input.map
#include <cstdio>
#include <exception>
#include <sstream>
#include <string_view>

#include "mapfile.h"

int main(int argc, char** argv) {
  bool modern = argc == 3 && std::string_view(argv[1]) == "--modern";
  if (argc != 2 && !modern) {
    std::fprintf(stderr, "usage: %s [--modern] input.map\n", argv[0]);
    return 2;
  }
  try {
    std::ostringstream echo;
    vorlith::Settings settings;
    settings.modern = modern;
    vorlith::MapFile map(argv[argc - 1], echo, settings);
    std::printf("%zu\n", map.symbols.size());
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
}
