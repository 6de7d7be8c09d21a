// Reads one symbol name per line and prints how the current-ABI D rules file it:
//   <name> TAB <shown> TAB <segment> US <segment> ...     (US is the byte 0x1F)
// or <name> TAB (a lone tab) when the rules do not take it. Used by measure-dnames.py.
#include <iostream>
#include <string>

#include "demangle_current.h"

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) {
    std::cout << line << '\t';
    if (auto symbol = vorlith::classifyCurrentD(line)) {
      std::cout << symbol->shown << '\t';
      for (size_t k = 0; k < symbol->segments.size(); ++k) {
        std::cout << (k > 0 ? "\x1f" : "") << symbol->segments[k];
      }
    }
    std::cout << '\n';
  }
  return 0;
}
