#include "zel/utils/appender.h"

#include <malloc.h>

#include <cstdlib>
#include <new>
#include <utility>

namespace zel::utils::appender {

FastAppender::FastAppender(FastAppender&& other) noexcept
    : cursor(std::exchange(other.cursor, nullptr)),
      start(std::exchange(other.start, nullptr)),
      end(std::exchange(other.end, nullptr)) {}

FastAppender& FastAppender::operator=(FastAppender&& other) noexcept {
  if (this != &other) {
    std::free(start);
    cursor = std::exchange(other.cursor, nullptr);
    start = std::exchange(other.start, nullptr);
    end = std::exchange(other.end, nullptr);
  }
  return *this;
}

FastAppender::~FastAppender() {
  std::free(start);
}

void FastAppender::reserve(size_t len) {
  size_t size = static_cast<size_t>(cursor - start);
  size_t newSize = size + len;
  if (newSize <= capacity()) {
    return;
  }
  // Small documents get one block of 2049 bytes; larger ones double what they need, so the
  // number of moves stays logarithmic. realloc extends in place where the allocator can, which
  // is the only in-place growth the C library offers.
  size_t newCapacity = newSize < 2049 ? 2049 : 2 * newSize;
  void* block = std::realloc(start, newCapacity);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  start = static_cast<char*>(block);
  // Use whatever the allocator granted beyond the request.
  newCapacity = malloc_usable_size(block);
  cursor = start + size;
  end = start + newCapacity;
}

}  // namespace zel::utils::appender
