#include "tools/pack/packer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/linux/posix/fd.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
#include "support/elf_image.h"
#include "support/grouped_payload.h"
#include "support/linux_package.h"
#include "support/resource_section.h"
#include "support/text.h"
#include "tools/pack/compressor.h"
#include "tools/pack/delta_builder.h"
#include "tools/pack/zip_redeflate.h"
#include "tools/pack/output_file.h"
#include "tools/pack/preprocessor.h"

namespace ttu::pack {
namespace {

using platform::Fd;

// A script is read whole; a few MiB is already far more than any script.
constexpr uint64_t kMaxScriptSize = 64 << 20;

std::string ReadWholeFile(const std::string& path) {
  uint64_t size = 0;
  const auto fd = OpenRegularFile(path, size);
  if (size > kMaxScriptSize) throw PackError(path + ": error: too large for a resource script");
  std::string text(size, '\0');
  if (!platform::ReadFully(fd.get(), text.data(), text.size(), 0)) FailWithErrno("cannot read " + path);
  return text;
}

}  // namespace

uint64_t PayloadAlignment(const std::string& type) {
  return type == zpayload::kResourceType || type == delta::kResourceType || type == gpayload::kPartType ||
                 type == gpayload::kGroupType
             ? 8
             : resfmt::kPayloadAlignment;
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

std::string WritePackedExecutable(const PackageDescription& desc, const std::string& stub,
                                  const std::string& output) {
  uint64_t size = 0;
  const Fd stub_fd = OpenRegularFile(stub, size);
  FileSource source(stub_fd.get(), size);
  char magic[2] = {};
  if (source.Read(0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z') {
    std::string damage;
    const auto image = pe::ReadImage(source, &damage);
    if (!image) throw PackError(stub + ": error: not a usable Windows executable (" + damage + ")");
    return WritePackedPe(desc, stub_fd.get(), *image, stub, output);
  }
  std::string damage;
  const auto image = elf::ReadImage(source, &damage);
  if (!image && !damage.empty()) throw PackError(stub + ": error: not a usable Linux program: " + damage);
  if (!image) {
    throw PackError(stub + ": error: not an updater stub: neither a Windows executable nor a Linux x86-64 program");
  }
  if (resfmt::FindLinuxPackage(source)) {
    throw PackError(stub + ": error: the stub already carries a package: pack the bare stub");
  }
  return WritePackedElf(desc, stub_fd.get(), *image, stub, output);
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
  MadePayloads made;  // deltas' and compressed payloads' files live until the output is written
  std::string note;
  if (options.redeflate_zips) note = RedeflateZips(desc, OutputFolder(options.output), made);
  if (!options.delta_from.empty()) {
    const DeltaOptions delta{options.delta_from, options.with_full,
                             options.compress_level ? options.compress_level : kDefaultLevel,
                             options.redeflate_zips};
    const std::string deltas = MakeDeltas(desc, delta, OutputFolder(options.output), made);
    note += (note.empty() || deltas.empty() ? "" : "; ") + deltas;
  }
  if (options.compress_level) CompressPayloads(desc, options.compress_level, OutputFolder(options.output), made);
  const std::string written = WritePackedExecutable(desc, options.stub, options.output);
  return note.empty() ? written : written.empty() ? note : note + "; " + written;
}

}  // namespace ttu::pack
