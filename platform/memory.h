// Hints for large working buffers (query results of tens of megabytes).
#pragma once

#include <cstddef>

namespace zentrak::platform {

// Asks for large pages on the part of [p, p + bytes) that they can cover, so that filling a big
// buffer for the first time costs a few page faults instead of one every 4 KiB. A hint only:
// nothing changes where the platform has no such pages.
void AdviseLargeBuffer(void* p, size_t bytes) noexcept;

}  // namespace zentrak::platform
