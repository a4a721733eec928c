#include "support/payload_format.h"

#include <algorithm>
#include <cstring>

#include "support/little_endian.h"

namespace ttu::payload {

void PutFileHeader(uint8_t* out, const char (&magic)[4], const FileHeader& h) {
  std::memcpy(out, magic, 4);
  le::Put32(out + 4, 0);
  le::Put64(out + 8, h.size);
  std::copy(h.digest.begin(), h.digest.end(), out + 16);
}

std::optional<FileHeader> GetFileHeader(std::span<const uint8_t> bytes, const char (&magic)[4]) {
  if (bytes.size() < kFileHeaderSize || std::memcmp(bytes.data(), magic, 4) != 0) return std::nullopt;
  if (le::Get32(bytes.data() + 4) != 0) return std::nullopt;
  FileHeader h;
  h.size = le::Get64(bytes.data() + 8);
  std::copy(bytes.begin() + 16, bytes.begin() + 32, h.digest.begin());
  return h;
}

}  // namespace ttu::payload
