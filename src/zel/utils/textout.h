// Number output into a FastAppender.
#pragma once

#include <cstdint>

#include "zel/utils/appender.h"

namespace zel::utils::textout {

// Appends the decimal digits of `n` to `sink`, without allocating.
void put(appender::FastAppender& sink, uint64_t n);

}  // namespace zel::utils::textout
