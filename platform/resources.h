// The resources built into the updater's own executable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/byte_source.h"

namespace ttu::platform {

// A resource's bytes, where they lie: a byte range of a file, or memory the
// platform keeps mapped for the life of the process.
struct Blob {
  std::string file;  // empty: the bytes are at `data`
  const void* data = nullptr;
  uint64_t offset = 0;
  uint64_t size = 0;
  // That file, kept open by the resources it came from: read through it,
  // not opened again for each read. None: `file` is opened to read.
  std::shared_ptr<const ByteSource> opened;
};

class Resources {
 public:
  virtual ~Resources() = default;
  // The string-table entry `id`, or nothing when there is none.
  virtual std::optional<std::string> String(uint32_t id) = 0;
  // The resource of type `type` (e.g. "CUSTOM") and identifier `id`, or nothing.
  virtual std::optional<Blob> Data(uint32_t id, const std::string& type) = 0;
  // Why the executable's package cannot be read whole (cut short, its
  // directory damaged); nothing when it reads whole or there is none.
  virtual std::optional<std::string> Damage() { return std::nullopt; }
};

}  // namespace ttu::platform

namespace ttu::platform {

// Reads `n` bytes of a blob from `offset` on; raises a RunError when they
// cannot be read (a damaged or shortened executable).
void ReadBlob(const Blob& blob, uint64_t offset, void* out, std::size_t n);

// A resource read piece by piece, as the readers of payloads read. It holds
// its own copy of the blob (a few words), so that a reader may keep it.
class BlobSource final : public ByteSource {
 public:
  explicit BlobSource(const Blob& blob) : blob_(blob) {}
  uint64_t Size() const override { return blob_.size; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    ReadBlob(blob_, offset, out, n);  // raises when it cannot
    return true;
  }

 private:
  Blob blob_;
};

// The resources of the running executable. Nothing is read before the first lookup.
Resources& OwnResources();
// The resources of another packed executable (tests and tools).
std::unique_ptr<Resources> ResourcesOfFile(const std::string& path);

}  // namespace ttu::platform
