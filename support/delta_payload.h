// A delta payload: a file rebuilt from the installed version of it (the base)
// and the differences to it, in four zstd streams:
//   control: records of three numbers (8 bytes each, little-endian): bytes to
//            add to the base, bytes to take as they are, and how far to move
//            in the base after them (signed);
//   runs:    the bytes to add (mod 256) to the base's, as many as all records
//            add, are nearly all zero where the file only moved: this stream
//            holds pairs of LEB128 numbers, so many zeros then so many bytes
//            of the values stream (zeros after the last pair);
//   values:  those bytes (zstd compresses the two far better than the zeros);
//   extra:   the bytes taken as they are.
// The header: the one every payload made from a file starts with
// (support/payload_format.h) with the magic "TDL1", the base's size and XXH3-128, the four streams' sizes (8 bytes each), and the
// XXH3-128 of the streams (which a package that also carries the file whole
// has no other record of). A file that did not change is a header alone: no
// streams, and the file is its base.
// The base is read by offset, a piece at a time, and the file made in order,
// so rebuilding a file of any size takes a few MiB, whatever the address
// space; the file's checksum is checked before it replaces the base.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "support/byte_source.h"
#include "support/payload_format.h"

namespace ttu::delta {

inline constexpr const char* kResourceType = "DELTA";
inline constexpr std::size_t kHeaderSize = 4 + 4 + 8 + 16 + 8 + 16 + 4 * 8 + 16;
// A stream's window: the four streams are decoded side by side, in little
// memory (and the streams' repeats are near each other: 1 MiB would save 1 %).
inline constexpr int kMaxWindowLog = 17;

// A plain delta's streams make the file; a ZIP delta's (magic "TDZ1",
// support/zip_delta.h) make the archive with members inflated, then deflated
// again as its plan says. Both have this header; a ZIP delta's four stream
// sizes are 0 and its body is its own.
enum class Kind { kPlain, kZip };

struct Header {
  Kind kind = Kind::kPlain;
  uint64_t size = 0;
  checksum::Digest digest{};
  uint64_t base_size = 0;
  checksum::Digest base_digest{};
  uint64_t control = 0, runs = 0, values = 0, extra = 0;  // the streams' sizes
  checksum::Digest body_digest{};               // of the streams

  // The file is its base: nothing to write where the base is installed.
  bool Unchanged() const {
    return kind == Kind::kPlain && control == 0 && runs == 0 && values == 0 && extra == 0 && size == base_size && digest == base_digest;
  }
};

std::vector<uint8_t> EncodeHeader(const Header& h);
std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes);
// The header at the start of `source`, or nothing when it is not a delta's.
std::optional<Header> ReadHeader(const ByteSource& source);
// The checksum of the streams (all that follows the header) of the delta in
// `payload`, to match the header's body_digest; nothing when it cannot be read.
std::optional<checksum::Digest> BodyDigest(const ByteSource& payload);

// One record of the control stream.
struct Record {
  uint64_t add = 0;   // bytes of the base, each with the next byte to add
  uint64_t copy = 0;  // bytes of the extra stream, as they are
  int64_t seek = 0;   // then how far to move in the base
};
inline constexpr std::size_t kRecordSize = 24;
void AppendRecord(std::vector<uint8_t>& control, const Record& r);
Record GetRecord(const uint8_t* bytes);

// The runs stream: for each run of bytes to add that are not all zero, how
// many zeros come first and how many bytes of the values stream follow, as
// two LEB128 numbers (7 bits a byte, the lowest first; the high bit says
// more follow).
void AppendRun(std::vector<uint8_t>& runs, uint64_t zeros, uint64_t values);
// Adds the `index`th byte of a LEB128 number (index 0, 1, ...) to `number`:
// true when it was the last. Raises payload::DecodeError for a number past
// 64 bits.
bool AddNumberByte(uint64_t& number, int index, uint8_t byte);

// The file made does not match its checksum: all else in the delta held, so
// the base most likely changed while it was read.
class ChecksumMismatch : public payload::DecodeError {
 public:
  ChecksumMismatch() : DecodeError("the file it makes does not match its checksum") {}
};

// Rebuilds the file from `base` (which must be the header's base: the caller
// checks it first) and the delta in `source`, into `sink`. Raises
// payload::DecodeError when the delta is not one or does not give exactly
// its file (ChecksumMismatch when only the checksum differs); what `sink` or `base` raise passes through. Returns the header.
Header Apply(const ByteSource& source, const ByteSource& base, const payload::Sink& sink);

}  // namespace ttu::delta
