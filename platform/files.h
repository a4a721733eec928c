// Files, named by Windows folder texts ("C:\Programmi\Kelmo\Tessiro\a.zip").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
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

// A file's new version written beside it, complete, not yet in place: the
// old file stays until it is committed. Gone, with nothing left of it, when it
// goes uncommitted.
class StagedFile {
 public:
  virtual ~StagedFile() = default;
  uint64_t bytes = 0;  // written
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when `path` names a file (a folder, or a hidden file, does not count).
  // A text that cannot name a file raises a RunError.
  virtual bool FileExists(const std::string& path) = 0;
  // A replacement in steps, so that many files are flushed together: each
  // staged, all flushed at once, each committed, their folders flushed once.
  // At every step the path holds the old file or the new one, never anything
  // else, also after a power cut.
  //
  // Stages the file at `path` with exactly the bytes of `payload`, or those
  // that `produce` makes while they are written. Creates no folders. A file in
  // use by another program is not replaced. Raises a RunError on failure (what
  // `produce` raises passes through), leaving nothing behind.
  virtual std::unique_ptr<StagedFile> Stage(const std::string& path, const Blob& payload) = 0;
  virtual std::unique_ptr<StagedFile> StageWith(const std::string& path, const Producer& produce) = 0;
  // Makes the staged files' bytes durable, together where the system can.
  virtual void Flush(std::span<StagedFile* const> staged) = 0;
  // Puts a flushed staged file in place of the old one. Raises a RunError (a
  // file held open, a rename refused) leaving the old file and no temporary.
  virtual void Commit(StagedFile& staged) = 0;
  // Makes the committed replacements durable: each of their folders once.
  virtual void FlushFolders(std::span<StagedFile* const> committed) = 0;

  // One file replaced through every step.
  void ReplaceFile(const std::string& path, const Blob& payload) { Replace(Stage(path, payload)); }
  void ReplaceFileWith(const std::string& path, const Producer& produce) { Replace(StageWith(path, produce)); }

  // The file at `path`, open for reading by offset (the installed version a
  // delta is made against); nothing when there is no such file. It is closed
  // when the result goes, which must be before the file is replaced.
  virtual std::unique_ptr<ByteSource> OpenFile(const std::string& path) = 0;
  // A scratch file in the folder of `path` (the file being updated, on whose
  // disk its new version is written anyway), gone when the result goes or the
  // process ends, whatever ends it. Raises a RunError when none can be made.
  virtual std::unique_ptr<ScratchFile> NewScratchFile(const std::string& path) = 0;

 private:
  void Replace(std::unique_ptr<StagedFile> staged);
};

inline void FileSystem::Replace(std::unique_ptr<StagedFile> staged) {
  StagedFile* const one[] = {staged.get()};
  Flush(one);
  Commit(*staged);
  FlushFolders(one);
}

FileSystem& NativeFileSystem();

}  // namespace ttu::platform
