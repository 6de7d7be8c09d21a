#include "pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace vorlith {

void adviseHugePages([[maybe_unused]] void* data, [[maybe_unused]] size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  auto begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > begin) {
    (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // only a hint
  }
#endif
}

void populatePages([[maybe_unused]] void* begin, [[maybe_unused]] void* end) {
#if defined(MADV_POPULATE_WRITE)
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    return;
  }
  const auto mask = static_cast<uintptr_t>(page) - 1;
  auto from = reinterpret_cast<uintptr_t>(begin) & ~mask;
  auto to = reinterpret_cast<uintptr_t>(end) & ~mask;
  if (to > from) {
    (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);  // a hint
  }
#endif
}

bool releasePages([[maybe_unused]] const void* begin, [[maybe_unused]] const void* end) {
#if defined(MADV_DONTNEED)
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    return false;
  }
  const auto mask = static_cast<uintptr_t>(page) - 1;
  auto from = (reinterpret_cast<uintptr_t>(begin) + mask) & ~mask;
  auto to = reinterpret_cast<uintptr_t>(end) & ~mask;
  if (to > from) {
    (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }
  return true;
#else
  return false;
#endif
}

}  // namespace vorlith
