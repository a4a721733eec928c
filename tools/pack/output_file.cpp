#include "tools/pack/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>

#include <cerrno>
#include <cstring>

#include "platform/copy_range.h"
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

TempOutput::TempOutput(const std::string& output) : output_(output), path_(output + ".XXXXXX") {
  if (path_.size() >= sizeof g_temp_path) throw PackError(output + ": error: the output's name is too long");
  RemoveTempOnSignals();
  const int fd = ::mkstemp(path_.data());
  if (fd < 0) FailWithErrno("cannot create " + output);
  fd_ = platform::Fd(fd);
  std::memcpy(g_temp_path, path_.c_str(), path_.size() + 1);
  g_have_temp = 1;
}

TempOutput::~TempOutput() {
  g_have_temp = 0;
  if (!committed_) ::unlink(path_.c_str());
}

void TempOutput::Write(const void* bytes, std::size_t n, uint64_t offset) {
  if (!platform::WriteFully(fd_.get(), bytes, n, offset)) FailWithErrno("cannot write " + output_);
}

void TempOutput::Commit() {
  if (::fchmod(fd_.get(), 0755) != 0 || ::close(fd_.Release()) != 0) FailWithErrno("cannot write " + output_);
  if (::rename(path_.c_str(), output_.c_str()) != 0) FailWithErrno("cannot write " + output_);
  committed_ = true;
  g_have_temp = 0;
}

void ForEachWindow(int fd, uint64_t offset, uint64_t size, const std::string& what,
                   const std::function<void(std::span<const uint8_t>)>& piece) {
  constexpr uint64_t kWindow = 8 << 20;
  const auto page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  for (uint64_t done = 0; done < size;) {
    const uint64_t at = offset + done, start = at / page * page;
    const uint64_t n = std::min(kWindow, size - done);
    const std::size_t length = static_cast<std::size_t>(at - start + n);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (map == MAP_FAILED) FailWithErrno("cannot read " + what);
    ::madvise(map, length, MADV_SEQUENTIAL);
    piece({static_cast<const uint8_t*>(map) + (at - start), static_cast<std::size_t>(n)});
    ::munmap(map, length);
    done += n;
  }
}

void CopyOrFail(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size, const std::string& what) {
  if (const int err = platform::CopyRange(in, in_offset, out, out_offset, size)) {
    errno = err;
    FailWithErrno("cannot copy " + what);
  }
}

PayloadSums CopyPayloads(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes,
                         const std::vector<uint64_t>& offsets, int out, bool words) {
  std::future<PayloadSums> sums = std::async(std::launch::async, [&paths, &sizes, words] {
    PayloadSums s;
    for (std::size_t k = 0; k < paths.size(); ++k) {
      uint64_t size_now = 0;
      const platform::Fd in = OpenRegularFile(paths[k], size_now);
      checksum::Hasher hasher;
      ForEachWindow(in.get(), 0, sizes[k], paths[k], [&](std::span<const uint8_t> piece) {
        hasher.Add(piece);
        if (words) s.words += pe::SumWords(piece);
      });
      s.digests.push_back(hasher.Finish());
    }
    return s;
  });
  for (std::size_t k = 0; k < paths.size(); ++k) {
    uint64_t size_now = 0;
    const platform::Fd in = OpenRegularFile(paths[k], size_now);
    CopyOrFail(in.get(), 0, out, offsets[k], sizes[k], paths[k]);
  }
  return sums.get();
}
}  // namespace ttu::pack
