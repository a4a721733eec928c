// Files on Linux: the existence test and the sound replacement of a file.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <map>
#include <optional>
#include <set>
#include <random>

#include "platform/files.h"
#include "platform/linux/posix/copy_range.h"
#include "platform/linux/posix/fd.h"
#include "platform/linux/posix/open_files.h"
#include "platform/linux/wine/path_mapping.h"
#include "platform/linux/wine/session.h"
#include "support/run_error.h"

namespace ttu::platform {
namespace {

// Temporary files carry this mark, which only the updater uses:
// ".<target name>.tessiro-update-<random>".
constexpr const char* kTempMark = ".tessiro-update-";

RunError ErrorFor(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return RunError::Of(kErrDiskFull);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY: return RunError::Of(kErrPermissionDenied);
    case ENOENT:
    case ENOTDIR: return RunError::Of(kErrPathNotFound);
    default: return RunError::Of(kErrPathFileAccess);
  }
}

[[noreturn]] void Fail(int err) { throw ErrorFor(err); }

std::string TempPrefixFor(const std::string& name) { return "." + name + kTempMark; }

// Removes what a killed run could not: the folder's temporary files, of any
// target (".<name>.tessiro-update-<random>").
void RemoveStaleTemporaries(int dir_fd) {
  const int dup_fd = ::dup(dir_fd);
  DIR* d = dup_fd >= 0 ? ::fdopendir(dup_fd) : nullptr;
  if (!d) {
    if (dup_fd >= 0) ::close(dup_fd);
    return;
  }
  while (const dirent* e = ::readdir(d)) {
    const std::string_view n(e->d_name);
    if (n[0] != '.' || n.find(kTempMark) == std::string_view::npos) continue;
    // A link planted under such a name goes too; unlinking never follows it.
    struct stat st {};
    if (::fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
      ::unlinkat(dir_fd, e->d_name, 0);
    }
  }
  ::closedir(d);
}

// A fresh temporary name for `name` that `make` takes (false with EEXIST:
// taken, another is tried; with any other errno: failed).
template <typename Make>
std::string TakeTemporaryName(const std::string& name, const Make& make) {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TempPrefixFor(name) + std::to_string(rd()) + std::to_string(rd());
    if (make(temp)) return temp;
    if (errno != EEXIST) Fail(errno);
  }
  Fail(EEXIST);
}

