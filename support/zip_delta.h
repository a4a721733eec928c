// A ZIP delta: a new version of a ZIP archive made from the installed one
// when members are deflated. A changed member re-deflates into unrelated
// bytes, so the differences are taken between the two archives with such
// members inflated ("expanded"), and the updater deflates each again with the
// settings that made it (support/deflate.h): the archive written is the
// maker's, byte for byte.
//   header:  delta::Header, kind kZip (magic "TDZ1"): the new archive's size
//            and checksum, the installed one's, the checksum of the body;
//   body:    the plan's zstd frame size (8 bytes), the plan's frame, then a
//            plain delta (support/delta_payload.h) from the installed archive
//            expanded to the new one expanded.
// The plan says which members of the installed archive to inflate (by offset)
// and where in the expanded new archive each member to deflate again lies.
// Only changed members are expanded: an unchanged one is carried as its bytes,
// so it is neither inflated nor deflated. The installed members are inflated
// into a scratch file, read back by offset; the new archive is made in order,
// so rebuilding one of any size takes a few MiB, whatever the address space.
#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_source.h"
#include "support/deflate.h"
#include "support/delta_payload.h"
#include "support/scratch_file.h"

namespace ttu::zipdelta {

// A member of the installed archive to inflate: its deflated bytes at
// `offset` become its `size` bytes (CRC-32 `crc32`) in the expanded archive.
struct Expansion {
  uint64_t offset = 0, deflated = 0, size = 0;
  uint32_t crc32 = 0;
};

// A member of the new archive to deflate again: `size` bytes at `offset` in
// the expanded archive, which `settings` make into `deflated` bytes.
struct Redeflation {
  uint64_t offset = 0, size = 0, deflated = 0;
  deflater::Settings settings;
};

struct Plan {
  // What the packer found, for listings: the new archive's members, those
  // deflated whose bytes are new (changed or added), and of them those it
  // re-makes, with their deflated bytes.
  uint64_t members = 0, changed = 0, changed_bytes = 0, remade_bytes = 0;
  std::vector<Expansion> base;     // in the installed archive's order
  std::vector<Redeflation> file;   // in the new archive's order (file.size() members re-made)
};

// Each list holds at most this many entries: more is damage.
inline constexpr uint64_t kMaxEntries = 1u << 20;

std::vector<uint8_t> EncodePlan(const Plan& plan);

// The plan of the ZIP delta in `payload`, checked against its header and its
// inner delta's (entries in order, within their archives, sizes that add up),
// and where the inner delta lies. Raises payload::DecodeError.
struct Layout {
  delta::Header header;
  Plan plan;
  uint64_t inner_offset = 0, inner_size = 0;
};
Layout ReadLayout(const ByteSource& payload);

// Rebuilds the new archive from `base` (the header's base: the caller checks
// it first) into `sink`, inflating members into `scratch`. Raises
// payload::DecodeError when the delta does not give its archive
// (delta::ChecksumMismatch when the base's members do not inflate as planned
// or the expanded archive does not match: the base most likely changed while
// it was read); what `sink`, `scratch` or `base` raise passes through.
delta::Header Apply(const ByteSource& payload, const ByteSource& base, ScratchFile& scratch,
                    const payload::Sink& sink);

}  // namespace ttu::zipdelta
