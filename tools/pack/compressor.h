// Compressed payloads, made before the package is written: each payload that
// zstd makes smaller is replaced, in the description, by an unnamed temporary
// file that holds its compressed payload (type ZSTD), or, for small files
// compressed together, its part (type ZPART) of a group (type ZGROUP, added
// after the items' payloads); the others stay stored.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/made_payloads.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

// zstd's level when --compress names none: its strongest before the levels
// whose memory grows past what decoding on a small machine should need.
inline constexpr int kDefaultLevel = 19;

// Compresses every stored payload of `desc` at `level` (1 to zstd's maximum),
// on as many threads as there are processors, into unnamed files in
// `temp_dir`, kept by `made`; a source that changes while it is read is refused.
void CompressPayloads(PackageDescription& desc, int level, const std::string& temp_dir, MadePayloads& made);

}  // namespace ttu::pack
