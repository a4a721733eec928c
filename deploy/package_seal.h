// The seal of a package: one checksum over everything a press depends on
// besides the payloads' own bytes, which their recorded checksums cover: the
// item count, every item's descriptor, whether it has a payload and of what
// size, and the payload's recorded checksum. tessiro-pack records it (type
// TTU_SEAL, identifier 100, one per language of the package); a press checks
// it before anything else, so that a damaged count or descriptor never
// decides what is written where. An updater packed without a seal deploys as
// it always has.
#pragma once

#include "platform/resources.h"
#include "support/payload_checksum.h"

namespace ttu::deploy {

inline constexpr const char* kSealType = "TTU_SEAL";
inline constexpr uint32_t kSealId = 100;

// The seal of the package as `res` serves it (as its user reads it).
checksum::Digest SealOf(platform::Resources& res);

// Raises RunError::PackageDamaged when the platform found the package
// damaged, or when the package is sealed and the seal does not match.
void CheckSeal(platform::Resources& res);

}  // namespace ttu::deploy
