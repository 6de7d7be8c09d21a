// The C++ exceptions this test program has thrown, counted where each is allocated.
#pragma once

#include <cstddef>

// How many exceptions the process has thrown so far, whatever threw them (our code, the
// standard library, GoogleTest). False from `countingExceptions()` where the count cannot be taken.
[[nodiscard]] size_t exceptionsThrown();
[[nodiscard]] bool countingExceptions();
