#include "platform/linux/fd.h"

#include <cerrno>
#include <cstdint>

namespace ttu::platform {

bool ReadFully(int fd, void* buf, std::size_t n, uint64_t offset) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got, n -= static_cast<std::size_t>(got), offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool WriteFully(int fd, const void* buf, std::size_t n, uint64_t offset) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    const ssize_t put = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put, n -= static_cast<std::size_t>(put), offset += static_cast<uint64_t>(put);
  }
  return true;
}

}  // namespace ttu::platform
