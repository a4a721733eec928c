#include "support/delta_payload.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/little_endian.h"
#include "support/zstd_stream.h"

namespace ttu::delta {
namespace {

constexpr char kMagic[4] = {'T', 'D', 'L', '1'};
constexpr char kZipMagic[4] = {'T', 'D', 'Z', '1'};
constexpr std::size_t kPiece = 64 << 10;

[[noreturn]] void Fail(const std::string& why) { throw payload::DecodeError(why); }

// Exactly `n` bytes of a stream, or the delta is damaged.
void ReadExactly(zstream::FrameReader& stream, uint8_t* out, std::size_t n, const char* what) {
  if (stream.Read(out, n) != n) Fail(std::string("its ") + what + " stream ends early");
}

// A stream read through a small buffer: the runs and values streams are read
// a few bytes at a time, which the decoder itself would do slowly.
class Buffered {
 public:
  explicit Buffered(zstream::FrameReader& stream) : stream_(stream) {}

  // Adds the next `n` bytes to `out`'s (mod 256); false at the stream's end.
  bool AddTo(uint8_t* out, std::size_t n) {
    while (n && (at_ < got_ || Refill())) {
      const std::size_t k = std::min(n, got_ - at_);
      for (std::size_t i = 0; i < k; ++i) out[i] = static_cast<uint8_t>(out[i] + buffer_[at_ + i]);
      at_ += k, out += k, n -= k;
    }
    return n == 0;
  }
  bool Byte(uint8_t& b) {
    if (at_ == got_ && !Refill()) return false;
    b = buffer_[at_++];
    return true;
  }
  void ExpectEnd(const char* what) {
    if (at_ != got_) Fail(std::string("its ") + what + " stream has more bytes than it uses");
    stream_.ExpectEnd();
  }

 private:
  bool Refill() {
    got_ = stream_.Read(buffer_, sizeof buffer_), at_ = 0;
    return got_ != 0;
  }

  zstream::FrameReader& stream_;
  uint8_t buffer_[16 << 10];
  std::size_t at_ = 0, got_ = 0;
};

// The bytes to add, from the runs and values streams.
class DiffBytes {
 public:
  DiffBytes(zstream::FrameReader& runs, zstream::FrameReader& values) : runs_(runs), values_(values) {}

  // Adds the next `n` of them to `out` (the base's bytes): only the few that
  // are not zero are touched.
  void AddTo(uint8_t* out, std::size_t n) {
    while (n) {
      if (zeros_ == 0 && taken_ == 0) NextPair();
      const auto z = static_cast<std::size_t>(std::min<uint64_t>(zeros_, n));
      out += z, n -= z, zeros_ -= z;
      const auto v = static_cast<std::size_t>(std::min<uint64_t>(taken_, n));
      if (!values_.AddTo(out, v)) Fail("its values stream ends early");
      out += v, n -= v, taken_ -= v;
    }
  }

  void ExpectEnd() {
    if (taken_ != 0) Fail("its runs stream names more bytes than it adds");
    runs_.ExpectEnd("runs");
    values_.ExpectEnd("values");
  }

 private:
  // The next pair; past the last one, zeros to the end.
  void NextPair() {
    bool none = false;
    zeros_ = Number(&none);
    if (none) {
      zeros_ = UINT64_MAX;
      return;
    }
    taken_ = Number(nullptr);
    if (zeros_ == 0 && taken_ == 0) Fail("its runs stream has an empty run");
  }

  // A number; at the stream's end, `none` set (or, inside a pair, damage).
  uint64_t Number(bool* none) {
    uint64_t n = 0;
    for (int index = 0;; ++index) {
      uint8_t b = 0;
      if (!runs_.Byte(b)) {
        if (index == 0 && none) return *none = true, 0;
        Fail("its runs stream ends inside a pair");
      }
      if (AddNumberByte(n, index, b)) return n;
    }
  }

  Buffered runs_, values_;
  uint64_t zeros_ = 0, taken_ = 0;
};

// The base, read by offset through a small cache: a delta of many short
// records reads a few bytes at a time, mostly in order.
class BaseReader {
 public:
  explicit BaseReader(const ByteSource& base) : base_(base) {}

