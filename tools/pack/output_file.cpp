#include "tools/pack/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/copy_range.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

void FailWithErrno(const std::string& what) { throw PackError(what + ": " + std::strerror(errno)); }

TempOutput::TempOutput(const std::string& output) : output_(output), path_(output + ".XXXXXX") {
  const int fd = ::mkstemp(path_.data());
  if (fd < 0) FailWithErrno("cannot create " + output);
  fd_ = platform::Fd(fd);
}

TempOutput::~TempOutput() {
  if (!committed_) ::unlink(path_.c_str());
}

void TempOutput::Write(const void* bytes, std::size_t n, uint64_t offset) {
  if (!platform::WriteFully(fd_.get(), bytes, n, offset)) FailWithErrno("cannot write " + output_);
}

void TempOutput::Commit() {
  if (::fchmod(fd_.get(), 0755) != 0 || ::close(fd_.Release()) != 0) FailWithErrno("cannot write " + output_);
  if (::rename(path_.c_str(), output_.c_str()) != 0) FailWithErrno("cannot write " + output_);
  committed_ = true;
}

void CopyOrFail(int in, uint64_t in_offset, int out, uint64_t out_offset, uint64_t size, const std::string& what) {
  if (const int err = platform::CopyRange(in, in_offset, out, out_offset, size)) {
    errno = err;
    FailWithErrno("cannot copy " + what);
  }
}


}  // namespace ttu::pack
