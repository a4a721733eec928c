#include "deploy/package_seal.h"

#include <algorithm>
#include <exception>

#include "deploy/manifest.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
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
    // A delta's header too: it names the base, which the press checks first.
    if (const auto delta = res.Data(id, delta::kResourceType)) {
      w.Tag('D');
      w.Number(delta->size);
      uint8_t header[delta::kHeaderSize] = {};
      platform::ReadBlob(*delta, 0, header, static_cast<std::size_t>(std::min<uint64_t>(delta->size, sizeof header)));
      w.Bytes(header, sizeof header);
    }
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
