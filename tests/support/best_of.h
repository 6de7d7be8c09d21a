// Timing for the hostile-input tests, which compare a hostile input with a benign one of the
// same size rather than with a fixed time.
#pragma once

#include <algorithm>
#include <chrono>

// The best of `runs` timings of `fn`, in seconds: the least disturbed by other work.
template <typename Fn>
double bestOf(int runs, Fn&& fn) {
  double best = 1e300;
  for (int k = 0; k < runs; ++k) {
    auto start = std::chrono::steady_clock::now();
    fn();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}
