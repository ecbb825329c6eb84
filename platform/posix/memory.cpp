// Large-buffer hints on Linux: transparent huge pages through madvise.
#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace zentrak::platform {

void AdviseLargeBuffer(void* p, size_t bytes) noexcept {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (!p || bytes < 2 * kHuge) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace zentrak::platform
