// Grouped payloads: small files compressed together, one zstd frame for many,
// so that what they have in common (a program's libraries share most of their
// code's idioms and tables) is compressed once. Two resources make them:
//   a group ("ZGROUP" 1, 2, ...): the header every payload made from a file
//   starts with (support/payload_format.h), magic "TZG1", for the files one
//   after another, then one zstd frame of them;
//   a part ("ZPART" 101 + j), the item's payload: the same header, magic
//   "TZP1", for the item's own file, then the group's identifier (4 bytes,
//   little-endian), 4 bytes reserved (0), where the file starts in the
//   group's content (8 bytes) and the XXH3-128 of the group resource (16).
// The package records the part's checksum as it does any payload's, and the
// part holds the group's: damage to either is found before anything is
// written. Each file made is checked against its own size and checksum.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "support/byte_source.h"
#include "support/payload_format.h"

namespace ttu::gpayload {

inline constexpr const char* kPartType = "ZPART";
inline constexpr const char* kGroupType = "ZGROUP";
inline constexpr std::size_t kPartSize = 64;
inline constexpr std::size_t kGroupHeaderSize = payload::kFileHeaderSize;
// A group's frame asks for no larger window than a compressed payload's.
inline constexpr int kMaxWindowLog = 25;

struct Part {
  payload::FileHeader file;  // the item's file
  uint32_t group = 0;
  uint64_t offset = 0;  // of the file in the group's content
  checksum::Digest group_digest{};  // of the whole group resource
};

std::vector<uint8_t> EncodePart(const Part& p);
// Nothing unless the bytes are a part (exactly kPartSize of them).
std::optional<Part> DecodePart(std::span<const uint8_t> bytes);

std::vector<uint8_t> EncodeGroupHeader(const payload::FileHeader& h);
std::optional<payload::FileHeader> DecodeGroupHeader(std::span<const uint8_t> bytes);

// Hands parts' files to their sinks, decoding their groups: a part that lies
// after the last one in the same group goes on from where that one ended, so
// that a pass over a group's files decodes it once; any other starts the
// group's frame again. Holds one frame's window (at most 32 MiB; a group's
// content is smaller) and a piece of 1 MiB.
class GroupReader {
 public:
  GroupReader();
  ~GroupReader();
  GroupReader(const GroupReader&) = delete;
  GroupReader& operator=(const GroupReader&) = delete;

  // The part's file, from `group` (the resource that `part.group` names,
  // taken when the frame is started again). Raises payload::DecodeError when
  // the group is not one, says more than its frame can make, does not hold
  // the part, or the file made is not the part's size and checksum; what
  // `sink` raises passes through. Either way a later part starts afresh.
  void Decode(const Part& part, std::unique_ptr<ByteSource> group, const payload::Sink& sink);
  // Lets go of the frame and its window: the next part starts afresh.
  void Close();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace ttu::gpayload
