// Which files other processes hold open, found the way fuser finds them.
#pragma once

#include <sys/types.h>

namespace ttu::platform {

// True when a process other than this one has the file (device, inode) open,
// or mapped into its memory. Processes this one may not inspect are passed over.
bool HeldOpenByAnotherProcess(dev_t device, ino_t inode);

}  // namespace ttu::platform
