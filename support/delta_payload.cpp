#include "support/delta_payload.h"

#include <algorithm>
#include <cstring>

#include "support/little_endian.h"
#include "support/zstd_stream.h"

namespace ttu::delta {
namespace {

constexpr char kMagic[4] = {'T', 'D', 'L', '1'};
constexpr std::size_t kPiece = 256 << 10;

[[noreturn]] void Fail(const std::string& why) { throw zpayload::DecodeError(why); }

// Exactly `n` bytes of a stream, or the delta is damaged.
void ReadExactly(zstream::FrameReader& stream, uint8_t* out, std::size_t n, const char* what) {
  if (stream.Read(out, n) != n) Fail(std::string("its ") + what + " stream ends early");
}

}  // namespace

std::vector<uint8_t> EncodeHeader(const Header& h) {
  std::vector<uint8_t> b(kHeaderSize, 0);
  std::memcpy(b.data(), kMagic, sizeof kMagic);
  le::Put64(b.data() + 8, h.size);
  std::copy(h.digest.begin(), h.digest.end(), b.begin() + 16);
  le::Put64(b.data() + 32, h.base_size);
  std::copy(h.base_digest.begin(), h.base_digest.end(), b.begin() + 40);
  le::Put64(b.data() + 56, h.control);
  le::Put64(b.data() + 64, h.diff);
  le::Put64(b.data() + 72, h.extra);
  std::copy(h.body_digest.begin(), h.body_digest.end(), b.begin() + 80);
  return b;
}

std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (le::Get32(bytes.data() + 4) != 0) return std::nullopt;
  Header h;
  h.size = le::Get64(bytes.data() + 8);
  std::copy(bytes.begin() + 16, bytes.begin() + 32, h.digest.begin());
  h.base_size = le::Get64(bytes.data() + 32);
  std::copy(bytes.begin() + 40, bytes.begin() + 56, h.base_digest.begin());
  h.control = le::Get64(bytes.data() + 56);
  h.diff = le::Get64(bytes.data() + 64);
  h.extra = le::Get64(bytes.data() + 72);
  std::copy(bytes.begin() + 80, bytes.begin() + 96, h.body_digest.begin());
  return h;
}

std::optional<Header> ReadHeader(const ByteSource& source) {
  uint8_t head[kHeaderSize];
  if (!source.Read(0, head, sizeof head)) return std::nullopt;
  return DecodeHeader(head);
}

Header Apply(const ByteSource& source, const ByteSource& base, const zpayload::Sink& sink) {
  const auto h = ReadHeader(source);
  if (!h) Fail("it does not start with a delta's header");
  const uint64_t body = source.Size() - kHeaderSize;
  if (h->control > body || h->diff > body - h->control || h->extra != body - h->control - h->diff) {
    Fail("its streams do not fill it");
  }
  if (base.Size() != h->base_size) Fail("its base is not the one it was made against");
  std::vector<uint8_t> out(kPiece), old(kPiece);
  checksum::Hasher hash;
  uint64_t made = 0, at = 0;  // at: where in the base the next added bytes come from
  const auto put = [&](std::size_t n) {
    hash.Add({out.data(), n});
    sink(out.data(), n);
    made += n;
  };
  if (body == 0) {  // unchanged: the file is its base
    if (!h->Unchanged()) Fail("it has no streams");
    for (; made < h->size;) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(kPiece, h->size - made));
      if (!base.Read(made, out.data(), n)) Fail("its base cannot be read");
      put(n);
    }
    if (hash.Finish() != h->digest) Fail("the file it makes does not match its checksum");
    return *h;
  }
  zstream::FrameReader control(source, kHeaderSize, h->control, kMaxWindowLog);
  zstream::FrameReader diff(source, kHeaderSize + h->control, h->diff, kMaxWindowLog);
  zstream::FrameReader extra(source, kHeaderSize + h->control + h->diff, h->extra, kMaxWindowLog);
  for (;;) {
    uint8_t record[24];
    const std::size_t got = control.Read(record, sizeof record);
    if (got == 0) break;
    if (got != sizeof record) Fail("its control stream ends inside a record");
    const uint64_t add = le::Get64(record), copy = le::Get64(record + 8);
    const auto seek = static_cast<int64_t>(le::Get64(record + 16));
    if (add > h->size - made || copy > h->size - made - add) Fail("it makes more bytes than its header says");
    if (add > h->base_size || at > h->base_size - add) Fail("it reads past its base");
    for (uint64_t done = 0; done < add;) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(kPiece, add - done));
      ReadExactly(diff, out.data(), n, "diff");
      if (!base.Read(at + done, old.data(), n)) Fail("its base cannot be read");
      for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<uint8_t>(out[k] + old[k]);
      put(n);
      done += n;
    }
    at += add;
    for (uint64_t done = 0; done < copy;) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(kPiece, copy - done));
      ReadExactly(extra, out.data(), n, "extra");
      put(n);
      done += n;
    }
    // A move before the base's start or past its end is damage, not a wrap.
    if (seek < 0 ? static_cast<uint64_t>(-(seek + 1)) + 1 > at : static_cast<uint64_t>(seek) > h->base_size - at) {
      Fail("it moves outside its base");
    }
    at = static_cast<uint64_t>(static_cast<int64_t>(at) + seek);
  }
  if (made != h->size) Fail("it makes fewer bytes than its header says");
  diff.ExpectEnd();
  extra.ExpectEnd();
  if (hash.Finish() != h->digest) Fail("the file it makes does not match its checksum");
  return *h;
}

}  // namespace ttu::delta
