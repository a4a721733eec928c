#include "deploy/package_seal.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "deploy/manifest.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
#include "support/grouped_payload.h"
#include "support/little_endian.h"
#include "support/run_error.h"

namespace ttu::deploy {
namespace {

// A recorded checksum larger than this is not one: only its size is sealed.
constexpr uint64_t kMaxRecordRead = 64;

class SealWriter {
 public:
  void Tag(char tag) { Bytes(&tag, 1); }
  void Number(uint64_t n) {
    uint8_t b[8];
    le::Put64(b, n);
    Bytes(b, sizeof b);
  }
  void Text(const std::optional<std::string>& s) {
    Tag(s ? 'S' : '-');
    if (!s) return;
    Number(s->size());
    Bytes(s->data(), s->size());
  }
  void Bytes(const void* p, std::size_t n) { h_.Add({static_cast<const uint8_t*>(p), n}); }
  checksum::Digest Finish() { return h_.Finish(); }

 private:
  checksum::Hasher h_;
};

// The items the count names, -1 when it names none (then only its text is sealed).
int32_t LastIndexOrNone(const std::optional<std::string>& count) {
  if (!count) return -1;
  try {
    return std::min(LastIndexOf(*count), kLastPossibleIndex);
  } catch (const std::exception&) {
    return -1;
  }
}

// Where there is the resource: its tag, its size and its first `n` bytes
// (zeros past its end).
void SealWithHead(SealWriter& w, const std::optional<platform::Blob>& blob, char tag, std::size_t n) {
  if (!blob) return;
  w.Tag(tag);
  w.Number(blob->size);
  std::vector<uint8_t> head(n, 0);
  platform::ReadBlob(*blob, 0, head.data(), static_cast<std::size_t>(std::min<uint64_t>(blob->size, n)));
  w.Bytes(head.data(), n);
}

}  // namespace

checksum::Digest SealOf(platform::Resources& res) {
  SealWriter w;
  w.Bytes("TTU seal 1", 10);
  const auto count = res.String(kCountStringId);
  w.Text(count);
  const int32_t last = LastIndexOrNone(count);
  for (int32_t j = 0; j <= last; ++j) {
    const uint32_t id = kFirstItemId + static_cast<uint32_t>(j);
    w.Text(res.String(id));
    const auto payload = res.Data(id, kPayloadType);
    w.Tag(payload ? 'P' : '-');
    if (payload) w.Number(payload->size);
    // Sealed only where there is one, so that a package without them keeps its seal.
    if (const auto compressed = res.Data(id, zpayload::kResourceType)) {
      w.Tag('Z');
      w.Number(compressed->size);
    }
    // A part names its group and holds its checksum.
    SealWithHead(w, res.Data(id, gpayload::kPartType), 'G', gpayload::kPartSize);
    // A delta's header too: it names the base, which the press checks first.
    SealWithHead(w, res.Data(id, delta::kResourceType), 'D', delta::kHeaderSize);
    const auto record = res.Data(id, checksum::kResourceType);
    w.Tag(record ? 'C' : '-');
    if (!record) continue;
    w.Number(record->size);
    if (record->size <= kMaxRecordRead) {
      uint8_t bytes[kMaxRecordRead];
      platform::ReadBlob(*record, 0, bytes, static_cast<std::size_t>(record->size));
      w.Bytes(bytes, static_cast<std::size_t>(record->size));
    }
  }
  return w.Finish();
}

void CheckSeal(platform::Resources& res) {
  if (const auto damage = res.Damage()) throw RunError::PackageDamaged(*damage);
  const auto seal = res.Data(kSealId, kSealType);
  if (!seal) return;  // packed before seals, or linked: deployed as ever
  checksum::Digest recorded{};
  if (seal->size != recorded.size()) throw RunError::PackageDamaged("its seal is not one");
  platform::ReadBlob(*seal, 0, recorded.data(), recorded.size());
  if (SealOf(res) != recorded) {
    throw RunError::PackageDamaged("its item count, descriptors or checksums do not match its seal");
  }
}

}  // namespace ttu::deploy
