#include "deploy/package_check.h"

#include <set>

#include "deploy/manifest.h"
#include "deploy/payload_writer.h"
#include "support/payload_checksum.h"
#include "support/run_error.h"

namespace ttu::deploy {
namespace {

// The payload's checksum, in place where it is in memory; otherwise read a
// piece at a time (reading raises when it fails).
checksum::Digest Hash(const platform::Blob& payload) {
  if (payload.data) {
    return checksum::DigestOf({static_cast<const uint8_t*>(payload.data), static_cast<std::size_t>(payload.size)});
  }
  return *checksum::DigestOf(platform::BlobSource(payload));
}

// A delta carried beside its file whole, which holds the record, is checked
// against the checksum its header holds of its streams.
void CheckDeltaBeside(platform::Resources& res, uint32_t id, const Payload& delta) {
  const delta::Header h = DeltaHeader(res, id, delta);
  const platform::BlobSource blob(delta.blob);
  if (delta::BodyDigest(blob) != h.body_digest) {
    throw RunError::PackageDamaged(id, DescribedFileName(res, id));
  }
}

}  // namespace

void CheckPackage(const ItemTables& tables, platform::Resources& res) {
  // tessiro-pack records a checksum for every payload: where one has it, a
  // payload without one lost its record to damage.
  bool recorded_any = false;
  for (int32_t j = 0; j <= tables.LastIndex && !recorded_any; ++j) {
    recorded_any = res.Data(kFirstItemId + static_cast<uint32_t>(j), checksum::kResourceType).has_value();
  }
  std::set<std::pair<uint32_t, checksum::Digest>> checked_groups;
  for (int32_t j = 0; j <= tables.LastIndex; ++j) {
    const uint32_t id = kFirstItemId + static_cast<uint32_t>(j);
    const auto found = FindPayload(res, id);
    if (!found) continue;  // the pass reports a missing payload as it always has
    if (found->kind != PayloadKind::kDelta) {
      if (const auto delta = FindDelta(res, id)) CheckDeltaBeside(res, id, *delta);
    }
    // A part holds its group's checksum; each group is read once a press.
    if (found->kind == PayloadKind::kGrouped) {
      const gpayload::Part part = GroupOf(res, id, *found).first;
      if (checked_groups.insert({part.group, part.group_digest}).second) GroupOf(res, id, *found, true);
    }
    if (!recorded_any) continue;  // linked by the resource compiler, or packed before checksums
    const auto recorded = res.Data(id, checksum::kResourceType);
    if (!recorded) throw RunError::PackageDamaged("the checksum of resource " + std::to_string(id) + " is missing");
    checksum::Digest expected{};
    if (recorded->size != expected.size()) throw RunError::PackageDamaged(id, DescribedFileName(res, id));
    platform::ReadBlob(*recorded, 0, expected.data(), expected.size());
    if (Hash(found->blob) != expected) throw RunError::PackageDamaged(id, DescribedFileName(res, id));
  }
}

}  // namespace ttu::deploy
