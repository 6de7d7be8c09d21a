// Symbols of a map as plain values, so that tests compare whole lists and print them readably.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "mapfile.h"

struct Sym {
  uint64_t address;
  std::string name;
  size_t index;
  bool operator==(const Sym&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sym& s) {
  return os << "{0x" << std::hex << s.address << std::dec << ", \"" << s.name << "\", " << s.index
            << "}";
}

// The symbols that `map` read, copied out of its storage.
inline std::vector<Sym> symbolsOf(const vorlith::MapFile& map) {
  std::vector<Sym> out;
  for (const vorlith::Symbol& s : map.symbols) {
    out.push_back({s.address, std::string(s.name), s.index});
  }
  return out;
}
