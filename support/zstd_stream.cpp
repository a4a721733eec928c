#include "support/zstd_stream.h"

#include <zstd.h>

#include <algorithm>
#include <new>
#include <string>

#include "support/payload_format.h"

namespace ttu::zstream {
namespace {

// The compressed bytes are read 64 KiB at a time (a delta reads four streams side by side).
constexpr std::size_t kPiece = 64 << 10;

[[noreturn]] void Fail(const std::string& why) { throw payload::DecodeError(why); }

}  // namespace

struct FrameReader::State {
  State(const ByteSource& s, uint64_t from, uint64_t to) : source(s), next(from), end(to) {}
  const ByteSource& source;
  uint64_t next, end;  // the part of the range not read yet
  ZSTD_DStream* d = nullptr;
  std::vector<uint8_t> in;
  ZSTD_inBuffer ib{nullptr, 0, 0};
  std::size_t last = 1;  // the decoder's last answer: 0 at the frame's end

  bool Refill() {
    if (next == end) return false;
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(in.size(), end - next));
    if (!source.Read(next, in.data(), n)) Fail("it cannot be read");
    next += n;
    ib = {in.data(), n, 0};
    return true;
  }
};

FrameReader::FrameReader(const ByteSource& source, uint64_t offset, uint64_t size, int max_window_log)
    : s_(std::make_unique<State>(source, offset, offset + size)) {
  s_->d = ZSTD_createDStream();
  if (!s_->d) throw std::bad_alloc();
  ZSTD_DCtx_setParameter(s_->d, ZSTD_d_windowLogMax, max_window_log);
  s_->in.resize(static_cast<std::size_t>(std::min<uint64_t>(kPiece, size)));
}

FrameReader::~FrameReader() { ZSTD_freeDStream(s_->d); }

std::size_t FrameReader::Read(uint8_t* out, std::size_t n) {
  State& s = *s_;
  ZSTD_outBuffer ob{out, n, 0};
  while (ob.pos < ob.size) {
    if (s.last == 0) {  // the frame has ended: nothing may follow it
      if (s.ib.pos < s.ib.size || s.next < s.end) Fail("it has bytes after its frame");
      break;
    }
    const bool more = s.ib.pos < s.ib.size || s.Refill();
    const std::size_t before = ob.pos;
    s.last = ZSTD_decompressStream(s.d, &ob, &s.ib);
    if (ZSTD_isError(s.last)) Fail(std::string("its frame is damaged (") + ZSTD_getErrorName(s.last) + ")");
    if (!more && ob.pos == before && s.last != 0) Fail("its frame is cut short");
  }
  return ob.pos;
}

void FrameReader::ExpectEnd() {
  uint8_t byte;
  if (Read(&byte, 1) != 0) Fail("it makes more bytes than its header says");
}

}  // namespace ttu::zstream
