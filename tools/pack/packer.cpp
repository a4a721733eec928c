#include "tools/pack/packer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/linux/fd.h"
#include "support/resource_section.h"
#include "support/text.h"
#include "tools/pack/output_file.h"
#include "tools/pack/preprocessor.h"

namespace ttu::pack {
namespace {

using platform::Fd;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) FailWithErrno("cannot read " + path);
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

}  // namespace

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

// A stub without the executable-resource mechanism (an ELF program): the
// package goes into a resource section appended to it.
void WritePackedElf(const PackageDescription& desc, int stub_fd, uint64_t stub_size, const std::string& stub,
                    const std::string& output) {
  TempOutput out(output);
  const uint64_t stub_len = StubLength(stub_fd, stub_size);
  CopyOrFail(stub_fd, 0, out.fd(), 0, stub_len, stub);

  resfmt::Directory dir;
  dir.strings = StringBlocks(desc);
  uint64_t end = stub_len;
  for (const auto& d : desc.data) {
    Fd in(::open(d.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat pst {};
    if (!in || ::fstat(in.get(), &pst) != 0) FailWithErrno("cannot read " + d.path);
    // Aligned, so that file systems that share extents can clone the payload.
    const uint64_t at = resfmt::AlignUp(end, resfmt::kPayloadAlignment);
    const auto size = static_cast<uint64_t>(pst.st_size);
    CopyOrFail(in.get(), 0, out.fd(), at, size, d.path);
    dir.data.push_back({d.id, d.language, d.type, at, size});
    end = at + size;
  }
  const auto bytes = resfmt::EncodeDirectory(dir);
  const auto trailer = resfmt::EncodeTrailer({end, stub_len});
  out.Write(bytes.data(), bytes.size(), end);
  out.Write(trailer.data(), trailer.size(), end + bytes.size());
  out.Commit();
}

std::string WritePackedExecutable(const PackageDescription& desc, const std::string& stub,
                                  const std::string& output) {
  Fd stub_fd(::open(stub.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!stub_fd || ::fstat(stub_fd.get(), &st) != 0) FailWithErrno("cannot read stub " + stub);
  const auto size = static_cast<uint64_t>(st.st_size);
  FileSource source(stub_fd.get(), size);
  char magic[2] = {};
  if (source.Read(0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z') {
    const auto image = pe::ReadImage(source);
    if (!image) throw PackError(stub + ": error: not a usable Windows executable (its PE headers are damaged)");
    return WritePackedPe(desc, stub_fd.get(), *image, stub, output);
  }
  WritePackedElf(desc, stub_fd.get(), size, stub, output);
  return "";
}

std::string Pack(const PackOptions& options) {
  const std::string script = ReadWholeFile(options.description);
  CheckScriptEncoding(script, options.description);
  auto desc = ReadPackageDescription(
      NeedsPreprocessor(script) ? Preprocess(options.description, options.include_dirs) : script,
      options.description);
  const auto slash = options.description.find_last_of('/');
  const std::string base = slash == std::string::npos ? "." : options.description.substr(0, slash);
  ResolvePayloads(desc, base, options.include_dirs);
  return WritePackedExecutable(desc, options.stub, options.output);
}

}  // namespace ttu::pack
