// Counts thrown exceptions by standing in for the C++ runtime's __cxa_allocate_exception, which
// every throw calls first, and handing each call on to the runtime's own. A definition in the
// program comes before the shared runtime's, for the standard library's own throws too.
#include "exceptions_thrown.h"

#include <atomic>

#if defined(__linux__) && defined(__GLIBCXX__) && __has_include(<dlfcn.h>)
#include <dlfcn.h>

namespace {
std::atomic<size_t> thrown{0};
}  // namespace

extern "C" void* __cxa_allocate_exception(size_t size) noexcept {
  using Allocate = void* (*)(size_t) noexcept;
  static const auto runtime =
      reinterpret_cast<Allocate>(::dlsym(RTLD_NEXT, "__cxa_allocate_exception"));
  thrown.fetch_add(1, std::memory_order_relaxed);
  return runtime(size);
}

size_t exceptionsThrown() {
  return thrown.load(std::memory_order_relaxed);
}
bool countingExceptions() {
  return true;
}
#else
size_t exceptionsThrown() {
  return 0;
}
bool countingExceptions() {
  return false;
}
#endif
