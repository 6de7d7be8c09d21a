// Compact JSON output: CustomJsonWriter writes values into a FastAppender with no white space.
//
// Records and maps are written by `writeJson(writer, value)` overloads that live beside their
// types and are found by argument-dependent lookup, so this library knows no caller's types.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "zel/utils/appender.h"
#include "zel/utils/textout.h"

namespace zel::utils::json {

// For every byte: whether it is escaped inside a string, and the text written for it.
struct Escapes {
  std::array<bool, 256> escaped{};
  std::array<std::array<char, 6>, 256> storage{};
  std::array<unsigned char, 256> lengths{};

  [[nodiscard]] std::string_view chars(unsigned char c) const {
    return std::string_view(storage[c].data(), lengths[c]);
  }
};

// Built once, at compile time; read-only afterwards.
[[nodiscard]] const Escapes& escapes();

template <typename Sink>
struct CustomJsonWriter {
  Sink output;

  void putString(std::string_view s) {
    const Escapes& table = escapes();
    output.put('"');
    const char* start = s.data();
    const char* end = start + s.size();
    for (const char* p = start; p != end;) {
      auto c = static_cast<unsigned char>(*p++);
      if (table.escaped[c]) {
        // The plain run travels with the escape that ends it: one append for both.
        output.put(std::string_view(start, static_cast<size_t>(p - 1 - start)), table.chars(c));
        start = p;
      }
    }
    output.put(std::string_view(start, static_cast<size_t>(end - start)), '"');
  }

  void put(std::string_view s) { putString(s); }
  void put(uint64_t n) { textout::put(output, n); }

  // Records and maps: delegated to the writeJson overload of the value's type.
  template <typename T>
  void put(const T& value) {
    writeJson(*this, value);
  }

  // Writes one object member: the separator when needed, the key, ':' and the value.
  template <typename T>
  void putMember(bool& first, std::string_view key, const T& value) {
    if (!first) {
      output.put(',');
    }
    first = false;
    putString(key);
    output.put(':');
    put(value);
  }

  void beginObject() { output.put('{'); }
  void endObject() { output.put('}'); }
};

// Serialises `root` into a fresh buffer and returns the buffer, which owns the text.
template <typename T>
[[nodiscard]] appender::FastAppender toJson(const T& root) {
  CustomJsonWriter<appender::FastAppender> writer;
  writer.put(root);
  return std::move(writer.output);
}

}  // namespace zel::utils::json
