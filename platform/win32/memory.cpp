// Large-buffer hints on Windows: none are given; the allocator's own behaviour stands.
#include "platform/memory.h"

namespace zentrak::platform {

void AdviseLargeBuffer(void*, size_t) noexcept {}

}  // namespace zentrak::platform
