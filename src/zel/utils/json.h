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
#include "zel/utils/text.h"
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

// Whether a byte is escaped, known at compile time: the same bytes as escapes() marks (a test
// checks every one), and those text::findJsonEscape stops at.
[[nodiscard]] constexpr bool escapedInString(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\' || c == 0x7F || c == '<' || c == '>' || c == '&';
}

// An object key written as it stands, with no scan for escapes: made only from a literal whose
// bytes need none, which is checked as the program is compiled.
class PlainKey {
 public:
  template <size_t N>
  consteval PlainKey(const char (&key)[N]) : text_(key, N - 1) {  // NOLINT: implicit on purpose
    for (char c : text_) {
      if (escapedInString(static_cast<unsigned char>(c))) {
        throw "a plain key holds a byte that is escaped";  // not a constant: fails to compile
      }
    }
  }

  [[nodiscard]] constexpr std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

template <typename Sink>
struct CustomJsonWriter {
  Sink output;

  void putString(std::string_view s) {
    const char* p = s.data();
    const char* end = p + s.size();
    const char* at = text::findJsonEscape(p, end);
    if (at == end) {
      output.put('"', s, '"');
      return;
    }
    const Escapes& table = escapes();
    // Each plain run travels with the escape that ends it: one append for both.
    auto c = static_cast<unsigned char>(*at);
    output.put('"', std::string_view(p, static_cast<size_t>(at - p)), table.chars(c));
    for (p = at + 1; (at = text::findJsonEscape(p, end)) != end; p = at + 1) {
      c = static_cast<unsigned char>(*at);
      output.put(std::string_view(p, static_cast<size_t>(at - p)), table.chars(c));
    }
    output.put(std::string_view(p, static_cast<size_t>(end - p)), '"');
  }

  // A key and the ':' after it.
  void putKey(PlainKey key) { output.put('"', key.text(), '"', ':'); }

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

  // The same with a key that needs no escape.
  template <typename T>
  void putMember(bool& first, PlainKey key, const T& value) {
    if (first) {
      first = false;
      putKey(key);
    } else {
      output.put(',', '"', key.text(), '"', ':');
    }
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
