// Prints the number of symbols the map reader finds in a map file: the "symbols" column of
// bench/run.sh, counted by the same code that vorlith runs.
#include <cstdio>
#include <exception>
#include <sstream>

#include "mapfile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s input.map\n", argv[0]);
    return 2;
  }
  try {
    std::ostringstream echo;
    vorlith::MapFile map(argv[1], echo);
    std::printf("%zu\n", map.symbols.size());
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
}
