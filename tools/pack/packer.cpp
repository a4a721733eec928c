#include "tools/pack/packer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/copy_range.h"
#include "platform/linux/fd.h"
#include "support/resource_section.h"
#include "support/text.h"
#include "tools/pack/preprocessor.h"

namespace ttu::pack {
namespace {

using platform::Fd;

[[noreturn]] void Fail(const std::string& what) { throw PackError(what + ": " + std::strerror(errno)); }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Where the stub's own bytes end: a stub that was packed before is packed again
// from its bare executable.
uint64_t StubLength(int fd, uint64_t size) {
  if (size < resfmt::kTrailerSize) return size;
  std::array<uint8_t, resfmt::kTrailerSize> last{};
  if (!platform::ReadFully(fd, last.data(), last.size(), size - last.size())) return size;
  const auto t = resfmt::DecodeTrailer(last, size);
  return t ? t->section_start : size;
}

std::vector<resfmt::StringBlock> StringBlocks(const PackageDescription& desc) {
  std::map<std::pair<uint16_t, uint16_t>, resfmt::Strings16> blocks;  // (language, block)
  for (const auto& s : desc.strings) {
    blocks[{s.language, static_cast<uint16_t>(s.id / 16 + 1)}][s.id % 16] = s.text;
  }
  std::vector<resfmt::StringBlock> out;
  for (const auto& [key, strings] : blocks) {
    out.push_back({key.second, key.first, resfmt::EncodeStringBlock(strings)});
  }
  return out;
}

class TempOutput {
 public:
  explicit TempOutput(const std::string& output) : output_(output) {
    path_ = output + ".XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) Fail("cannot create " + output);
    fd_ = Fd(fd);
  }
  ~TempOutput() {
    if (!committed_) ::unlink(path_.c_str());
  }
  int fd() const { return fd_.get(); }
  void Commit() {
    if (::fchmod(fd_.get(), 0755) != 0 || ::close(fd_.Release()) != 0) Fail("cannot write " + output_);
    if (::rename(path_.c_str(), output_.c_str()) != 0) Fail("cannot write " + output_);
    committed_ = true;
  }

 private:
  std::string output_, path_;
  Fd fd_;
  bool committed_ = false;
};

void Copy(int in, uint64_t in_off, int out, uint64_t out_off, uint64_t size, const std::string& what) {
  if (const int err = platform::CopyRange(in, in_off, out, out_off, size)) {
    errno = err;
    Fail("cannot copy " + what);
  }
}

}  // namespace

void WritePackedExecutable(const PackageDescription& desc, const std::string& stub,
                           const std::string& output) {
  Fd stub_fd(::open(stub.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!stub_fd || ::fstat(stub_fd.get(), &st) != 0) Fail("cannot read stub " + stub);
  TempOutput out(output);
  const uint64_t stub_len = StubLength(stub_fd.get(), static_cast<uint64_t>(st.st_size));
  Copy(stub_fd.get(), 0, out.fd(), 0, stub_len, stub);

  resfmt::Directory dir;
  dir.strings = StringBlocks(desc);
  uint64_t end = stub_len;
  for (const auto& d : desc.data) {
    Fd in(::open(d.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat pst {};
    if (!in || ::fstat(in.get(), &pst) != 0) Fail("cannot read " + d.path);
    // Aligned, so that file systems that share extents can clone the payload.
    const uint64_t at = resfmt::AlignUp(end, resfmt::kPayloadAlignment);
    const auto size = static_cast<uint64_t>(pst.st_size);
    Copy(in.get(), 0, out.fd(), at, size, d.path);
    dir.data.push_back({d.id, d.language, d.type, at, size});
    end = at + size;
  }
  const auto bytes = resfmt::EncodeDirectory(dir);
  const auto trailer = resfmt::EncodeTrailer({end, stub_len});
  if (!platform::WriteFully(out.fd(), bytes.data(), bytes.size(), end) ||
      !platform::WriteFully(out.fd(), trailer.data(), trailer.size(), end + bytes.size())) {
    Fail("cannot write " + output);
  }
  out.Commit();
}

void Pack(const PackOptions& options) {
  const std::string script = ReadWholeFile(options.description);
  CheckScriptEncoding(script, options.description);
  auto desc = ReadPackageDescription(
      NeedsPreprocessor(script) ? Preprocess(options.description, options.include_dirs) : script,
      options.description);
  const auto slash = options.description.find_last_of('/');
  const std::string base = slash == std::string::npos ? "." : options.description.substr(0, slash);
  ResolvePayloads(desc, base, options.include_dirs);
  WritePackedExecutable(desc, options.stub, options.output);
}

}  // namespace ttu::pack
