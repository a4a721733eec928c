#include "tools/pack/made_payloads.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "tools/pack/output_file.h"

namespace ttu::pack {

std::string MadePayloads::Keep(platform::Fd fd) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd.get());
  files.push_back(std::move(fd));
  return path;
}

platform::Fd UnnamedFile(const std::string& dir) {
  platform::Fd fd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  // File systems without O_TMPFILE: a named one, unlinked at once.
  std::string name = dir + "/.tessiro-pack-XXXXXX";
  fd = platform::Fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd) FailWithErrno("cannot create a temporary file in " + dir);
  ::unlink(name.c_str());
  return fd;
}

void RunJobs(std::size_t count, const std::function<void(std::size_t)>& job) {
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex lock;
  const auto work = [&] {
    for (std::size_t k; (k = next++) < count;) {
      try {
        job(k);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(lock);
        if (!failure) failure = std::current_exception();
        next = count;
      }
    }
  };
  const unsigned threads =
      std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(), static_cast<unsigned>(count)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

std::string OutputFolder(const std::string& output) {
  const auto slash = output.find_last_of('/');
  return slash == std::string::npos ? "." : output.substr(0, std::max<std::size_t>(slash, 1));
}

}  // namespace ttu::pack
