// Which files other processes hold open, found the way fuser finds them.
#pragma once

#include <sys/types.h>

#include <set>
#include <utility>

namespace ttu::platform {

// The files (device, inode) that processes other than this one hold open or
// have mapped into their memory, as one scan of /proc found them: a pass over
// many files asks once, not once a file (each scan reads every process's
// descriptors and maps). Processes this one may not inspect are passed over.
class HeldFiles {
 public:
  static HeldFiles Now();
  bool Holds(dev_t device, ino_t inode) const { return held_.count({device, inode}) > 0; }

 private:
  std::set<std::pair<dev_t, ino_t>> held_;
};

}  // namespace ttu::platform
