// ChunkedAppender: a sink for the JSON writer that hands its text on in chunks of a fixed size
// as it is written, so a document of any size passes through one small buffer.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

namespace zel::utils::appender {

// 1 MiB: few enough writes that their cost vanishes, small enough to stay out of the peak.
inline constexpr size_t kDefaultChunkSize = size_t{1} << 20;

class ChunkedAppender {
 public:
  // Receives the text in order: every full chunk, then on flush() what is left. It may throw;
  // the exception leaves put() or flush() and the text it was given counts as not handed on.
  using Drain = std::function<void(std::string_view)>;

  // Throws std::invalid_argument for a chunk size of 0.
  explicit ChunkedAppender(Drain drain, size_t chunkSize = kDefaultChunkSize);
  // Not copied or moved: the drain often refers to the place that holds the appender.
  ChunkedAppender(const ChunkedAppender&) = delete;
  ChunkedAppender& operator=(const ChunkedAppender&) = delete;
  // Drops what is held without handing it on: a run that fails must not write more.
  ~ChunkedAppender() = default;

  // Appends the items (characters or text runs) in order, with one room check per call when
  // they fit. Items that do not are split at the chunk's edge, whatever they are.
  template <typename... Items>
  void put(const Items&... items) {
    size_t len = (itemLength(items) + ... + 0);
    if (len <= static_cast<size_t>(end_ - cursor_)) {
      char* at = cursor_;
      cursor_ += len;
      (copyItem(at, items), ...);
      return;
    }
    (putSplit(itemText(items)), ...);
  }

  // Hands on what is held, if anything. The appender can be used again afterwards.
  void flush();

  // The most bytes it ever holds: its one buffer, allocated once.
  [[nodiscard]] size_t chunkSize() const { return static_cast<size_t>(end_ - start_); }
  // Bytes appended and not yet handed on.
  [[nodiscard]] size_t held() const { return static_cast<size_t>(cursor_ - start_); }

 private:
  static size_t itemLength(char) { return 1; }
  static size_t itemLength(std::string_view s) { return s.size(); }
  static std::string_view itemText(const char& c) { return {&c, 1}; }
  static std::string_view itemText(std::string_view s) { return s; }
  static void copyItem(char*& at, char c) { *at++ = c; }
  static void copyItem(char*& at, std::string_view s) {
    if (!s.empty()) {
      std::memcpy(at, s.data(), s.size());
      at += s.size();
    }
  }

  // Out of line: taken about once per chunk, it keeps put() small enough to inline.
  void putSplit(std::string_view text);

  Drain drain_;
  std::unique_ptr<char[]> buffer_;
  char* start_ = nullptr;   // first byte of the buffer
  char* cursor_ = nullptr;  // one past the last byte held
  char* end_ = nullptr;     // one past the buffer
};

}  // namespace zel::utils::appender