// Creates a new temporary file beside the target: exclusively, never through a link.
Fd CreateTemporary(int dir_fd, const std::string& name, mode_t mode, std::string& temp_name, int access = O_WRONLY) {
  int fd = -1;
  temp_name = TakeTemporaryName(name, [&](const std::string& temp) {
    fd = ::openat(dir_fd, temp.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    return fd >= 0;
  });
  return Fd(fd);
}

// The disk's writing of a staged file, started a piece at a time as the file
// is made, so that it goes on while the rest is made and the flush that
// follows waits for less. Only started: nothing here waits.
class Writeback {
 public:
  static constexpr uint64_t kPiece = uint64_t{8} << 20;
  explicit Writeback(int fd) : fd_(fd) {}
  // The file is written up to `end`.
  void Wrote(uint64_t end) {
    if (end - from_ >= kPiece) Start(end);
  }
  void Start(uint64_t end) {
    if (end > from_) ::sync_file_range(fd_, static_cast<off64_t>(from_), static_cast<off64_t>(end - from_),
                                       SYNC_FILE_RANGE_WRITE);
    from_ = end;
  }

 private:
  int fd_;
  uint64_t from_ = 0;
};

void WritePayload(int out, const Blob& payload) {
  Writeback writeback(out);
  if (payload.file.empty()) {
    if (!WriteFully(out, payload.data, payload.size, 0)) Fail(errno);
    writeback.Start(payload.size);
    return;
  }
  Fd in(::open(payload.file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) Fail(errno);
  for (uint64_t at = 0; at < payload.size; at += Writeback::kPiece) {
    const uint64_t n = std::min(payload.size - at, Writeback::kPiece);
    if (const int err = CopyRange(in.get(), payload.offset + at, out, at, n)) Fail(err);
    writeback.Start(at + n);
  }
}

// A plain file that a listing shows: no folder, no hidden (dot) file.
bool IsListedFile(const std::string& dir, const std::string& name) {
  if (name[0] == '.') return false;
  struct stat st {};
  return ::stat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file without a name (or unlinked at once where the file system cannot
// make one without): nothing is left of it when its process ends.
class Scratch final : public ScratchFile {
 public:
  explicit Scratch(Fd fd) : fd_(std::move(fd)) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    return offset <= size_ && n <= size_ - offset && ReadFully(fd_.get(), out, n, offset);
  }
  void Append(const uint8_t* bytes, std::size_t n) override {
    if (!WriteFully(fd_.get(), bytes, n, size_)) Fail(errno);
    size_ += n;
  }

 private:
  Fd fd_;
  uint64_t size_ = 0;
};

// The folder and the name of a Linux path.
void SplitPath(const std::string& p, std::string& dir, std::string& name) {
  const auto slash = p.find_last_of('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  name = slash == std::string::npos ? p : p.substr(slash + 1);
}

class LinuxFileSystem final : public FileSystem {
 public:
  LinuxFileSystem() {
    // A write past the file-size limit must fail with an error, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
  }

  // As a directory listing of the path answers: wildcards in the name match
  // (letter case ignored); folders and hidden files do not count.
  bool FileExists(const std::string& path) override {
    std::string dir, name;
    SplitPath(ToLinuxPath(path, WinePrefix()), dir, name);
    if (name.empty()) return false;
    if (dir.find_first_of("*?") != std::string::npos) return false;  // a listing matches names only
    if (name.find_first_of("*?") == std::string::npos) return IsListedFile(dir, name);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (const dirent* e = ::readdir(d)) {
      if (!found && ::fnmatch(name.c_str(), e->d_name, FNM_CASEFOLD | FNM_PERIOD) == 0) found = IsListedFile(dir, e->d_name);
    }
    ::closedir(d);
    return found;
  }

  std::unique_ptr<ByteSource> OpenFile(const std::string& path) override {
    Fd fd(::open(ToLinuxPath(path, WinePrefix()).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    // Only a file that is not there is "none": one that cannot be read is a
    // failure, retried like any other.
    if (!fd && errno != ENOENT && errno != ENOTDIR) throw ErrorFor(errno);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::make_unique<OpenedFile>(std::move(fd), static_cast<uint64_t>(st.st_size));
  }

  std::unique_ptr<ScratchFile> NewScratchFile(const std::string& path) override {
    std::string dir, name;
    SplitPath(ToLinuxPath(path, WinePrefix()), dir, name);
    Fd fd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd) {
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) Fail(errno);
      Fd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!dir_fd) Fail(errno);
      std::string temp_name;
      fd = CreateTemporary(dir_fd.get(), name, 0600, temp_name, O_RDWR);
      ::unlinkat(dir_fd.get(), temp_name.c_str(), 0);
    }
    return std::make_unique<Scratch>(std::move(fd));
  }

  std::unique_ptr<StagedFile> Stage(const std::string& path, const Blob& payload) override {
    return StageBy(path, [&](int out) { WritePayload(out, payload); });
  }

  std::unique_ptr<StagedFile> StageWith(const std::string& path, const Producer& produce) override {
    return StageBy(path, [&](int out) {
      Writeback writeback(out);
      uint64_t at = 0;
      produce([&](const uint8_t* bytes, std::size_t n) {
        if (!WriteFully(out, bytes, n, at)) Fail(errno);
        at += n;
        writeback.Wrote(at);
      });
      writeback.Start(at);
    });
  }

  // One syncfs for each file system the files are on: one journal commit,
  // where a flush of each file would make one each.
  void Flush(std::span<StagedFile* const> staged) override {
    ForgetBatch();  // the next files staged ask again
    std::map<dev_t, int> one_per_disk;
    for (StagedFile* f : staged) one_per_disk.emplace(Of(*f).dev, Of(*f).file.get());
    for (const auto& [dev, fd] : one_per_disk) {
      if (::syncfs(fd) != 0) Fail(errno);
    }
  }

  void Commit(StagedFile& staged) override {
    Staged& f = Of(staged);
    if (f.temp_name.empty()) {
      // An unnamed file gets a temporary name, then the target's: a kill
      // between the two leaves a name the next pass removes.
      const std::string self = "/proc/self/fd/" + std::to_string(f.file.get());
      f.temp_name = TakeTemporaryName(f.name, [&](const std::string& temp) {
        return ::linkat(AT_FDCWD, self.c_str(), f.dir.get(), temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
      });
    }
    if (::renameat(f.dir.get(), f.temp_name.c_str(), f.dir.get(), f.name.c_str()) != 0) Fail(errno);
    f.temp_name.clear(), f.committed = true;  // in place: nothing to remove
  }

  void FlushFolders(std::span<StagedFile* const> committed) override {
    std::set<std::pair<dev_t, ino_t>> flushed;
    for (StagedFile* f : committed) {
      struct stat st {};
      if (::fstat(Of(*f).dir.get(), &st) == 0 && flushed.insert({st.st_dev, st.st_ino}).second) {
        ::fsync(Of(*f).dir.get());  // the renames themselves reach the disk
      }
    }
  }

 private:
  // A new version beside its target: a file without a name where the file
  // system makes one (nothing is left of it when the process ends, however),
  // else a named temporary removed when this goes uncommitted.
  struct Staged final : StagedFile {
    Fd dir, file;
    std::string name, temp_name;
    dev_t dev = 0;
    LinuxFileSystem* fs = nullptr;
    bool committed = false;
    ~Staged() override {
      if (!temp_name.empty()) ::unlinkat(dir.get(), temp_name.c_str(), 0);
      if (!committed) fs->ForgetBatch();  // abandoned: the files staged next look again
    }
  };

  // What is known of the folders for the files staged together.
  void ForgetBatch() { held_.reset(), cleaned_.clear(); }
  static Staged& Of(StagedFile& f) { return static_cast<Staged&>(f); }

  // The new version of `path`, written by `write`, beside it. Which files
  // other programs hold is asked once for the files staged together, and
  // again after a failure.
  std::unique_ptr<StagedFile> StageBy(const std::string& path, const std::function<void(int out)>& write) {
    try {
      return StageNew(path, write);
    } catch (...) {
      ForgetBatch();
      throw;
    }
  }

  std::unique_ptr<StagedFile> StageNew(const std::string& path, const std::function<void(int out)>& write) {
    auto f = std::make_unique<Staged>();
    f->fs = this;
    std::string dir;
    SplitPath(ToLinuxPath(path, WinePrefix()), dir, f->name);
    if (f->name.empty() || f->name == "." || f->name == "..") throw RunError::Of(kErrPathFileAccess);
    f->dir = Fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!f->dir) Fail(errno);

    mode_t mode = 0644;
    struct stat old {};
    if (::fstatat(f->dir.get(), f->name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(old.st_mode)) throw RunError::Of(kErrPathFileAccess);
      // A file another program holds open is not replaced, as Windows refuses to delete it.
      if (S_ISREG(old.st_mode)) {
        if (!held_) held_ = HeldFiles::Now();
        if (held_->Holds(old.st_dev, old.st_ino)) throw RunError::Of(kErrPermissionDenied);
      }
      // A read-only file (no write permission at all, as Wine shows the
      // read-only attribute) is not replaced, as Windows refuses to delete it.
      if (S_ISREG(old.st_mode) && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        throw RunError::Of(kErrPermissionDenied);
      }
      if (S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
    }
    // Once a folder for the files staged together: the temporaries made since are this run's.
    struct stat dir_st {};
    if (::fstat(f->dir.get(), &dir_st) == 0 && cleaned_.insert({dir_st.st_dev, dir_st.st_ino}).second) {
      RemoveStaleTemporaries(f->dir.get());
    }
    f->file = Fd(::openat(f->dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!f->file) {
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) Fail(errno);
      f->file = CreateTemporary(f->dir.get(), f->name, mode, f->temp_name);
    }
    if (S_ISREG(old.st_mode)) ::fchmod(f->file.get(), mode);  // keep the mode the old file had
    write(f->file.get());
    struct stat st {};
    if (::fstat(f->file.get(), &st) != 0) Fail(errno);
    f->dev = st.st_dev;
    f->bytes = static_cast<uint64_t>(st.st_size);
    return f;
  }

  std::optional<HeldFiles> held_;
  std::set<std::pair<dev_t, ino_t>> cleaned_;  // folders
};

}  // namespace

FileSystem& NativeFileSystem() {
  static LinuxFileSystem fs;
  return fs;
}

}  // namespace ttu::platform
