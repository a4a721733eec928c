// Files, named by Windows folder texts ("C:\Programmi\Kelmo\Tessiro\a.zip").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/resources.h"
#include "support/byte_source.h"
#include "support/scratch_file.h"

namespace ttu::platform {

// Where a file's bytes are handed, in order, as they are made.
using ByteSink = std::function<void(const uint8_t* bytes, std::size_t n)>;
// What makes a file's bytes (a compressed payload's decoder): it hands them
// to the sink it is given.
using Producer = std::function<void(const ByteSink& put)>;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when `path` names a file (a folder, or a hidden file, does not count).
  // A text that cannot name a file raises a RunError.
  virtual bool FileExists(const std::string& path) = 0;
  // Replaces the file at `path` with exactly the bytes of `payload`, flushed to
  // disk: afterwards the path holds the old file or the new one, never anything
  // else. Creates no folders. A file in use by another program is not replaced.
  // Raises a RunError on failure, leaving nothing behind.
  virtual void ReplaceFile(const std::string& path, const Blob& payload) = 0;
  // The same, with the bytes that `produce` makes while they are written. What
  // it raises fails the replacement the same way: the old file stays.
  virtual void ReplaceFileWith(const std::string& path, const Producer& produce) = 0;
  // The file at `path`, open for reading by offset (the installed version a
  // delta is made against); nothing when there is no such file. It is closed
  // when the result goes, which must be before the file is replaced.
  virtual std::unique_ptr<ByteSource> OpenFile(const std::string& path) = 0;
  // A scratch file in the folder of `path` (the file being updated, on whose
  // disk its new version is written anyway), gone when the result goes or the
  // process ends, whatever ends it. Raises a RunError when none can be made.
  virtual std::unique_ptr<ScratchFile> NewScratchFile(const std::string& path) = 0;
};

FileSystem& NativeFileSystem();

}  // namespace ttu::platform
