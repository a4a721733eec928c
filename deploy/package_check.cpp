#include "deploy/package_check.h"

#include <set>

#include "deploy/manifest.h"
#include "deploy/payload_writer.h"
#include "support/run_error.h"

namespace ttu::deploy {
namespace {

// A blob's checksum: in place where it is in memory, else read a MiB at a
// time (reading raises when it fails).
std::optional<checksum::Digest> Hash(const platform::Blob& blob) {
  if (blob.data) return checksum::DigestOf({static_cast<const uint8_t*>(blob.data), static_cast<std::size_t>(blob.size)});
  return checksum::DigestOf(platform::BlobSource(blob));
}

}  // namespace

PackageCheck::PackageCheck(const ItemTables& tables, platform::Resources& res) {
  // tessiro-pack records a checksum for every payload: where one has it, a
  // payload without one lost its record to damage.
  bool recorded_any = false;
  for (int32_t j = 0; j <= tables.LastIndex && !recorded_any; ++j) {
    recorded_any = res.Data(kFirstItemId + static_cast<uint32_t>(j), checksum::kResourceType).has_value();
  }
  std::set<std::pair<uint32_t, checksum::Digest>> groups;
  for (int32_t j = 0; j <= tables.LastIndex; ++j) {
    const uint32_t id = kFirstItemId + static_cast<uint32_t>(j);
    const auto found = FindPayload(res, id);
    if (!found) continue;  // the pass reports a missing payload as it always has
    // A delta carried beside its file whole, which holds the record, is
    // checked against the checksum its header holds of its streams.
    if (found->kind != PayloadKind::kDelta) {
      if (const auto delta = FindDelta(res, id)) {
        readings_.push_back({What::kDeltaBody, id, 0, delta->blob, DeltaHeader(res, id, *delta).body_digest});
      }
    }
    // A part holds its group's checksum; each group is read once a press.
    if (found->kind == PayloadKind::kGrouped) {
      const auto [part, group] = GroupOf(res, id, *found);
      if (groups.insert({part.group, part.group_digest}).second) {
        readings_.push_back({What::kGroup, id, part.group, group, part.group_digest});
      }
    }
    if (!recorded_any) continue;  // linked by the resource compiler, or packed before checksums
    const auto recorded = res.Data(id, checksum::kResourceType);
    if (!recorded) throw RunError::PackageDamaged("the checksum of resource " + std::to_string(id) + " is missing");
    Reading r{What::kPayload, id, 0, found->blob, {}};
    if (recorded->size != r.expected.size()) throw RunError::PackageDamaged(id, DescribedFileName(res, id));
    platform::ReadBlob(*recorded, 0, r.expected.data(), r.expected.size());
    readings_.push_back(r);
  }
}

void PackageCheck::Read(const std::atomic<bool>& stop) {
  try {
    for (const Reading& r : readings_) {
      if (stop.load(std::memory_order_relaxed)) return;
      const auto digest = r.what == What::kDeltaBody ? delta::BodyDigest(platform::BlobSource(r.blob)) : Hash(r.blob);
      if (digest != r.expected) {  // unreadable is damage too
        failed_ = &r;
        return;
      }
    }
  } catch (...) {
    unreadable_ = std::current_exception();
  }
}

void PackageCheck::Raise(platform::Resources& res) const {
  if (unreadable_) std::rethrow_exception(unreadable_);
  if (!failed_) return;
  if (failed_->what == What::kGroup) throw GroupDamaged(res, failed_->id, failed_->group);
  throw RunError::PackageDamaged(failed_->id, DescribedFileName(res, failed_->id));
}

void CheckPackage(const ItemTables& tables, platform::Resources& res) {
  PackageCheck check(tables, res);
  const std::atomic<bool> never{false};
  check.Read(never);
  check.Raise(res);
}

BackgroundCheck::BackgroundCheck(const ItemTables& tables, platform::Resources& res)
    : check_(tables, res), reader_([this] { check_.Read(stop_); }) {}

BackgroundCheck::~BackgroundCheck() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
}

void BackgroundCheck::Wait(platform::Resources& res) {
  if (reader_.joinable()) reader_.join();
  check_.Raise(res);
}

}  // namespace ttu::deploy
