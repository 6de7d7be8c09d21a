// Allocations through operator new, counted per thread: this test program replaces every form
// of operator new and delete (tests/support/allocations_counted.cpp).
#pragma once

#include <cstddef>

// How many allocations this thread has made through operator new so far.
[[nodiscard]] size_t allocationsOnThisThread();

// The bytes that all threads hold through operator new now (as the allocator sized the blocks),
// and the most they held at once since the last call of resetPeakHeldBytes.
[[nodiscard]] size_t heldBytes();
[[nodiscard]] size_t peakHeldBytes();
void resetPeakHeldBytes();
