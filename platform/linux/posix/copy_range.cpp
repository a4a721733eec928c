#include "platform/linux/posix/copy_range.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/linux/posix/fd.h"

namespace ttu::platform {
namespace {

constexpr uint64_t kCloneAlignment = 4096;
constexpr std::size_t kBufferSize = 1 << 20;

bool TryClone(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size) {
  if (size == 0 || in_offset % kCloneAlignment || out_offset % kCloneAlignment) return false;
  const uint64_t whole = size / kCloneAlignment * kCloneAlignment;
  if (whole != size) return false;  // a partial last block cannot be shared
  file_clone_range r{};
  r.src_fd = in;
  r.src_offset = in_offset;
  r.src_length = size;
  r.dest_offset = out_offset;
  return ::ioctl(out, FICLONERANGE, &r) == 0;
}

// Kernel-side copy; returns the bytes done, with the errno that stopped it.
uint64_t KernelCopy(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size,
                    int& err) {
  uint64_t done = 0;
  err = 0;
  while (done < size) {
    auto in_off = static_cast<loff_t>(in_offset + done);
    auto out_off = static_cast<loff_t>(out_offset + done);
    const uint64_t chunk = std::min<uint64_t>(size - done, uint64_t{1} << 30);
    const ssize_t n = ::copy_file_range(in, &in_off, out, &out_off, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n == 0 ? EIO : errno;  // 0: the source ended early
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  return done;
}

int BufferCopy(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size) {
  std::vector<char> buf(static_cast<std::size_t>(std::min<uint64_t>(size, kBufferSize)));
  for (uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(size - done, buf.size()));
    if (!ReadFully(in, buf.data(), n, in_offset + done)) return errno ? errno : EIO;
    if (!WriteFully(out, buf.data(), n, out_offset + done)) return errno ? errno : EIO;
    done += n;
  }
  return 0;
}

}  // namespace

int CopyRange(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size) {
  if (size == 0) return 0;
  if (TryClone(in, in_offset, out, out_offset, size)) return 0;
  int err = 0;
  const uint64_t done = KernelCopy(in, in_offset, out, out_offset, size, err);
  if (done == size) return 0;
  // These say the file systems cannot copy in the kernel; anything else is a real error.
  if (err != EXDEV && err != EINVAL && err != ENOSYS && err != EOPNOTSUPP && err != EBADF) {
    return err;
  }
  return BufferCopy(in, in_offset + done, out, out_offset + done, size - done);
}

}  // namespace ttu::platform
