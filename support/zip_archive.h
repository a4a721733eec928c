// ZIP archives (ZIP64 included) as the packer and the updaters read them: the
// central directory and each member's local header, every count, offset and
// size checked against the file, so that a damaged or crafted archive gives
// nothing, with the reason, instead of a crash, a read past its end or work
// out of proportion to its size. Members are not inflated here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/byte_source.h"

namespace ttu::zip {

inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kDeflated = 8;
// Deflate makes at most 258 bytes from a code of a few bits: no deflated
// member holds more than about 1032 bytes for each of its own. One that says
// it does is refused (a zip bomb or a lie).
inline constexpr uint64_t kMaxDeflateRatio = 1032;
// A directory entry takes at least this many bytes, a local header this many:
// an end record that counts more entries than its directory can hold lies.
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kLocalHeaderSize = 30;

struct Member {
  std::string name;  // as the archive holds it (bytes, not converted)
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t crc32 = 0;
  uint64_t compressed_size = 0;
  uint64_t size = 0;           // inflated
  uint64_t header_offset = 0;  // the local header's
  uint64_t data_offset = 0;    // where the member's (compressed) bytes start
  uint64_t end = 0;            // where they end, with the data descriptor that follows them if any

  bool Encrypted() const { return flags & 1; }
};

struct Archive {
  std::vector<Member> members;  // in the central directory's order
  uint64_t directory_offset = 0;  // the central directory, then the end records, to the file's end
};

// A member's (compressed) bytes in its archive held in memory, as read.
inline std::span<const uint8_t> MemberData(std::span<const uint8_t> archive, const Member& m) {
  return archive.subspan(static_cast<std::size_t>(m.data_offset), static_cast<std::size_t>(m.compressed_size));
}

// The archive in `source`; nothing when it is no ZIP archive or does not read
// whole: a directory or an end record that lies about a count, an offset or a
// size, a member outside the file or over another, a local header that does
// not match its directory entry, an archive on several disks (then `damage`,
// when given, says why).
std::optional<Archive> ReadArchive(const ByteSource& source, std::string* damage = nullptr);

}  // namespace ttu::zip
