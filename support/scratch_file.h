// A file that lives only while an update needs it: bytes made on the way
// (a ZIP delta's inflated members of the installed archive) written once, in
// order, then read back by offset. The platform's goes away with its process.
#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_source.h"

namespace ttu {

class ScratchFile : public ByteSource {
 public:
  // Adds `n` bytes at the end. Raises what the file system raises (a full disk).
  virtual void Append(const uint8_t* bytes, std::size_t n) = 0;
};

// One in memory, for what has no file system.
class MemoryScratch final : public ScratchFile {
 public:
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, void* out, std::size_t n) const override { return MemorySource(bytes_).Read(offset, out, n); }
  void Append(const uint8_t* bytes, std::size_t n) override { bytes_.insert(bytes_.end(), bytes, bytes + n); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace ttu
