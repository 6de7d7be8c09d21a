// Current-ABI D names built by hand for the hostile tests: back references, and functions whose
// parameter lists double with every reference.
#pragma once

#include <cstddef>
#include <string>

// A back reference from `from` to `to` (positions after "_D"), as the mangling writes it.
inline std::string backReference(size_t from, size_t to) {
  size_t distance = from - to;
  std::string digits(1, static_cast<char>('a' + distance % 26));
  for (distance /= 26; distance > 0; distance /= 26) {
    digits.insert(digits.begin(), static_cast<char>('A' + distance % 26));
  }
  return "Q" + digits;
}

// A function `name` of module app whose parameters are tuples of two references to the previous
// parameter: the text doubles with each one, 2^levels in all, from about 7 bytes a level.
inline std::string doublingName(size_t levels, const std::string& name = "f") {
  std::string body = "3app" + std::to_string(name.size()) + name + "Fi";
  size_t previous = body.size() - 1;  // the 'i'
  for (size_t k = 0; k < levels; ++k) {
    size_t start = body.size();
    body += "B";
    body += backReference(body.size(), previous);
    body += backReference(body.size(), previous);
    body += "Z";
    previous = start;
  }
  return "_D" + body + "Zv";
}
