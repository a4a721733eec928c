// The resource readers on an arbitrary (corrupted, truncated) executable held
// in memory: the Linux updater's package (its ELF section, or appended after
// the program), and a Windows executable's headers and resource directory,
// whose resources are laid out again by the writer and must read back the
// same, byte for byte. scripts/fuzz runs it under a memory limit, so that a
// small input that makes a reader take much memory is found too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "support/linux_package.h"
#include "support/pe_resources.h"
#include "support/resource_section.h"

namespace {

void LinuxPackage(std::span<const uint8_t> file) {
  using namespace ttu::resfmt;
  const auto package = FindLinuxPackage(ttu::MemorySource(file));
  if (!package) return;
  const ResourceTable table(package->dir, 0x0410);
  for (uint32_t id : {0u, 1u, 100u, 101u, 102u, 65535u, 65536u}) {
    table.String(id);
    if (const auto* d = table.Data(id, "CUSTOM")) {
      if (d->offset > file.size() || d->size > file.size() - d->offset) __builtin_trap();  // inside the file
    }
  }
}

void WindowsResources(std::span<const uint8_t> file) {
  using namespace ttu::pe;
  const MemorySource source(file);
  const auto image = ReadImage(source);
  if (!image) return;
  const auto resources = ReadResources(source, *image);
  if (!resources || resources->size() > 256) return;
  std::vector<NewResource> again;
  for (const auto& r : *resources) {
    const auto at = image->FileOffset(r.rva, r.size);
    if (!at || *at + r.size > file.size()) __builtin_trap();  // every resource lies inside the file
    again.push_back({r.type, r.name, r.language, r.code_page,
                     std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(*at),
                                          file.begin() + static_cast<std::ptrdiff_t>(*at + r.size)),
                     false, 0});
  }
  // Written out as a section of its own and read back: the same resources, in
  // the directory's order (a crafted directory may hold them in any order).
  std::stable_sort(again.begin(), again.end(), InDirectoryOrder);
  Image alone;
  alone.file_size = 1 << 30;
  const auto layout = LayOutResources(again, 0x1000, 0x400, 0x10000);
  std::vector<uint8_t> bytes(0x400);
  bytes.insert(bytes.end(), layout.head.begin(), layout.head.end());
  alone.sections.push_back({{}, static_cast<uint32_t>(layout.head.size()), 0x1000,
                            static_cast<uint32_t>(layout.head.size()), 0x400, 0});
  alone.directories.resize(3);
  alone.directories[kResourceDirectory] = {0x1000, static_cast<uint32_t>(layout.head.size())};
  const MemorySource written(bytes);
  const auto back = ReadResources(written, alone);
  if (!back || back->size() != again.size()) __builtin_trap();
  for (std::size_t k = 0; k < again.size(); ++k) {
    const auto& b = (*back)[k];
    const auto& a = again[k];
    if (!(b.type == a.type) || !(b.name == a.name) || b.language != a.language || b.code_page != a.code_page ||
        b.size != a.bytes.size() ||
        (b.size && std::memcmp(bytes.data() + 0x400 + (b.rva - 0x1000), a.bytes.data(), b.size) != 0)) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  LinuxPackage(file);
  WindowsResources(file);
  return 0;
}
