// Counts what each thread allocates through operator new. Every form that frees with free() is
// replaced, so that the sanitizers, which watch malloc and free, see pairs that match.
#include "allocations_counted.h"

#include <cstdlib>
#include <new>

namespace {
thread_local size_t allocations = 0;
void* countedAllocation(size_t size) noexcept {
  ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

size_t allocationsOnThisThread() {
  return allocations;
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
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
