// Counts the C++ exceptions a program throws, for tests/tools/count-throws.sh: preloaded, it
// stands in for the runtime's __cxa_allocate_exception, which every throw calls first, and
// writes the count to standard error when the program ends.
#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace {

std::atomic<unsigned long> thrown{0};

struct Report {
  ~Report() { std::fprintf(stderr, "exceptions thrown: %lu\n", thrown.load()); }
} report;

}  // namespace

extern "C" void* __cxa_allocate_exception(size_t size) noexcept {
  using Allocate = void* (*)(size_t) noexcept;
  static const auto runtime =
      reinterpret_cast<Allocate>(::dlsym(RTLD_NEXT, "__cxa_allocate_exception"));
  thrown.fetch_add(1, std::memory_order_relaxed);
  return runtime(size);
}
