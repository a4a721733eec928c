// Sealing what the packer wrote: the seal (deploy/package_seal.h) of each
// language of the package, computed from the package as read back from the
// output, the way the updater will read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/payload_checksum.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

// The languages to seal: every language of the package's resources. Empty
// when a user of some language would read resources of several languages
// that no one seal can stand for (the package then goes unsealed).
std::vector<uint16_t> SealLanguages(const PackageDescription& desc);

// The seal of each of `languages`, as a user of that language reads the
// package in the file `path` (open as `fd`, `size` bytes).
std::vector<checksum::Digest> SealsOfOutput(const std::string& path, int fd, uint64_t size,
                                            const std::vector<uint16_t>& languages);

// The note for a package that cannot be sealed; "" when it is.
std::string UnsealedNote(const std::vector<uint16_t>& languages);

}  // namespace ttu::pack
