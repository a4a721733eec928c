// What compressed and delta payloads share: the 32 bytes they start with,
// the error that says one cannot give its file, and where the file made goes.
//   magic (4 bytes), 4 bytes reserved (0), the file's size (8 bytes,
//   little-endian), the file's own XXH3-128 (16 bytes)
// The packer writes them, the updaters and --list read them, through this.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>

#include "support/payload_checksum.h"

namespace ttu::payload {

inline constexpr std::size_t kFileHeaderSize = 32;

struct FileHeader {
  uint64_t size = 0;          // of the file
  checksum::Digest digest{};  // of the file
};

// Written into `out` (32 bytes); read from `bytes` (at least 32): nothing
// unless they start with `magic` and the reserved bytes are 0.
void PutFileHeader(uint8_t* out, const char (&magic)[4], const FileHeader& h);
std::optional<FileHeader> GetFileHeader(std::span<const uint8_t> bytes, const char (&magic)[4]);

// Why a payload cannot give its file.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the decoded bytes go, in order, as they are made.
using Sink = std::function<void(const uint8_t* bytes, std::size_t n)>;

}  // namespace ttu::payload
