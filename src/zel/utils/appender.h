// FastAppender: the growable byte buffer that the output document is built in.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace zel::utils::appender {

class FastAppender {
 public:
  FastAppender() = default;
  FastAppender(const FastAppender&) = delete;
  FastAppender& operator=(const FastAppender&) = delete;
  FastAppender(FastAppender&& other) noexcept;
  FastAppender& operator=(FastAppender&& other) noexcept;
  ~FastAppender();

  // Appends the items (characters or text runs) in order, with one capacity check per call.
  template <typename... Items>
  void put(const Items&... items) {
    size_t len = (itemLength(items) + ... + 0);
    // Compare lengths, not pointers: null + 0 is the only arithmetic allowed on null.
    if (len > static_cast<size_t>(end - cursor)) {
      reserve(len);
    }
    char* at = cursor;
    if (len != 0) {
      cursor += len;
    }
    (copyItem(at, items), ...);
  }

  // Makes room for at least `len` more bytes; may move the content.
  void reserve(size_t len);

  // The content, without a copy. Valid until the next append.
  [[nodiscard]] std::string_view get() const {
    return start ? std::string_view(start, static_cast<size_t>(cursor - start))
                 : std::string_view();
  }

  [[nodiscard]] size_t capacity() const { return static_cast<size_t>(end - start); }

 private:
  static size_t itemLength(char) { return 1; }
  static size_t itemLength(std::string_view s) { return s.size(); }
  static void copyItem(char*& at, char c) { *at++ = c; }
  static void copyItem(char*& at, std::string_view s) {
    if (!s.empty()) {
      std::memcpy(at, s.data(), s.size());
      at += s.size();
    }
  }

  char* cursor = nullptr;  // one past the last byte written
  char* start = nullptr;   // first byte of the block
  char* end = nullptr;     // one past the last byte of the block
};

}  // namespace zel::utils::appender
