#include "support/compressed_payload.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/little_endian.h"
#include "support/zstd_stream.h"

namespace ttu::zpayload {
namespace {

constexpr char kMagic[4] = {'T', 'Z', 'S', '1'};
// Read and written a MiB at a time: few system calls, little memory.
constexpr std::size_t kPiece = 1 << 20;

[[noreturn]] void Fail(const std::string& why) { throw payload::DecodeError(why); }

}  // namespace

std::vector<uint8_t> EncodeHeader(const Header& h) {
  std::vector<uint8_t> b(kHeaderSize, 0);
  payload::PutFileHeader(b.data(), kMagic, h);
  return b;
}

std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes) { return payload::GetFileHeader(bytes, kMagic); }

Header Decode(const ByteSource& source, const payload::Sink& sink) {
  uint8_t head[kHeaderSize];
  if (!source.Read(0, head, sizeof head)) Fail("it is shorter than its header");
  const auto header = DecodeHeader(head);
  if (!header) Fail("it does not start with a compressed payload's header");
  if (header->size / kMaxRatio > source.Size() - kHeaderSize) Fail("its header says more bytes than its frame can make");
  zstream::FrameReader frame(source, kHeaderSize, source.Size() - kHeaderSize, kMaxWindowLog);
  std::vector<uint8_t> out(static_cast<std::size_t>(std::min<uint64_t>(kPiece, header->size)));
  checksum::Hasher hash;
  for (uint64_t made = 0; made < header->size;) {
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(out.size(), header->size - made));
    const std::size_t n = frame.Read(out.data(), want);
    if (n < want) Fail("it makes fewer bytes than its header says");
    made += n;
    hash.Add({out.data(), n});
    sink(out.data(), n);
  }
  // A frame that makes more than the header says is refused before any of
  // the excess is handed on, so it cannot fill a disk.
  frame.ExpectEnd();
  if (hash.Finish() != header->digest) Fail("the file it makes does not match its checksum");
  return *header;
}

}  // namespace ttu::zpayload
