#include "zel/utils/chunked_appender.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace zel::utils::appender {

ChunkedAppender::ChunkedAppender(Drain drain, size_t chunkSize) : drain_(std::move(drain)) {
  if (chunkSize == 0) {
    throw std::invalid_argument("a chunk of 0 bytes cannot hold any text");
  }
  // Not value-initialised: only the pages the text reaches are ever touched.
  buffer_ = std::make_unique_for_overwrite<char[]>(chunkSize);
  start_ = buffer_.get();
  cursor_ = start_;
  end_ = start_ + chunkSize;
}

void ChunkedAppender::flush() {
  if (cursor_ != start_) {
    // Emptied only once handed on: a drain that throws leaves the text held.
    drain_(std::string_view(start_, held()));
    cursor_ = start_;
  }
}

void ChunkedAppender::putSplit(std::string_view text) {
  while (!text.empty()) {
    if (cursor_ == end_) {
      flush();
    }
    size_t part = std::min(text.size(), static_cast<size_t>(end_ - cursor_));
    std::memcpy(cursor_, text.data(), part);
    cursor_ += part;
    text.remove_prefix(part);
  }
}

}  // namespace zel::utils::appender
