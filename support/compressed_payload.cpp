#include "support/compressed_payload.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/little_endian.h"

namespace ttu::zpayload {
namespace {

constexpr char kMagic[4] = {'T', 'Z', 'S', '1'};
// Read and written a MiB at a time: few system calls, little memory.
constexpr std::size_t kPiece = 1 << 20;

struct FreeDStream {
  void operator()(ZSTD_DStream* d) const { ZSTD_freeDStream(d); }
};

[[noreturn]] void Fail(const std::string& why) { throw DecodeError(why); }

}  // namespace

std::vector<uint8_t> EncodeHeader(const Header& h) {
  std::vector<uint8_t> b(kHeaderSize, 0);
  std::memcpy(b.data(), kMagic, sizeof kMagic);
  le::Put64(b.data() + 8, h.size);
  std::copy(h.digest.begin(), h.digest.end(), b.begin() + 16);
  return b;
}

std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (le::Get32(bytes.data() + 4) != 0) return std::nullopt;
  Header h;
  h.size = le::Get64(bytes.data() + 8);
  std::copy(bytes.begin() + 16, bytes.begin() + 32, h.digest.begin());
  return h;
}

Header Decode(const ByteSource& source, const Sink& sink) {
  uint8_t head[kHeaderSize];
  if (!source.Read(0, head, sizeof head)) Fail("it is shorter than its header");
  const auto header = DecodeHeader(head);
  if (!header) Fail("it does not start with a compressed payload's header");
  if (header->size / kMaxRatio > source.Size() - kHeaderSize) Fail("its header says more bytes than its frame can make");

  std::unique_ptr<ZSTD_DStream, FreeDStream> d(ZSTD_createDStream());
  if (!d) throw std::bad_alloc();
  ZSTD_DCtx_setParameter(d.get(), ZSTD_d_windowLogMax, kMaxWindowLog);
  const uint64_t in_size = source.Size();
  std::vector<uint8_t> in(static_cast<std::size_t>(std::min<uint64_t>(kPiece, in_size - kHeaderSize)));
  std::vector<uint8_t> out(static_cast<std::size_t>(std::min<uint64_t>(kPiece, header->size)) + 1);
  checksum::Hasher hash;
  uint64_t made = 0;
  std::size_t last = 1;  // the decoder's last answer: 0 at the frame's end
  // One call of the decoder; what it made goes to the sink. A frame that makes
  // more than the header says is refused as it grows, before it fills a disk.
  const auto step = [&](ZSTD_inBuffer& ib) {
    ZSTD_outBuffer ob{out.data(), out.size(), 0};
    last = ZSTD_decompressStream(d.get(), &ob, &ib);
    if (ZSTD_isError(last)) Fail(std::string("its frame is damaged (") + ZSTD_getErrorName(last) + ")");
    if (ob.pos > header->size - made) Fail("it makes more bytes than its header says");
    made += ob.pos;
    hash.Add({out.data(), ob.pos});
    if (ob.pos) sink(out.data(), ob.pos);
    return ob.pos;
  };
  for (uint64_t read = kHeaderSize; read < in_size;) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(in.size(), in_size - read));
    if (!source.Read(read, in.data(), n)) Fail("it cannot be read");
    read += n;
    ZSTD_inBuffer ib{in.data(), n, 0};
    while (ib.pos < ib.size) {
      if (last == 0) Fail("it has bytes after its frame");
      step(ib);
    }
  }
  // What the decoder still holds once all the input is in.
  while (last != 0) {
    ZSTD_inBuffer none{nullptr, 0, 0};
    if (step(none) == 0) Fail("its frame is cut short");
  }
  if (made != header->size) Fail("it makes fewer bytes than its header says");
  if (hash.Finish() != header->digest) Fail("the file it makes does not match its checksum");
  return *header;
}

}  // namespace ttu::zpayload
