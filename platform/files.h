// Files, named by Windows folder texts ("C:\Programmi\Kelmo\Tessiro\a.zip").
#pragma once

#include <string>

#include "platform/resources.h"

namespace ttu::platform {

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
};

FileSystem& NativeFileSystem();

}  // namespace ttu::platform
