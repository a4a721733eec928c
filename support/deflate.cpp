#include "support/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace ttu::deflater {
namespace {

int ZlibStrategy(Strategy s) {
  switch (s) {
    case Strategy::kFiltered: return Z_FILTERED;
    case Strategy::kHuffmanOnly: return Z_HUFFMAN_ONLY;
    case Strategy::kRle: return Z_RLE;
    case Strategy::kFixed: return Z_FIXED;
    case Strategy::kDefault: break;
  }
  return Z_DEFAULT_STRATEGY;
}

// A deflate stream over all of `input` at once (zlib counts in 32 bits).
void Start(z_stream& z, std::span<const uint8_t> input, const Settings& settings) {
  if (input.size() > UINT32_MAX / 2) throw std::invalid_argument("deflate input past 2 GiB");
  // A negative window: raw deflate.
  const int init = deflateInit2(&z, settings.level, Z_DEFLATED, -settings.window_bits, settings.mem_level,
                                ZlibStrategy(settings.strategy));
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) throw std::invalid_argument("deflate settings that zlib refuses");
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
}

}  // namespace

std::vector<uint8_t> Deflate(std::span<const uint8_t> input, const Settings& settings) {
  z_stream z{};
  Start(z, input, settings);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);  // the bound leaves room for all of it
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

bool DeflatesTo(std::span<const uint8_t> input, const Settings& settings, std::span<const uint8_t> expected,
                uint64_t* consumed) {
  if (settings.level < 1) return false;
  z_stream z{};
  Start(z, input, settings);
  uint8_t piece[16 << 10];
  std::size_t at = 0;
  bool same = true;
  for (int r = Z_OK; r == Z_OK && same;) {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    r = deflate(&z, Z_FINISH);
    const std::size_t n = sizeof piece - z.avail_out;
    same = (r == Z_OK || r == Z_STREAM_END) && n <= expected.size() - at &&
           std::equal(piece, piece + n, expected.begin() + static_cast<std::ptrdiff_t>(at));
    at += n;
    if (r == Z_STREAM_END) same = same && at == expected.size();
  }
  if (consumed) *consumed += z.total_in;
  deflateEnd(&z);
  return same;
}

std::optional<std::vector<uint8_t>> Inflate(std::span<const uint8_t> deflated, uint64_t size) {
  if (size > UINT32_MAX / 2 || deflated.size() > UINT32_MAX / 2) return std::nullopt;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::bad_alloc();
  // One byte more than asked for: a stream that makes more is refused, not cut.
  std::vector<uint8_t> out(static_cast<std::size_t>(size) + 1);
  z.next_in = const_cast<Bytef*>(deflated.data());
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  const bool whole = r == Z_STREAM_END && z.total_out == size && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole) return std::nullopt;
  out.pop_back();
  return out;
}

const char* ZlibVersion() { return zlibVersion(); }

}  // namespace ttu::deflater
