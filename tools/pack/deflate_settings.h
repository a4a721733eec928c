// Which settings of this program's zlib re-make a deflated ZIP member byte
// for byte: what lets a delta carry the member inflated and the updater
// deflate it again. Most archives are made by zlib at one of a few settings;
// those are tried first, each guess stopped at its first differing byte, and
// the search gives up after a bounded amount of work.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "support/deflate.h"

namespace ttu::pack {

// The level a member's general-purpose flags claim its maker used: 9 for
// maximum, 2 fast, 1 super fast, 6 otherwise.
int ClaimedLevel(uint16_t zip_flags);

// Settings with which Deflate(inflated) == deflated; nothing when no guess
// within the bound makes those bytes (another deflater made them). `zip_flags`
// (the member's general-purpose flags) says which level its maker claims.
std::optional<deflater::Settings> FindDeflateSettings(std::span<const uint8_t> deflated,
                                                      std::span<const uint8_t> inflated, uint16_t zip_flags = 0);

}  // namespace ttu::pack