  void Read(uint64_t at, uint8_t* out, std::size_t n) {
    if (at >= start_ && at - start_ <= got_ && n <= got_ - (at - start_)) {
      std::memcpy(out, cache_ + (at - start_), n);
      return;
    }
    if (n >= sizeof cache_) {
      if (!base_.Read(at, out, n)) Fail("its base cannot be read");
      return;
    }
    start_ = at;
    got_ = static_cast<std::size_t>(std::min<uint64_t>(sizeof cache_, base_.Size() - at));
    if (got_ < n || !base_.Read(at, cache_, got_)) Fail("its base cannot be read");
    std::memcpy(out, cache_, n);
  }

 private:
  const ByteSource& base_;
  uint8_t cache_[4 << 10];
  uint64_t start_ = 0;
  std::size_t got_ = 0;
};

// The file as it is made, handed to the sink and summed a piece at a time.
class Output {
 public:
  explicit Output(const payload::Sink& sink) : sink_(sink), piece_(kPiece) {}
  // Room for at most `n` more bytes (at least one), to be filled and Kept.
  std::pair<uint8_t*, std::size_t> Room(uint64_t n) {
    if (used_ == piece_.size()) Flush();
    return {piece_.data() + used_, static_cast<std::size_t>(std::min<uint64_t>(n, piece_.size() - used_))};
  }
  void Keep(std::size_t n) { used_ += n, made_ += n; }
  void Flush() {
    if (used_ == 0) return;
    hash_.Add({piece_.data(), used_});
    sink_(piece_.data(), used_);
    used_ = 0;
  }
  uint64_t made() const { return made_; }
  checksum::Digest Finish() {
    Flush();
    return hash_.Finish();
  }

 private:
  const payload::Sink& sink_;
  std::vector<uint8_t> piece_;
  std::size_t used_ = 0;
  uint64_t made_ = 0;
  checksum::Hasher hash_;
};

}  // namespace

void AppendRecord(std::vector<uint8_t>& control, const Record& r) {
  le::Append64(control, r.add);
  le::Append64(control, r.copy);
  le::Append64(control, static_cast<uint64_t>(r.seek));
}

Record GetRecord(const uint8_t* bytes) {
  return {le::Get64(bytes), le::Get64(bytes + 8), static_cast<int64_t>(le::Get64(bytes + 16))};
}

void AppendRun(std::vector<uint8_t>& runs, uint64_t zeros, uint64_t values) {
  for (uint64_t v : {zeros, values}) {
    for (; v >= 0x80; v >>= 7) runs.push_back(static_cast<uint8_t>(v | 0x80));
    runs.push_back(static_cast<uint8_t>(v));
  }
}

bool AddNumberByte(uint64_t& number, int index, uint8_t byte) {
  if (index > 9 || (index == 9 && byte > 1)) Fail("its runs stream has a number too large");
  number |= uint64_t{byte & 0x7Fu} << (7 * index);
  return !(byte & 0x80);
}

std::optional<checksum::Digest> BodyDigest(const ByteSource& payload) {
  if (payload.Size() < kHeaderSize) return std::nullopt;
  return checksum::DigestOf(SliceSource(payload, kHeaderSize, payload.Size() - kHeaderSize));
}

std::vector<uint8_t> EncodeHeader(const Header& h) {
  std::vector<uint8_t> b(kHeaderSize, 0);
  payload::PutFileHeader(b.data(), h.kind == Kind::kZip ? kZipMagic : kMagic, {h.size, h.digest});
  le::Put64(b.data() + 32, h.base_size);
  std::copy(h.base_digest.begin(), h.base_digest.end(), b.begin() + 40);
  le::Put64(b.data() + 56, h.control);
  le::Put64(b.data() + 64, h.runs);
  le::Put64(b.data() + 72, h.values);
  le::Put64(b.data() + 80, h.extra);
  std::copy(h.body_digest.begin(), h.body_digest.end(), b.begin() + 88);
  return b;
}

std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  Header h;
  auto file = payload::GetFileHeader(bytes, kMagic);
  if (!file) {
    file = payload::GetFileHeader(bytes, kZipMagic);
    h.kind = Kind::kZip;
  }
  if (!file) return std::nullopt;
  h.size = file->size;
  h.digest = file->digest;
  h.base_size = le::Get64(bytes.data() + 32);
  std::copy(bytes.begin() + 40, bytes.begin() + 56, h.base_digest.begin());
  h.control = le::Get64(bytes.data() + 56);
  h.runs = le::Get64(bytes.data() + 64);
  h.values = le::Get64(bytes.data() + 72);
  h.extra = le::Get64(bytes.data() + 80);
  std::copy(bytes.begin() + 88, bytes.begin() + 104, h.body_digest.begin());
  return h;
}

