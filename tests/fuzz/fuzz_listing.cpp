// tessiro-pack --list on an arbitrary file (a corrupted, truncated or crafted
// updater): it reports or lists, and scripts/fuzz runs it under a memory
// limit, so that a small input that makes it take much memory or time (shared
// entries, overlapping payloads, huge counts) is found too.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/pack/listing.h"
#include "tools/pack/package_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  const int fd = ::memfd_create("updater", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
    try {
      ttu::pack::ListPackage("/proc/self/fd/" + std::to_string(fd), sink);
    } catch (const ttu::pack::PackError&) {
      // a damaged updater, or none: reported
    }
  }
  ::close(fd);
  return 0;
}
