// CRC-32 (IEEE 802.3, as ZIP uses it), slicing by eight.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ttu {

// Continues `crc` (0 to start) over `n` bytes.
uint32_t Crc32(uint32_t crc, const void* data, std::size_t n);

}  // namespace ttu
