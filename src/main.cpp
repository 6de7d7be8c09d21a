// vorlith input.map output.json: the size treemap document of a linker map.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

#include "vorlith.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string_view> args(argv, argv + argc);
    return vorlith::run(args, std::cout, std::cerr);
  } catch (const std::exception& failure) {
    // Last resort, for failures outside the run's own reporting (running out of memory).
    std::fprintf(stderr, "vorlith: %s\n", failure.what());
    return 1;
  }
}
