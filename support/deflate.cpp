#include "support/deflate.h"

#include <zlib.h>

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

}  // namespace

std::vector<uint8_t> Deflate(std::span<const uint8_t> input, const Settings& settings) {
  // One call, one buffer: zlib counts in 32 bits.
  if (input.size() > UINT32_MAX / 2) throw std::invalid_argument("deflate input past 2 GiB");
  z_stream z{};
  // A negative window: raw deflate.
  const int init = deflateInit2(&z, settings.level, Z_DEFLATED, -settings.window_bits, settings.mem_level,
                                ZlibStrategy(settings.strategy));
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) throw std::invalid_argument("deflate settings that zlib refuses");
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);  // the bound leaves room for all of it
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

const char* ZlibVersion() { return zlibVersion(); }

}  // namespace ttu::deflater
