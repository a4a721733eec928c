// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include <utility>

namespace ttu::platform {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// pread until `n` bytes are in or the file ends; false on error or short file.
bool ReadFully(int fd, void* buf, std::size_t n, uint64_t offset);
// write until all `n` bytes are out; false on error.
bool WriteFully(int fd, const void* buf, std::size_t n, uint64_t offset);

}  // namespace ttu::platform
