// SHA-256 (FIPS 180-4), fed piece by piece, so that a large file is hashed
// without being held in memory.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace ttu {

class Sha256 {
 public:
  Sha256();
  void Add(std::span<const uint8_t> bytes);
  std::array<uint8_t, 32> Finish();
  static std::string Hex(std::span<const uint8_t> digest);

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t length_ = 0;
};

}  // namespace ttu
