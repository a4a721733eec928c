#include "support/zip_delta.h"

#include <algorithm>
#include <optional>

#include "support/little_endian.h"
#include "support/zip_archive.h"
#include "support/zstd_stream.h"

namespace ttu::zipdelta {
namespace {

constexpr std::size_t kPiece = 64 << 10;
constexpr std::size_t kBaseEntrySize = 8 * 3 + 4;
constexpr std::size_t kFileEntrySize = 8 * 3 + 4;
// The plan's frame is decoded in a small window: it is a few dozen bytes a member.
constexpr int kPlanWindowLog = 17;

[[noreturn]] void Fail(const std::string& why) { throw payload::DecodeError(why); }

// The plan's numbers, read from its frame in order.
class PlanReader {
 public:
  explicit PlanReader(zstream::FrameReader& frame) : frame_(frame) {}
  void Bytes(uint8_t* out, std::size_t n) {
    if (frame_.Read(out, n) != n) Fail("its plan ends early");
  }
  uint64_t U64() {
    uint8_t b[8];
    Bytes(b, 8);
    return le::Get64(b);
  }

 private:
  zstream::FrameReader& frame_;
};

bool ValidSettings(const deflater::Settings& s) {
  return s.level >= 1 && s.level <= 9 && s.mem_level >= 1 && s.mem_level <= 9 && s.window_bits >= 9 &&
         s.window_bits <= 15;
}

// `size` inflated from `deflated` bytes: no more than deflate can make.
bool PlausibleRatio(uint64_t size, uint64_t deflated) {
  return deflated >= 1 && deflated <= UINT64_MAX / zip::kMaxDeflateRatio &&
         size <= deflated * zip::kMaxDeflateRatio + zip::kMaxDeflateRatio;
}

// The installed archive with the planned members inflated into `scratch`:
// read by offset, each piece from where it lies.
class ExpandedBase final : public ByteSource {
 public:
  ExpandedBase(const ByteSource& base, const ScratchFile& scratch, const std::vector<Expansion>& plan,
               uint64_t scratch_start)
      : base_(base), scratch_(scratch) {
    uint64_t expanded = 0, base_at = 0, scratch_at = scratch_start;
    for (const Expansion& e : plan) {
      expanded += e.offset - base_at;
      pieces_.push_back({expanded, e.size, e.offset + e.deflated, scratch_at});
      expanded += e.size, scratch_at += e.size, base_at = e.offset + e.deflated;
    }
    size_ = expanded + (base.Size() - base_at);
  }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    if (offset > size_ || n > size_ - offset) return false;
    auto* to = static_cast<uint8_t*>(out);
    while (n) {
      // The last inflated member that starts at or before `offset`.
      const auto next = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                         [](uint64_t at, const Piece& p) { return at < p.start; });
      uint64_t from = offset, room = size_ - offset;  // before the first member: the base as it is
      const ByteSource* source = &base_;
      if (next != pieces_.begin()) {
        const Piece& p = *(next - 1);
        if (offset - p.start < p.size) {
          source = &scratch_, from = p.scratch + (offset - p.start), room = p.size - (offset - p.start);
        } else {
          from = p.base_after + (offset - p.start - p.size);
        }
      }
      if (next != pieces_.end()) room = std::min(room, next->start - offset);
      const auto k = static_cast<std::size_t>(std::min<uint64_t>(room, n));
      if (!source->Read(from, to, k)) return false;
      to += k, offset += k, n -= k;
    }
    return true;
  }

 private:
  struct Piece {
    uint64_t start, size;  // in the expanded archive
    uint64_t base_after;   // where the base goes on after the member
    uint64_t scratch;      // where its inflated bytes lie
  };
  const ByteSource& base_;
  const ScratchFile& scratch_;
  std::vector<Piece> pieces_;
  uint64_t size_ = 0;
};

