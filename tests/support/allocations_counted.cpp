// Counts what each thread allocates through operator new, and the bytes all threads hold. Every
// form that frees with free() is replaced, so that the sanitizers, which watch malloc and free,
// see pairs that match.
#include "allocations_counted.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local size_t allocations = 0;
std::atomic<size_t> held{0};
std::atomic<size_t> peak{0};

void* countedAllocation(size_t size) noexcept {
  ++allocations;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) {
    size_t now = held.fetch_add(::malloc_usable_size(p)) + ::malloc_usable_size(p);
    for (size_t most = peak.load(); now > most && !peak.compare_exchange_weak(most, now);) {
    }
  }
  return p;
}

void countedFree(void* p) noexcept {
  if (p != nullptr) {
    held.fetch_sub(::malloc_usable_size(p));
  }
  std::free(p);
}
}  // namespace

size_t allocationsOnThisThread() {
  return allocations;
}

size_t heldBytes() {
  return held.load();
}

size_t peakHeldBytes() {
  return peak.load();
}

void resetPeakHeldBytes() {
  peak.store(held.load());
}

void* operator new(size_t size) {
  if (void* p = countedAllocation(size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  if (void* p = countedAllocation(size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return countedAllocation(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return countedAllocation(size);
}
void operator delete(void* p) noexcept {
  countedFree(p);
}
void operator delete[](void* p) noexcept {
  countedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  countedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  countedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  countedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  countedFree(p);
}
