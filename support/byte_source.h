// Where the readers of executable formats get their bytes from: a file read
// piece by piece, or memory. Every read names its offset and size and fails
// past the end, so that a damaged file gives nothing instead of a crash.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace ttu {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly `n` bytes at `offset`; false past the end or on an error.
  virtual bool Read(uint64_t offset, void* out, std::size_t n) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    if (n) std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
};

// `size` bytes of another source from `offset` on.
class SliceSource final : public ByteSource {
 public:
  SliceSource(const ByteSource& whole, uint64_t offset, uint64_t size) : whole_(whole), offset_(offset), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    return offset <= size_ && n <= size_ - offset && whole_.Read(offset_ + offset, out, n);
  }

 private:
  const ByteSource& whole_;
  uint64_t offset_, size_;
};

}  // namespace ttu
