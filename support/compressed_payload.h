// A compressed payload: the resource that holds a file compressed with zstd,
// which the updater decodes straight into the file it writes. Its bytes:
//   "TZS1", 4 bytes reserved (0), the file's size (8 bytes, little-endian),
//   the file's own XXH3-128 (16 bytes), then one zstd frame of the file.
// The recorded checksum of the resource (as for any payload) covers all of
// it, so damage is found before anything is written; the file's own checksum
// is checked again on what the decoder made, before the file replaces the
// old one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "support/byte_source.h"
#include "support/payload_checksum.h"

namespace ttu::zpayload {

inline constexpr const char* kResourceType = "ZSTD";
inline constexpr std::size_t kHeaderSize = 32;
// The largest window a frame may ask for (32 MiB): what decoding may hold in
// memory at most, however large the file. (A larger one gains nothing on
// programs: a 26 MB DLL compresses to the same bytes with 32 and 128 MiB.)
inline constexpr int kMaxWindowLog = 25;
// No zstd block makes more than 128 KiB from its 4 bytes at least: a header
// that says more than this many bytes per byte of frame lies.
inline constexpr uint64_t kMaxRatio = 32768;

struct Header {
  uint64_t size = 0;  // of the file
  checksum::Digest digest{};  // of the file
};

std::vector<uint8_t> EncodeHeader(const Header& h);
// Nothing when the bytes do not start with a header.
std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes);

// The first 32 bytes, which a delta's header starts with too (its own magic):
// written into `out`; read from `bytes` (at least 32), nothing unless they
// start with `magic` and the reserved bytes are 0.
void PutFileHeader(uint8_t* out, const char (&magic)[4], const Header& h);
std::optional<Header> GetFileHeader(std::span<const uint8_t> bytes, const char (&magic)[4]);

// Why a compressed payload cannot give its file.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the decoded bytes go, in order, as they are made.
using Sink = std::function<void(const uint8_t* bytes, std::size_t n)>;

// Decodes the payload in `source` into `sink`, in pieces, with at most one
// frame window (and a few hundred KiB) in memory. Raises DecodeError when the
// header is not one or says more than its frame can make, the frame is
// damaged or asks for too large a window, or
// the file made is not exactly the header's size and checksum; what `sink`
// raises passes through. Returns the header.
Header Decode(const ByteSource& source, const Sink& sink);

}  // namespace ttu::zpayload