// Inflates each planned member of the base into the scratch file; a member
// that does not inflate to its size and CRC is not the base planned for.
void InflateMembers(const ByteSource& base, const std::vector<Expansion>& plan, ScratchFile& scratch) {
  std::vector<uint8_t> piece(kPiece);
  for (const Expansion& e : plan) {
    deflater::StreamInflater inflater;
    uint64_t made = 0;
    uint32_t crc = 0;
    bool fits = true;
    const deflater::Output out = [&](const uint8_t* bytes, std::size_t n) {
      fits = fits && n <= e.size - made;
      if (!fits) return;  // stops at the size planned: a member that lies about it cannot fill the disk
      scratch.Append(bytes, n);
      crc = deflater::Crc32(crc, {bytes, n});
      made += n;
    };
    for (uint64_t at = 0; at < e.deflated && fits;) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), e.deflated - at));
      if (!base.Read(e.offset + at, piece.data(), n)) Fail("its base cannot be read");
      if (!inflater.Add(piece.data(), n, out)) fits = false;
      at += n;
    }
    if (!fits || !inflater.Ended() || made != e.size || crc != e.crc32) throw delta::ChecksumMismatch();
  }
}

// The new archive as it is made from the expanded one: the bytes between the
// planned members pass on as they are; each member is deflated again.
class Rebuild {
 public:
  Rebuild(const std::vector<Redeflation>& plan, const payload::Sink& sink) : plan_(plan), sink_(sink) {}

  void Put(const uint8_t* bytes, std::size_t n) {
    while (n) {
      EnterMembers();
      if (deflater_) {
        const Redeflation& r = plan_[next_];
        const auto k = static_cast<std::size_t>(std::min<uint64_t>(n, r.offset + r.size - at_));
        deflater_->Add(bytes, k, emit_);
        bytes += k, n -= k, at_ += k;
        EnterMembers();
      } else {
        const uint64_t before = next_ < plan_.size() ? plan_[next_].offset - at_ : n;
        const auto k = static_cast<std::size_t>(std::min<uint64_t>(n, before));
        Emit(bytes, k);
        bytes += k, n -= k, at_ += k;
      }
    }
  }

  // Raises payload::DecodeError unless all was made and matches `h`.
  void Finish(const delta::Header& h) {
    EnterMembers();
    if (next_ != plan_.size()) Fail("its plan names members past the archive's end");
    if (made_ != h.size || hash_.Finish() != h.digest) Fail("the archive it makes does not match its checksum");
  }

 private:
  // Starts the deflate of a member that begins here, and ends the one that
  // ends here (an empty member does both).
  void EnterMembers() {
    while (next_ < plan_.size()) {
      const Redeflation& r = plan_[next_];
      if (!deflater_) {
        if (at_ != r.offset) return;
        deflater_.emplace(r.settings);
        deflated_left_ = r.deflated;
      }
      if (at_ != r.offset + r.size) return;
      deflater_->Finish(emit_);
      if (deflated_left_ != 0) WrongDeflate();
      deflater_.reset();
      ++next_;
    }
  }

  void Emit(const uint8_t* bytes, std::size_t n) {
    if (n == 0) return;
    hash_.Add({bytes, n});
    made_ += n;
    sink_(bytes, n);
  }

  const std::vector<Redeflation>& plan_;
  const payload::Sink& sink_;
  [[noreturn]] static void WrongDeflate() { Fail("deflating a member again did not give the archive's bytes"); }

  // A member deflated again never makes more than the bytes it had.
  const deflater::Output emit_ = [this](const uint8_t* bytes, std::size_t n) {
    if (n > deflated_left_) WrongDeflate();
    deflated_left_ -= n;
    Emit(bytes, n);
  };
  uint64_t deflated_left_ = 0;
  std::optional<deflater::StreamDeflater> deflater_;
  std::size_t next_ = 0;
  uint64_t at_ = 0, made_ = 0;
  checksum::Hasher hash_;
};

}  // namespace

std::vector<uint8_t> EncodePlan(const Plan& plan) {
  std::vector<uint8_t> b;
  for (uint64_t v : {plan.members, plan.changed, plan.changed_bytes, plan.remade_bytes}) le::Append64(b, v);
  le::Append64(b, plan.base.size());
  for (const Expansion& e : plan.base) {
    for (uint64_t v : {e.offset, e.deflated, e.size}) le::Append64(b, v);
    le::Append32(b, e.crc32);
  }
  le::Append64(b, plan.file.size());
  for (const Redeflation& r : plan.file) {
    for (uint64_t v : {r.offset, r.size, r.deflated}) le::Append64(b, v);
    for (int v : {r.settings.level, static_cast<int>(r.settings.strategy), r.settings.mem_level,
                  r.settings.window_bits}) {
      b.push_back(static_cast<uint8_t>(v));
    }
  }
  return b;
}

