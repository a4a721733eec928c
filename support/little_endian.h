// Little-endian numbers in byte buffers, and alignment: what every file
// format here (the Linux resource section, PE headers, resource directories)
// reads and writes with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ttu::le {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

inline void Put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
inline void Put32(uint8_t* p, uint32_t v) { Put16(p, static_cast<uint16_t>(v)), Put16(p + 2, static_cast<uint16_t>(v >> 16)); }
inline void Put64(uint8_t* p, uint64_t v) { Put32(p, static_cast<uint32_t>(v)), Put32(p + 4, static_cast<uint32_t>(v >> 32)); }
inline void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) { Put16(b.data() + at, v); }
inline void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) { Put32(b.data() + at, v); }

// Appending writer.
inline void Append16(std::vector<uint8_t>& b, uint16_t v) { b.resize(b.size() + 2), Put16(b.data() + b.size() - 2, v); }
inline void Append32(std::vector<uint8_t>& b, uint32_t v) { b.resize(b.size() + 4), Put32(b.data() + b.size() - 4, v); }
inline void Append64(std::vector<uint8_t>& b, uint64_t v) { b.resize(b.size() + 8), Put64(b.data() + b.size() - 8, v); }

// Reads numbers and byte runs from a buffer in order; a read past its end
// gives zeros and an empty run, and clears ok().
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint16_t U16() { return Has(2) ? Get16(Advance(2)) : 0; }
  uint32_t U32() { return Has(4) ? Get32(Advance(4)) : 0; }
  uint64_t U64() { return Has(8) ? Get64(Advance(8)) : 0; }
  std::span<const uint8_t> Bytes(uint64_t n) { return Has(n) ? std::span(Advance(n), n) : std::span<const uint8_t>(); }
  std::size_t Left() const { return bytes_.size() - pos_; }
  bool ok() const { return ok_; }

 private:
  bool Has(uint64_t n) {
    if (!ok_ || n > Left()) ok_ = false;
    return ok_;
  }
  const uint8_t* Advance(uint64_t n) {
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += static_cast<std::size_t>(n);
    return p;
  }
  std::span<const uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// `v` rounded up to a multiple of `a` (a power of two or not); no overflow
// check: callers keep v well below 2^63.
constexpr uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

}  // namespace ttu::le
