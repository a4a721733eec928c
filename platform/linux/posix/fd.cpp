#include "platform/linux/posix/fd.h"

#include <fcntl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

void CloseDescriptorsFrom(int first, bool on_exec) {
  // The system call itself, by the kernel's numbers: the C library's wrapper
  // and the headers' names are newer than the oldest systems the updater is
  // built for; kernels before 5.11 refuse the flag, before 5.9 the call, and
  // the loop below does the work.
  constexpr long kCloseRange = 436;
  constexpr unsigned kCloseRangeCloexec = 1U << 2;
  if (::syscall(kCloseRange, static_cast<unsigned>(first), ~0U, on_exec ? kCloseRangeCloexec : 0U) == 0) return;
  const long max = ::sysconf(_SC_OPEN_MAX);
  for (int fd = first; fd < (max > 0 ? max : 1024); ++fd) {
    if (on_exec) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    } else {
      ::close(fd);
    }
  }
}

void EndProcessNow() {
  std::fflush(nullptr);
  CloseDescriptorsFrom(3, false);
  std::_Exit(0);
}

}  // namespace ttu::platform
