#include "tools/pack/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>

#include <cerrno>
#include <cstring>

#include "platform/linux/posix/copy_range.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {
namespace {

// The temporary output being written, for a signal handler to remove: a
// fixed buffer, since a handler may only call what is async-signal-safe.
char g_temp_path[4096];
volatile sig_atomic_t g_have_temp = 0;

void RemoveTempAndEnd(int sig) {
  if (g_have_temp) ::unlink(g_temp_path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void RemoveTempOnSignals() {
  struct sigaction sa {};
  sa.sa_handler = RemoveTempAndEnd;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace

void FailWithErrno(const std::string& what) { throw PackError(what + ": " + std::strerror(errno)); }

platform::Fd OpenRegularFile(const std::string& path, uint64_t& size) {
  platform::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) FailWithErrno("cannot read " + path);
  if (!S_ISREG(st.st_mode)) throw PackError(path + ": error: not a regular file");
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  size = static_cast<uint64_t>(st.st_size);
  return fd;
}

SourceFile StatSource(const std::string& path) {
  uint64_t size = 0;
  const platform::Fd fd = OpenRegularFile(path, size);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailWithErrno("cannot read " + path);
  return {path, size, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, st.st_dev, st.st_ino};
}

[[noreturn]] void RefuseChanged(const std::string& path) {
  throw PackError(path + ": error: the file changed while it was packed (its size or modification time is not "
                         "what it was): pack again once it is complete");
}

std::vector<uint8_t> ReadSource(const SourceFile& planned) {
  uint64_t size = 0;
  const platform::Fd fd = OpenRegularFile(planned.path, size);
  CheckUnchanged(fd.get(), planned);
  std::vector<uint8_t> bytes(size);
  if (!platform::ReadFully(fd.get(), bytes.data(), bytes.size(), 0)) FailWithErrno("cannot read " + planned.path);
  CheckUnchanged(fd.get(), planned);
  return bytes;
}

void CheckUnchanged(int fd, const SourceFile& planned) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) FailWithErrno("cannot read " + planned.path);
  const int64_t mtime = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  if (static_cast<uint64_t>(st.st_size) != planned.size || mtime != planned.mtime_ns || st.st_dev != planned.device ||
      st.st_ino != planned.inode) {
    RefuseChanged(planned.path);
  }
}

namespace {

// Blocks the signals that remove the temporary output while it lives.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t old_;
};

// How far the copy has got, for the thread that reads back what it wrote.
class CopyProgress {
 public:
  void Set(std::size_t item, uint64_t copied) {
    {
      const std::lock_guard<std::mutex> lock(m_);
      item_ = item, copied_ = copied;
    }
    cv_.notify_one();
  }
  void Stop() { Set(SIZE_MAX, 0); }
  // Bytes of `item` copied beyond `done`, waiting for some; 0 when stopped.
  uint64_t WaitBeyond(std::size_t item, uint64_t done, uint64_t size) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return item_ > item || (item_ == item && copied_ > done); });
    if (item_ == SIZE_MAX) return 0;
    return (item_ > item ? size : copied_) - done;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::size_t item_ = 0;
  uint64_t copied_ = 0;
};

constexpr uint64_t kCopyChunk = 8 << 20;
constexpr std::size_t kReadPiece = 1 << 20;

// The bytes just written are in the page cache: mapped with their pages
// populated at once, they are summed without a copy and without a fault per
// page. Only the output is mapped, a file of this process's own that nothing
// else changes, never a source.
void ForEachWrittenPiece(int out, uint64_t offset, uint64_t size, const std::function<void(std::span<const uint8_t>)>& f) {
  const auto page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t start = offset / page * page;
  const auto length = static_cast<std::size_t>(offset - start + size);
  void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, out, static_cast<off_t>(start));
  if (map == MAP_FAILED) FailWithErrno("cannot read the output back");
  f({static_cast<const uint8_t*>(map) + (offset - start), static_cast<std::size_t>(size)});
  ::munmap(map, length);
}

