// Files on Windows: the existence test by directory listing, and the sound
// replacement of a file (a temporary file, flushed, gone unless it is renamed
// over the target).
#include "platform/windows/windows_api.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "platform/files.h"
#include "support/run_error.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

constexpr int32_t kErrBadFileName = 52;
constexpr const wchar_t* kTempMark = L".tessiro-update-";
constexpr DWORD kChunk = 16u << 20;

RunError ErrorFor(DWORD err) {
  switch (err) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return RunError::Of(kErrDiskFull);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return RunError::Of(kErrPermissionDenied);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return RunError::Of(kErrPathNotFound);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return RunError(kErrBadFileName, "Bad file name or number");
    default: return RunError::Of(kErrPathFileAccess);
  }
}

std::wstring CheckedPath(const std::string& path) {
  const std::wstring w = Widen(path);
  if (w.find_first_of(std::wstring(L"*?\0", 3)) != std::wstring::npos) {
    throw RunError(kErrBadFileName, "Bad file name or number");
  }
  return w;
}

void SplitPath(const std::wstring& path, std::wstring& dir, std::wstring& name) {
  const auto slash = path.find_last_of(L"\\/");
  dir = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  name = slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Removes what a killed run could not: the folder's temporary files, of any
// target (".<name>.tessiro-update-<random>").
void RemoveStaleTemporaries(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L".*" + kTempMark + L"*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((dir + fd.cFileName).c_str());
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

// A file read by offset, open as long as this lives; others may still read
// it, and delete or replace it once it is closed.
class OpenedFile final : public ByteSource {
 public:
  OpenedFile(HANDLE h, uint64_t size) : h_(h), size_(size) {}
  ~OpenedFile() override { CloseHandle(h_); }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    return offset <= size_ && n <= size_ - offset && ReadAt(h_, offset, out, n);
  }

  // Exactly `n` bytes at `offset` of the file `h`.
  static bool ReadAt(HANDLE h, uint64_t offset, void* out, std::size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    for (std::size_t done = 0; done < n;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset + done);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kChunk, n - done));
      DWORD got = 0;
      if (!ReadFile(h, p + done, want, &got, &at) || got == 0) return false;
      done += got;
    }
    return true;
  }

 private:
  HANDLE h_;
  uint64_t size_;
};

// A hidden temporary file beside the target that Windows deletes when its
// handle closes, also when the process is ended.
class Scratch final : public ScratchFile {
 public:
  explicit Scratch(HANDLE h) : h_(h) {}
  ~Scratch() override { CloseHandle(h_); }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    return offset <= size_ && n <= size_ - offset && OpenedFile::ReadAt(h_, offset, out, n);
  }
  void Append(const uint8_t* bytes, std::size_t n) override {
    for (std::size_t done = 0; done < n;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(size_);
      at.OffsetHigh = static_cast<DWORD>(size_ >> 32);
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(kChunk, n - done));
      DWORD put = 0;
      if (!WriteFile(h_, bytes + done, chunk, &put, &at) || put == 0) {
        throw ErrorFor(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
      }
      done += put, size_ += put;
    }
  }

 private:
  HANDLE h_;
  uint64_t size_ = 0;
};

// ".<target name>.tessiro-update-<random>" beside the target.
std::wstring TemporaryName(const std::wstring& dir, const std::wstring& name) {
  std::random_device rd;
  return dir + L"." + name + kTempMark + std::to_wstring(rd()) + std::to_wstring(rd());
}

