// The differences between two versions of a file, as a delta payload holds
// them (see support/delta_payload.h): found through a suffix array of the old
// version (libdivsufsort), matches extended where most bytes agree, so that a
// program whose code moved by a few bytes differs mostly by small numbers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ttu::pack {

struct Differences {
  std::vector<uint8_t> control, runs, values, extra;  // the four streams, uncompressed
};

Differences Diff(std::span<const uint8_t> old_file, std::span<const uint8_t> new_file);

}  // namespace ttu::pack