std::optional<Header> ReadHeader(const ByteSource& source) {
  uint8_t head[kHeaderSize];
  if (!source.Read(0, head, sizeof head)) return std::nullopt;
  return DecodeHeader(head);
}

Header Apply(const ByteSource& source, const ByteSource& base, const payload::Sink& sink) {
  const auto h = ReadHeader(source);
  if (!h || h->kind != Kind::kPlain) Fail("it does not start with a plain delta's header");
  const uint64_t body = source.Size() - kHeaderSize;
  uint64_t left = body;
  for (const uint64_t stream : {h->control, h->runs, h->values}) {
    if (stream > left) Fail("its streams do not fill it");
    left -= stream;
  }
  if (h->extra != left) Fail("its streams do not fill it");
  if (base.Size() != h->base_size) Fail("its base is not the one it was made against");
  BaseReader from_base(base);
  Output out(sink);
  if (body == 0) {  // unchanged: the file is its base
    if (!h->Unchanged()) Fail("it has no streams");
    while (out.made() < h->size) {
      const auto [room, n] = out.Room(h->size - out.made());
      from_base.Read(out.made(), room, n);
      out.Keep(n);
    }
    if (out.Finish() != h->digest) throw ChecksumMismatch();
    return *h;
  }
  uint64_t from = kHeaderSize;
  const auto stream = [&](uint64_t size) {
    from += size;
    return std::make_unique<zstream::FrameReader>(source, from - size, size, kMaxWindowLog);
  };
  const auto control = stream(h->control), runs = stream(h->runs), values = stream(h->values),
             extra = stream(h->extra);
  DiffBytes diff(*runs, *values);
  uint64_t at = 0;  // where in the base the next added bytes come from
  // A record that makes nothing only moves in the base; the packer never
  // writes two in a row, and refusing them bounds the work by the file made.
  bool last_made_nothing = false;
  for (;;) {
    uint8_t record[kRecordSize];
    const std::size_t got = control->Read(record, sizeof record);
    if (got == 0) break;
    if (got != sizeof record) Fail("its control stream ends inside a record");
    const auto [add, copy, seek] = GetRecord(record);
    const uint64_t made = out.made();
    if (add > h->size - made || copy > h->size - made - add) Fail("it makes more bytes than its header says");
    if (add > h->base_size || at > h->base_size - add) Fail("it reads past its base");
    const bool makes_nothing = add == 0 && copy == 0;
    if (makes_nothing && last_made_nothing) Fail("its control stream has records that make nothing");
    last_made_nothing = makes_nothing;
    for (uint64_t done = 0; done < add;) {
      const auto [room, n] = out.Room(add - done);
      from_base.Read(at + done, room, n);
      diff.AddTo(room, n);
      out.Keep(n);
      done += n;
    }
    at += add;
    for (uint64_t done = 0; done < copy;) {
      const auto [room, n] = out.Room(copy - done);
      ReadExactly(*extra, room, n, "extra");
      out.Keep(n);
      done += n;
    }
    // A move before the base's start or past its end is damage, not a wrap.
    if (seek < 0 ? static_cast<uint64_t>(-(seek + 1)) + 1 > at : static_cast<uint64_t>(seek) > h->base_size - at) {
      Fail("it moves outside its base");
    }
    at = static_cast<uint64_t>(static_cast<int64_t>(at) + seek);
  }
  if (out.made() != h->size) Fail("it makes fewer bytes than its header says");
  diff.ExpectEnd();
  extra->ExpectEnd();
  if (out.Finish() != h->digest) throw ChecksumMismatch();
  return *h;
}

}  // namespace ttu::delta
