// What the packer's writers share: failures that name the system's reason, an
// output written through a temporary file, byte ranges copied by the kernel,
// and files read piece by piece.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/fd.h"
#include "support/payload_checksum.h"
#include "support/pe_image.h"

namespace ttu::pack {

// Throws PackError: `what` and the system's reason (errno).
[[noreturn]] void FailWithErrno(const std::string& what);

// Opens a file for reading, without ever blocking: only a regular file is
// read (a FIFO would wait for a writer, a device or a folder means nothing).
// Sets `size`. Throws PackError naming the file.
platform::Fd OpenRegularFile(const std::string& path, uint64_t& size);

// The output is written to a temporary file beside it and renamed into place
// by Commit(), so that a failure leaves no output; nor does an interruption
// (SIGINT, SIGTERM, SIGHUP) while it is written, which removes it.
class TempOutput {
 public:
  explicit TempOutput(const std::string& output);
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  int fd() const { return fd_.get(); }
  void Write(const void* bytes, std::size_t n, uint64_t offset);
  void Commit();

 private:
  std::string output_, path_;
  platform::Fd fd_;
  bool committed_ = false;
};

// Copies `size` bytes between open files, through the kernel where it can.
void CopyOrFail(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size, const std::string& what);


using platform::FileSource;

// Calls `piece` with `size` bytes of a file from `offset` on, a mapped window
// at a time (no copy, and never more than a window resident).
void ForEachWindow(int fd, uint64_t offset, uint64_t size, const std::string& what,
                   const std::function<void(std::span<const uint8_t>)>& piece);

// What the packers compute from the payloads while the kernel copies them:
// each one's checksum and, for a PE checksum, the sum of all their words.
struct PayloadSums {
  std::vector<checksum::Digest> digests;
  uint64_t words = 0;
};

// Copies each payload (`sizes[k]` bytes of `paths[k]`) into `out` at
// `offsets[k]`, through the kernel, while a second thread reads each once for
// its sums.
PayloadSums CopyPayloads(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes,
                         const std::vector<uint64_t>& offsets, int out, bool words);

}  // namespace ttu::pack
