#include "zel/utils/textout.h"

#include <array>

#include "zel/utils/text.h"

namespace zel::utils::textout {

void put(appender::FastAppender& sink, uint64_t n) {
  std::array<char, 20> buf;  // 20 digits: the length of 2^64 - 1
  sink.put(text::toDec(n, buf));
}

}  // namespace zel::utils::textout
