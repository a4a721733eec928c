// Turning a package description into an updater executable: the stub with
// the package in it.
#pragma once

#include <string>
#include <vector>

#include "support/elf_image.h"
#include "support/pe_image.h"
#include "support/resource_section.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

struct PackOptions {
  std::string stub;
  std::vector<std::string> include_dirs;
  std::string description;  // the .rc file
  std::string output;
  int compress_level = 0;  // 0: payloads stored whole
  std::string delta_from;  // the previous version's folder; "": no deltas
  bool with_full = false;  // payloads kept whole beside their deltas
  // ZIP archives whose members another deflater made are shipped deflated by
  // this packer's zlib (and their previous versions taken as shipped so).
  bool redeflate_zips = false;
};

// Reads the description, finds the payloads and writes the output through a
// temporary file, so that a failure leaves no output. Throws PackError; returns
// a note for the user, or "".
std::string Pack(const PackOptions& options);

// The same, for a description already read and resolved. A Windows stub gets
// the package in its resource directory; any other stub (an ELF program) gets
// a resource section appended.
std::string WritePackedExecutable(const PackageDescription& desc, const std::string& stub,
                                  const std::string& output);

// Where a payload of `type` starts in the file: a stored one at a 64 KiB
// boundary, from which the kernel copies (or shares) it fastest; a compressed
// one or a delta, which is decoded, not copied, at the next 8 bytes (64 KiB each would
// cost a package of many small files more than compression saves).
uint64_t PayloadAlignment(const std::string& type);

// The package's strings as string-table blocks, by language and block number.
std::vector<resfmt::StringBlock> StringBlocks(const PackageDescription& desc);

// Packs into a Linux program; see elf_packer.cpp. Returns a note, or "".
std::string WritePackedElf(const PackageDescription& desc, int stub_fd, const elf::Image& image, const std::string& stub,
                    const std::string& output);

// Packs into a Windows executable; see pe_packer.cpp.
std::string WritePackedPe(const PackageDescription& desc, int stub_fd, const pe::Image& image,
                          const std::string& stub, const std::string& output);

}  // namespace ttu::pack
