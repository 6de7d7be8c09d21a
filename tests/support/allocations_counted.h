// Allocations through operator new, counted per thread: this test program replaces every form
// of operator new and delete (tests/support/allocations_counted.cpp).
#pragma once

#include <cstddef>

// How many allocations this thread has made through operator new so far.
[[nodiscard]] size_t allocationsOnThisThread();
