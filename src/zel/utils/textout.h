// Number output into an appender (FastAppender, ChunkedAppender).
#pragma once

#include <array>
#include <cstdint>

#include "zel/utils/text.h"

namespace zel::utils::textout {

// Appends the decimal digits of `n` to `sink`, without allocating.
template <typename Sink>
void put(Sink& sink, uint64_t n) {
  std::array<char, 20> buf;  // 20 digits: the length of 2^64 - 1
  sink.put(text::toDec(n, buf));
}

}  // namespace zel::utils::textout
