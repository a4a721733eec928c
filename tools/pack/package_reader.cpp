#include "tools/pack/package_reader.h"

#include "support/linux_package.h"
#include "support/pe_resources.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {
namespace {

[[noreturn]] void Damaged(const std::string& path, const std::string& why) {
  throw PackError(path + ": error: damaged: " + why);
}

std::optional<Package> FromLinuxPackage(const platform::FileSource& source, const std::string& path) {
  std::string damage;
  auto package = resfmt::FindLinuxPackage(source, &damage);
  if (!damage.empty()) Damaged(path, damage);
  if (!package) return std::nullopt;
  return Package{"Linux updater (package " + package->where + ")", std::move(package->dir)};
}

// The string blocks are read into memory, so their bytes are bounded as a
// Linux package's directory is: entries that share one large block count
// once per entry, and a crafted file cannot make them fill the memory.
std::optional<Package> FromWindowsResources(const platform::FileSource& source, const std::string& path) {
  char magic[2] = {};
  if (!source.Read(0, magic, 2) || magic[0] != 'M' || magic[1] != 'Z') return std::nullopt;
  const auto image = pe::ReadImage(source);
  if (!image) Damaged(path, "a Windows executable whose headers are damaged or cut short");
  const auto resources = pe::ReadResources(source, *image);
  if (!resources) Damaged(path, "its resource directory is damaged");
  Package p{"Windows updater, " + image->Kind(), {}};
  uint64_t string_bytes = 0;
  for (const auto& r : *resources) {
    const uint64_t at = *image->FileOffset(r.rva, r.size);
    if (!r.type.Named() && r.type.id == pe::kStringTableType && !r.name.Named()) {
      if ((string_bytes += r.size) > resfmt::kMaxDirectorySize) {
        Damaged(path, "its string tables are larger than any package's");
      }
      std::vector<uint8_t> block(r.size);
      if (!source.Read(at, block.data(), block.size()) || !resfmt::IsValidStringBlock(block)) {
        Damaged(path, "string block " + std::to_string(r.name.id) + " is damaged");
      }
      p.dir.strings.push_back({r.name.id, r.language, std::move(block)});
    } else if (r.type.Named() && !r.name.Named()) {
      p.dir.data.push_back({r.name.id, r.language, r.type.ToString(), at, r.size});
    }
  }
  return p;
}

}  // namespace

std::optional<Package> ReadPackage(const platform::FileSource& source, const std::string& path) {
  if (auto p = FromWindowsResources(source, path)) return p;
  return FromLinuxPackage(source, path);
}

}  // namespace ttu::pack
