// What the packer's writers share: failures that name the system's reason, an
// output written through a temporary file, byte ranges copied by the kernel,
// and files read piece by piece.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "support/payload_checksum.h"
#include "support/pe_image.h"

namespace ttu::pack {

// Throws PackError: `what` and the system's reason (errno).
[[noreturn]] void FailWithErrno(const std::string& what);

// Opens a file for reading, without ever blocking: only a regular file is
// read (a FIFO would wait for a writer, a device or a folder means nothing).
// Sets `size`. Throws PackError naming the file.
platform::Fd OpenRegularFile(const std::string& path, uint64_t& size);

// A payload's file as it was when the package was planned: packing refuses
// it when it is not the same file of the same size and modification time
// when it is copied, or after.
struct SourceFile {
  std::string path;
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  uint64_t device = 0, inode = 0;
};
SourceFile StatSource(const std::string& path);
// Refuses a source whose open file is no longer the one planned.
void CheckUnchanged(int fd, const SourceFile& planned);
// The whole file, which must stay as planned while it is read.
std::vector<uint8_t> ReadSource(const SourceFile& planned);

// The output is written to a temporary file beside it and renamed into place
// by Commit(), so that a failure leaves no output; nor does an interruption
// (SIGINT, SIGTERM, SIGHUP) while it is written, which removes it. Those
// signals wait while the temporary file is made and its name handed to the
// handler, so that none can come between (`created`, for tests, runs there).
class TempOutput {
 public:
  explicit TempOutput(const std::string& output, void (*created)() = nullptr);
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
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

// The PE checksum's sum of the words of `size` bytes of a file from `offset`
// on, read a piece at a time.
uint64_t SumFileWords(int fd, uint64_t offset, uint64_t size, const std::string& what);

// What the packers compute while the kernel copies the payloads, from the
// bytes it wrote: each one's checksum and, for a PE checksum, the sum of all
// their words.
struct PayloadSums {
  std::vector<checksum::Digest> digests;
  uint64_t words = 0;
};

// Copies each payload into `out` at `offsets[k]`, through the kernel, while a
// second thread reads back what was written for its sums. A source that is
// no longer as planned, before, while or after it is copied, is refused.
// `copied` (for tests) is called after each piece of payload `k` is copied.
PayloadSums CopyPayloads(const std::vector<SourceFile>& sources, const std::vector<uint64_t>& offsets, int out,
                         bool words, const std::function<void(std::size_t k)>& copied = {});

}  // namespace ttu::pack