PayloadSums SumWritten(const std::vector<SourceFile>& sources, const std::vector<uint64_t>& offsets, int out,
                       bool words, CopyProgress& progress) {
  PayloadSums s;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    checksum::Hasher hasher;
    for (uint64_t done = 0; done < sources[k].size;) {
      const uint64_t ready = progress.WaitBeyond(k, done, sources[k].size);
      if (ready == 0) return s;  // the copy failed: it reports why
      const uint64_t n = std::min(ready, kCopyChunk);  // a window at a time: the memory stays small
      ForEachWrittenPiece(out, offsets[k] + done, n, [&](std::span<const uint8_t> piece) {
        hasher.Add(piece);
        if (words) s.words += pe::SumWords(piece);
      });
      done += n;
    }
    s.digests.push_back(hasher.Finish());
  }
  return s;
}

void CopyOne(const SourceFile& source, int out, uint64_t offset, std::size_t k, CopyProgress& progress,
             const std::function<void(std::size_t)>& copied) {
  uint64_t size_now = 0;
  const platform::Fd in = OpenRegularFile(source.path, size_now);
  CheckUnchanged(in.get(), source);
  for (uint64_t done = 0; done < source.size;) {
    const uint64_t n = std::min(kCopyChunk, source.size - done);
    if (const int err = platform::CopyRange(in.get(), done, out, offset + done, n)) {
      CheckUnchanged(in.get(), source);  // a source cut short says so
      errno = err;
      FailWithErrno("cannot copy " + source.path);
    }
    done += n;
    progress.Set(k, done);
    if (copied) copied(k);
  }
  CheckUnchanged(in.get(), source);
}

}  // namespace

TempOutput::TempOutput(const std::string& output, void (*created)()) : output_(output), path_(output + ".XXXXXX") {
  if (path_.size() >= sizeof g_temp_path) throw PackError(output + ": error: the output's name is too long");
  RemoveTempOnSignals();
  const BlockedSignals blocked;
  const int fd = ::mkstemp(path_.data());
  if (fd < 0) FailWithErrno("cannot create " + output);
  fd_ = platform::Fd(fd);
  if (created) created();
  std::memcpy(g_temp_path, path_.c_str(), path_.size() + 1);
  g_have_temp = 1;
}

TempOutput::~TempOutput() {
  const BlockedSignals blocked;
  if (!committed_) ::unlink(path_.c_str());
  g_have_temp = 0;
}

void TempOutput::Write(const void* bytes, std::size_t n, uint64_t offset) {
  if (!platform::WriteFully(fd_.get(), bytes, n, offset)) FailWithErrno("cannot write " + output_);
}

void TempOutput::Commit() {
  if (::fchmod(fd_.get(), 0755) != 0 || ::close(fd_.Release()) != 0) FailWithErrno("cannot write " + output_);
  const BlockedSignals blocked;
  if (::rename(path_.c_str(), output_.c_str()) != 0) FailWithErrno("cannot write " + output_);
  committed_ = true;
  g_have_temp = 0;
}

uint64_t SumFileWords(int fd, uint64_t offset, uint64_t size, const std::string& what) {
  std::vector<uint8_t> buf(static_cast<std::size_t>(std::min<uint64_t>(size, kReadPiece)));
  uint64_t sum = 0;
  for (uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(buf.size(), size - done));
    if (!platform::ReadFully(fd, buf.data(), n, offset + done)) FailWithErrno("cannot read " + what);
    sum += pe::SumWords({buf.data(), n});
    done += n;
  }
  return sum;
}

void CopyOrFail(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size, const std::string& what) {
  if (const int err = platform::CopyRange(in, in_offset, out, out_offset, size)) {
    errno = err;
    FailWithErrno("cannot copy " + what);
  }
}

PayloadSums CopyPayloads(const std::vector<SourceFile>& sources, const std::vector<uint64_t>& offsets, int out,
                         bool words, const std::function<void(std::size_t)>& copied) {
  CopyProgress progress;
  std::future<PayloadSums> sums = std::async(std::launch::async, [&] {
    return SumWritten(sources, offsets, out, words, progress);
  });
  try {
    for (std::size_t k = 0; k < sources.size(); ++k) CopyOne(sources[k], out, offsets[k], k, progress, copied);
  } catch (...) {
    progress.Stop();
    sums.wait();
    throw;
  }
  return sums.get();
}

}  // namespace ttu::pack
