#include "support/grouped_payload.h"

#include <algorithm>

#include "support/little_endian.h"
#include "support/zstd_stream.h"

namespace ttu::gpayload {
namespace {

constexpr char kPartMagic[4] = {'T', 'Z', 'P', '1'};
constexpr char kGroupMagic[4] = {'T', 'Z', 'G', '1'};
constexpr std::size_t kPiece = 1 << 20;
// As for a compressed payload: no zstd block makes more than this many bytes
// per byte of frame.
constexpr uint64_t kMaxRatio = 32768;

[[noreturn]] void Fail(const std::string& why) { throw payload::DecodeError(why); }

}  // namespace

std::vector<uint8_t> EncodePart(const Part& p) {
  std::vector<uint8_t> b(kPartSize, 0);
  payload::PutFileHeader(b.data(), kPartMagic, p.file);
  le::Put32(b.data() + 32, p.group);
  le::Put64(b.data() + 40, p.offset);
  std::copy(p.group_digest.begin(), p.group_digest.end(), b.begin() + 48);
  return b;
}

std::optional<Part> DecodePart(std::span<const uint8_t> bytes) {
  if (bytes.size() != kPartSize || le::Get32(bytes.data() + 36) != 0) return std::nullopt;
  const auto file = payload::GetFileHeader(bytes, kPartMagic);
  if (!file) return std::nullopt;
  Part p;
  p.file = *file;
  p.group = le::Get32(bytes.data() + 32);
  p.offset = le::Get64(bytes.data() + 40);
  std::copy(bytes.begin() + 48, bytes.end(), p.group_digest.begin());
  return p;
}

std::vector<uint8_t> EncodeGroupHeader(const payload::FileHeader& h) {
  std::vector<uint8_t> b(kGroupHeaderSize, 0);
  payload::PutFileHeader(b.data(), kGroupMagic, h);
  return b;
}

std::optional<payload::FileHeader> DecodeGroupHeader(std::span<const uint8_t> bytes) {
  return payload::GetFileHeader(bytes, kGroupMagic);
}

struct GroupReader::State {
  uint32_t group = 0;
  uint64_t at = 0;  // how much of the group's content was read
  std::unique_ptr<ByteSource> source;
  std::unique_ptr<zstream::FrameReader> frame;
  std::vector<uint8_t> piece;
};

GroupReader::GroupReader() : s_(std::make_unique<State>()) {}
GroupReader::~GroupReader() = default;

void GroupReader::Close() { s_ = std::make_unique<State>(); }

void GroupReader::Decode(const Part& part, std::unique_ptr<ByteSource> group, const payload::Sink& sink) {
  State& s = *s_;
  struct Reset {  // whatever fails leaves no frame half read for the next part
    State& s;
    bool done = false;
    ~Reset() {
      if (!done) s.frame.reset(), s.source.reset();
    }
  } reset{s};
  if (!s.frame || s.group != part.group || s.at > part.offset) {
    s.frame.reset();
    s.source = std::move(group);
    uint8_t head[kGroupHeaderSize];
    if (!s.source->Read(0, head, sizeof head)) Fail("its group is shorter than its header");
    const auto h = DecodeGroupHeader(head);
    if (!h) Fail("its group does not start with a group's header");
    const uint64_t frame_size = s.source->Size() - kGroupHeaderSize;
    if (h->size / kMaxRatio > frame_size) Fail("its group's header says more bytes than its frame can make");
    if (part.offset > h->size || part.file.size > h->size - part.offset) Fail("its group does not hold it");
    s.frame = std::make_unique<zstream::FrameReader>(*s.source, kGroupHeaderSize, frame_size, kMaxWindowLog);
    s.group = part.group;
    s.at = 0;
  }
  if (s.piece.empty()) s.piece.resize(kPiece);
  const auto read = [&](uint64_t n, bool keep, checksum::Hasher* hash) {
    while (n > 0) {
      const auto want = static_cast<std::size_t>(std::min<uint64_t>(s.piece.size(), n));
      const std::size_t got = s.frame->Read(s.piece.data(), want);
      if (got < want) Fail("its group makes fewer bytes than the part needs");
      s.at += got, n -= got;
      if (!keep) continue;
      hash->Add({s.piece.data(), got});
      sink(s.piece.data(), got);
    }
  };
  read(part.offset - s.at, false, nullptr);  // the files before it
  checksum::Hasher hash;
  read(part.file.size, true, &hash);
  if (hash.Finish() != part.file.digest) Fail("the file it makes does not match its checksum");
  reset.done = true;
}

}  // namespace ttu::gpayload