Layout ReadLayout(const ByteSource& payload) {
  Layout l;
  const auto h = delta::ReadHeader(payload);
  if (!h || h->kind != delta::Kind::kZip) Fail("it does not start with a ZIP delta's header");
  l.header = *h;
  uint8_t size_field[8];
  if (!payload.Read(delta::kHeaderSize, size_field, sizeof size_field)) Fail("it has no plan");
  const uint64_t plan_size = le::Get64(size_field), after = delta::kHeaderSize + 8;
  if (plan_size > payload.Size() - after) Fail("its plan does not fit in it");
  l.inner_offset = after + plan_size;
  l.inner_size = payload.Size() - l.inner_offset;
  const auto inner = delta::ReadHeader(SliceSource(payload, l.inner_offset, l.inner_size));
  if (!inner || inner->kind != delta::Kind::kPlain) Fail("its expanded archive's delta is missing");

  zstream::FrameReader frame(payload, after, plan_size, kPlanWindowLog);
  PlanReader in(frame);
  Plan& p = l.plan;
  p.members = in.U64(), p.changed = in.U64(), p.changed_bytes = in.U64(), p.remade_bytes = in.U64();
  const uint64_t base_count = in.U64();
  if (base_count > kMaxEntries) Fail("its plan lists too many members");
  uint64_t base_at = 0, expanded_base = h->base_size;
  for (uint64_t k = 0; k < base_count; ++k) {
    uint8_t b[kBaseEntrySize];
    in.Bytes(b, sizeof b);
    const Expansion e{le::Get64(b), le::Get64(b + 8), le::Get64(b + 16), le::Get32(b + 24)};
    if (e.offset < base_at || e.deflated > h->base_size || e.offset > h->base_size - e.deflated ||
        !PlausibleRatio(e.size, e.deflated)) {
      Fail("its plan names a member outside its base or over another");
    }
    base_at = e.offset + e.deflated;
    expanded_base = expanded_base - e.deflated + e.size;  // no wrap: each member lies within the base
    p.base.push_back(e);
  }
  const uint64_t file_count = in.U64();
  if (file_count > kMaxEntries) Fail("its plan lists too many members");
  uint64_t file_at = 0, deflated_total = 0, inflated_total = 0;
  for (uint64_t k = 0; k < file_count; ++k) {
    uint8_t b[kFileEntrySize];
    in.Bytes(b, sizeof b);
    Redeflation r{le::Get64(b), le::Get64(b + 8), le::Get64(b + 16), {}};
    r.settings = {b[24], static_cast<deflater::Strategy>(b[25]), b[26], b[27]};
    if (!ValidSettings(r.settings) || b[25] > static_cast<int>(deflater::Strategy::kFixed)) {
      Fail("its plan has deflate settings zlib does not have");
    }
    if (r.offset < file_at || r.size > inner->size || r.offset > inner->size - r.size ||
        !PlausibleRatio(r.size, r.deflated) || r.deflated > h->size) {
      Fail("its plan names a member outside its archive or over another");
    }
    file_at = r.offset + r.size;
    deflated_total += r.deflated, inflated_total += r.size;
    if (deflated_total > h->size) Fail("its plan's members do not fit in the archive");
    p.file.push_back(r);
  }
  frame.ExpectEnd();
  if (inner->base_size != expanded_base) Fail("its plan does not expand its base to the delta's base");
  if (inner->size - inflated_total != h->size - deflated_total) Fail("its plan does not make the archive's size");
  return l;
}

delta::Header Apply(const ByteSource& payload, const ByteSource& base, ScratchFile& scratch,
                    const payload::Sink& sink) {
  const Layout l = ReadLayout(payload);
  if (base.Size() != l.header.base_size) Fail("its base is not the one it was made against");
  const uint64_t scratch_start = scratch.Size();
  InflateMembers(base, l.plan.base, scratch);
  const ExpandedBase expanded(base, scratch, l.plan.base, scratch_start);
  Rebuild rebuild(l.plan.file, sink);
  delta::Apply(SliceSource(payload, l.inner_offset, l.inner_size), expanded,
               [&](const uint8_t* bytes, std::size_t n) { rebuild.Put(bytes, n); });
  rebuild.Finish(l.header);
  return l.header;
}

}  // namespace ttu::zipdelta
