// Copying a byte range of one open file into another without passing it
// through a buffer of the program's own where the system allows.
#pragma once

#include <cstdint>

namespace ttu::platform {

// Copies `size` bytes from `in` at `in_offset` to `out` at `out_offset`. Shares
// the extents when both offsets and the size allow it and the file system can,
// else copies in the kernel, else through a small buffer. Returns 0 or an errno.
int CopyRange(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size);

}  // namespace ttu::platform
