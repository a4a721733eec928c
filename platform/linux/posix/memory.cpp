#include "platform/memory.h"

#include <malloc.h>

namespace ttu::platform {

// The C library raises its threshold for mapping a block of its own to the
// size of the last one freed: blocks of a few MiB then come from the heap,
// and what is freed under a live block stays in the process. A fixed
// threshold keeps every large block mapped, unmapped when freed.
void ReturnFreedMemory() { mallopt(M_MMAP_THRESHOLD, 128 * 1024); }

}  // namespace ttu::platform
