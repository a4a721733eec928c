// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include <utility>

#include "support/byte_source.h"

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

// Closes every descriptor from `first` on, or with `on_exec` marks each to
// close when a program starts; fit for a child between fork and exec.
void CloseDescriptorsFrom(int first, bool on_exec);

// Ends the process at once, exit status 0, its descriptors closed first: a
// thread stuck in a disk that does not answer keeps the process (and every
// descriptor it shares) until the disk answers, but not the window's
// connection, so the window goes when asked to.
[[noreturn]] void EndProcessNow();

// An open file of `size` bytes, as the format readers take it, read piece by piece.
class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    return offset <= size_ && n <= size_ - offset && ReadFully(fd_, out, n, offset);
  }

 private:
  int fd_;
  uint64_t size_;
};

// The same, owning its descriptor: open as long as this lives.
class OpenedFile final : public ByteSource {
 public:
  OpenedFile(Fd fd, uint64_t size) : fd_(std::move(fd)), source_(fd_.get(), size) {}
  uint64_t Size() const override { return source_.Size(); }
  bool Read(uint64_t offset, void* out, std::size_t n) const override { return source_.Read(offset, out, n); }

 private:
  Fd fd_;
  FileSource source_;
};

}  // namespace ttu::platform
