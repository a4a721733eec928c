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

namespace {

// Output is handed on in pieces of this size.
constexpr std::size_t kPiece = 64 << 10;

}  // namespace

struct StreamDeflater::State {
  z_stream z{};
  std::vector<uint8_t> piece = std::vector<uint8_t>(kPiece);

  // Runs deflate over what it was given until it needs more input (or, with
  // Z_FINISH, until the stream ends), handing on what it makes.
  void Run(int flush, const Output& out) {
    for (;;) {
      z.next_out = piece.data();
      z.avail_out = static_cast<uInt>(piece.size());
      const int r = deflate(&z, flush);
      if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) throw std::runtime_error("deflate failed");
      const std::size_t made = piece.size() - z.avail_out;
      if (made) out(piece.data(), made);
      if (r == Z_STREAM_END || (flush == Z_NO_FLUSH && z.avail_in == 0 && z.avail_out != 0)) return;
      if (r == Z_BUF_ERROR && made == 0) throw std::runtime_error("deflate made no progress");
    }
  }
};

StreamDeflater::StreamDeflater(const Settings& settings) : s_(std::make_unique<State>()) {
  Start(s_->z, {}, settings);
}

StreamDeflater::~StreamDeflater() { deflateEnd(&s_->z); }

void StreamDeflater::Add(const uint8_t* input, std::size_t n, const Output& out) {
  while (n) {  // zlib counts in 32 bits
    const auto k = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    s_->z.next_in = const_cast<Bytef*>(input);
    s_->z.avail_in = k;
    s_->Run(Z_NO_FLUSH, out);
    input += k, n -= k;
  }
}

uint64_t StreamDeflater::Finish(const Output& out) {
  s_->z.next_in = nullptr;
  s_->z.avail_in = 0;
  s_->Run(Z_FINISH, out);
  return s_->z.total_out;
}

struct StreamInflater::State {
  z_stream z{};
  std::vector<uint8_t> piece = std::vector<uint8_t>(kPiece);
  bool ended = false;
};

StreamInflater::StreamInflater() : s_(std::make_unique<State>()) {
  if (inflateInit2(&s_->z, -15) != Z_OK) throw std::bad_alloc();
}

StreamInflater::~StreamInflater() { inflateEnd(&s_->z); }

bool StreamInflater::Add(const uint8_t* input, std::size_t n, const Output& out) {
  State& s = *s_;
  while (n) {
    if (s.ended) return false;  // bytes after the stream's end
    const auto k = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    s.z.next_in = const_cast<Bytef*>(input);
    s.z.avail_in = k;
    for (;;) {
      s.z.next_out = s.piece.data();
      s.z.avail_out = static_cast<uInt>(s.piece.size());
      const int r = inflate(&s.z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return false;
      const std::size_t made = s.piece.size() - s.z.avail_out;
      if (made) out(s.piece.data(), made);
      if (r == Z_STREAM_END) {
        s.ended = true;
        if (s.z.avail_in) return false;
        break;
      }
      if (s.z.avail_in == 0 && s.z.avail_out != 0) break;  // wants the next piece
      if (r == Z_BUF_ERROR && made == 0) return false;
    }
    input += k, n -= k;
  }
  return true;
}

bool StreamInflater::Ended() const { return s_->ended; }

uint32_t Crc32(uint32_t crc, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const auto k = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, bytes.data(), k));
    bytes = bytes.subspan(k);
  }
  return crc;
}

const char* ZlibVersion() { return zlibVersion(); }

}  // namespace ttu::deflater
