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

// Where to look for the new file's bytes: those before `new_end` (and after
// the previous zone's) in the old file's [old_from, old_to). A zone's index
// is 4 bytes per byte of its old range and only one is held at a time, so a
// caller that knows which parts go together (a ZIP archive's members) diffs
// files larger than one index of the whole would allow.
struct Zone {
  uint64_t new_end, old_from, old_to;
};

// No zones: the whole new file is looked for in the whole old one.
Differences Diff(std::span<const uint8_t> old_file, std::span<const uint8_t> new_file,
                 std::span<const Zone> zones = {});

}  // namespace ttu::pack
