// A compressed payload: the resource that holds a file compressed with zstd,
// which the updater decodes straight into the file it writes. Its bytes: the
// header every payload made from a file starts with (support/payload_format.h)
// with the magic "TZS1", then one zstd frame of the file.
// The recorded checksum of the resource (as for any payload) covers all of
// it, so damage is found before anything is written; the file's own checksum
// is checked again on what the decoder made, before the file replaces the
// old one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support/byte_source.h"
#include "support/payload_format.h"

namespace ttu::zpayload {

inline constexpr const char* kResourceType = "ZSTD";
inline constexpr std::size_t kHeaderSize = payload::kFileHeaderSize;
// The largest window a frame may ask for (32 MiB): what decoding may hold in
// memory at most, however large the file. (A larger one gains nothing on
// programs: a 26 MB DLL compresses to the same bytes with 32 and 128 MiB.)
inline constexpr int kMaxWindowLog = 25;
// No zstd block makes more than 128 KiB from its 4 bytes at least: a header
// that says more than this many bytes per byte of frame lies.
inline constexpr uint64_t kMaxRatio = 32768;

using Header = payload::FileHeader;

std::vector<uint8_t> EncodeHeader(const Header& h);
// Nothing when the bytes do not start with a header.
std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes);

// Decodes the payload in `source` into `sink`, in pieces, with at most one
// frame window (and a few hundred KiB) in memory. Raises payload::DecodeError when the
// header is not one or says more than its frame can make, the frame is
// damaged or asks for too large a window, or
// the file made is not exactly the header's size and checksum; what `sink`
// raises passes through. Returns the header.
Header Decode(const ByteSource& source, const payload::Sink& sink);

}  // namespace ttu::zpayload