class WindowsFileSystem final : public FileSystem {
 public:
  std::unique_ptr<ByteSource> OpenFile(const std::string& path) override {
    HANDLE h = CreateFileW(CheckedPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      // Only a file that is not there is "none": one held open without
      // sharing is a failure, retried like any other.
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return nullptr;
      throw ErrorFor(err);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || (GetFileAttributesW(CheckedPath(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
      CloseHandle(h);
      return nullptr;
    }
    return std::make_unique<OpenedFile>(h, static_cast<uint64_t>(size.QuadPart));
  }

  std::unique_ptr<ScratchFile> NewScratchFile(const std::string& path) override {
    std::wstring dir, name;
    SplitPath(CheckedPath(path), dir, name);
    HANDLE h = CreateFileW(TemporaryName(dir, name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw ErrorFor(GetLastError());
    return std::make_unique<Scratch>(h);
  }

  // A directory listing of the path: wildcards match as a listing matches them.
  bool FileExists(const std::string& path) override {
    const std::wstring w = Widen(path);
    if (w.find(L'\0') != std::wstring::npos) throw RunError(kErrBadFileName, "Bad file name or number");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(w.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      const bool wildcards = w.find_first_of(L"*?") != std::wstring::npos;
      if (!wildcards && (err == ERROR_INVALID_NAME || err == ERROR_BAD_PATHNAME || err == ERROR_FILENAME_EXCED_RANGE)) {
        throw ErrorFor(err);
      }
      return false;
    }
    FindClose(h);
    const DWORD skip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return !(fd.dwFileAttributes & skip);
  }

  std::unique_ptr<StagedFile> Stage(const std::string& path, const Blob& payload) override {
    return StageBy(path, [&](HANDLE h) { return WriteAll(h, static_cast<const uint8_t*>(payload.data), payload.size); });
  }

  std::unique_ptr<StagedFile> StageWith(const std::string& path, const Producer& produce) override {
    return StageBy(path, [&](HANDLE h) {
      produce([&](const uint8_t* bytes, std::size_t n) {
        if (const DWORD err = WriteAll(h, bytes, n)) throw ErrorFor(err);
      });
      return DWORD{ERROR_SUCCESS};
    });
  }

  // Windows flushes a file, not a disk, without an administrator's rights:
  // each file is flushed, after all of them were written, so that the system
  // has written most of them by then.
  void Flush(std::span<StagedFile* const> staged) override {
    cleaned_.clear();  // the next files staged look again
    for (StagedFile* f : staged) {
      if (!FlushFileBuffers(Of(*f).handle)) throw ErrorFor(GetLastError());
    }
  }

  // The staged file is renamed over the target through its own handle, so
  // that it is never a closed file with a name that a kill would leave.
  void Commit(StagedFile& staged) override {
    Staged& f = Of(staged);
    if (f.delete_pending && !SetDeletePending(f.handle, false)) throw ErrorFor(GetLastError());
    f.delete_pending = false;
    // The sharing rules refuse to replace a file another program holds open.
    if (!RenameOver(f.handle, f.target)) {
      const DWORD err = GetLastError();
      f.delete_pending = SetDeletePending(f.handle, true);  // else removed by name when it goes
      throw ErrorFor(err);
    }
    f.temp.clear(), f.committed = true;  // in place: nothing to remove
    // The rename reaches the disk, as a move written through would.
    const bool flushed = FlushFileBuffers(f.handle);
    CloseHandle(f.handle);
    f.handle = INVALID_HANDLE_VALUE;
    if (!flushed) throw ErrorFor(GetLastError());
  }

  // Each rename was flushed to the disk as it was made.
  void FlushFolders(std::span<StagedFile* const>) override {}

 private:
  // Until it is committed, a staged file is marked for deletion: Windows
  // removes it when its handle closes, also when the process is ended.
  // Where the file system cannot mark it, it is removed by name when this goes.
  struct Staged final : StagedFile {
    std::wstring target, temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool delete_pending = false;
    WindowsFileSystem* fs = nullptr;
    bool committed = false;
    ~Staged() override {
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      if (!temp.empty() && !delete_pending) DeleteFileW(temp.c_str());
      if (!committed) fs->cleaned_.clear();  // abandoned: the files staged next look again
    }
  };

  static bool SetDeletePending(HANDLE h, bool pending) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = pending;
    return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info);
  }

  static bool RenameOver(HANDLE h, const std::wstring& target) {
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    std::vector<uint8_t> buf(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, target.c_str(), name_bytes + sizeof(wchar_t));  // FileName[1] holds the NUL
    return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buf.size()));
  }
  static Staged& Of(StagedFile& f) { return static_cast<Staged&>(f); }

  std::set<std::wstring> cleaned_;  // folders, in lower case

  // Writes all `n` bytes; the error that stopped it, or ERROR_SUCCESS.
  static DWORD WriteAll(HANDLE h, const uint8_t* p, uint64_t n) {
    for (uint64_t done = 0; done < n;) {
      const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(kChunk, n - done));
      DWORD put = 0;
      if (!WriteFile(h, p + done, chunk, &put, nullptr) || put != chunk) {
        return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
      }
      done += put;
    }
    return ERROR_SUCCESS;
  }

  // A new temporary file beside the target, written by `write` (which
  // returns an error, or raises); removed unless committed.
  std::unique_ptr<StagedFile> StageBy(const std::string& path, const std::function<DWORD(HANDLE)>& write) {
    try {
      return StageNew(path, write);
    } catch (...) {
      cleaned_.clear();
      throw;
    }
  }

  std::unique_ptr<StagedFile> StageNew(const std::string& path, const std::function<DWORD(HANDLE)>& write) {
    auto f = std::make_unique<Staged>();
    f->fs = this;
    f->target = CheckedPath(path);
    std::wstring dir, name;
    SplitPath(f->target, dir, name);
    if (name.empty()) throw RunError::Of(kErrPathFileAccess);
    // A read-only file cannot be deleted, so it is not replaced either (said
    // here, since not every implementation of the move refuses it).
    const DWORD attributes = GetFileAttributesW(f->target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      throw ErrorFor(ERROR_ACCESS_DENIED);
    }
    // Once a folder for the files staged together: the temporaries made since are this run's.
    std::wstring folded = dir;
    CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    if (cleaned_.insert(folded).second) RemoveStaleTemporaries(dir);
    const std::wstring temp = TemporaryName(dir, name);
    // CREATE_NEW: a new file only, never one (or a link) already there.
    f->handle = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f->handle == INVALID_HANDLE_VALUE) throw ErrorFor(GetLastError());
    f->temp = temp;
    f->delete_pending = SetDeletePending(f->handle, true);
    if (const DWORD err = write(f->handle)) throw ErrorFor(err);
    LARGE_INTEGER size{};
    if (GetFileSizeEx(f->handle, &size)) f->bytes = static_cast<uint64_t>(size.QuadPart);
    return f;
  }
};

}  // namespace

FileSystem& NativeFileSystem() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace ttu::platform
