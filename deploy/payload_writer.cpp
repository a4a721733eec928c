#include "deploy/payload_writer.h"

#include "deploy/manifest.h"
#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "support/run_error.h"
#include "support/zip_delta.h"

namespace ttu::deploy {
namespace {

uint32_t IdOf(int32_t j) { return static_cast<uint32_t>(kFirstItemId + static_cast<int64_t>(j)); }

// A payload that does not give its file: the package is damaged.
RunError Damaged(platform::Resources& res, uint32_t id, const std::string& why) {
  const std::string name = DescribedFileName(res, id);
  return RunError::PackageDamaged("resource " + std::to_string(id) + (name.empty() ? "" : " (" + name + ")") + ": " +
                                  why);
}

// Stages for `target` what `decode` makes.
template <typename Decode>
std::unique_ptr<platform::StagedFile> StageDecoded(platform::FileSystem& files, const std::string& target,
                                                  platform::Resources& res, uint32_t id, const Decode& decode) {
  return files.StageWith(target, [&](const platform::ByteSink& put) {
    try {
      decode(put);
    } catch (const payload::DecodeError& e) {
      throw Damaged(res, id, e.what());
    }
  });
}

std::unique_ptr<platform::StagedFile> ApplyDelta(platform::FileSystem& files, const std::string& target,
                                                platform::Resources& res, uint32_t id, const Payload& delta,
                                                const delta::Header& h) {
  return StageDecoded(files, target, res, id, [&](const platform::ByteSink& put) {
    // Open only while the new file is made: it must be closed before it is replaced.
    const auto base = files.OpenFile(target);
    if (!base) throw RunError::Of(kErrFileNotFound);  // gone since it was checked
    try {
      if (h.kind == delta::Kind::kZip) {
        const auto scratch = files.NewScratchFile(target);
        zipdelta::Apply(platform::BlobSource(delta.blob), *base, *scratch, put);
      } else {
        delta::Apply(platform::BlobSource(delta.blob), *base, put);
      }
    } catch (const delta::ChecksumMismatch&) {
      // The sealed delta held: the installed file changed under it, and
      // every retry would fail the same way until the person knows.
      std::string difference = BaseDifference(files, target, h);
      if (difference.empty()) difference = "it changed while the update was made from it";
      throw RunError::NotTheInstalledVersion(BaseNeeded(target, h, difference));
    }
  });
}

}  // namespace

std::optional<Payload> FindFull(platform::Resources& res, uint32_t id) {
  if (auto blob = res.Data(id, kPayloadType)) return Payload{PayloadKind::kStored, *blob};
  if (auto blob = res.Data(id, zpayload::kResourceType)) return Payload{PayloadKind::kCompressed, *blob};
  if (auto blob = res.Data(id, gpayload::kPartType)) return Payload{PayloadKind::kGrouped, *blob};
  return std::nullopt;
}

std::optional<Payload> FindDelta(platform::Resources& res, uint32_t id) {
  if (auto blob = res.Data(id, delta::kResourceType)) return Payload{PayloadKind::kDelta, *blob};
  return std::nullopt;
}

std::optional<Payload> FindPayload(platform::Resources& res, uint32_t id) {
  if (auto full = FindFull(res, id)) return full;
  return FindDelta(res, id);
}

RunError GroupDamaged(platform::Resources& res, uint32_t id, uint32_t group) {
  return Damaged(res, id, "its group " + std::to_string(group) + " does not match its checksum");
}

std::pair<gpayload::Part, platform::Blob> GroupOf(platform::Resources& res, uint32_t id, const Payload& part) {
  uint8_t bytes[gpayload::kPartSize] = {};
  if (part.blob.size != sizeof bytes) throw Damaged(res, id, "it is not a grouped payload");
  platform::ReadBlob(part.blob, 0, bytes, sizeof bytes);
  const auto p = gpayload::DecodePart(bytes);
  if (!p) throw Damaged(res, id, "it is not a grouped payload");
  const auto group = p->group <= 0xFFFF ? res.Data(p->group, gpayload::kGroupType) : std::nullopt;
  if (!group) throw Damaged(res, id, "its group " + std::to_string(p->group) + " is missing");
  return {*p, *group};
}

delta::Header DeltaHeader(platform::Resources& res, uint32_t id, const Payload& delta) {
  const auto h = delta::ReadHeader(platform::BlobSource(delta.blob));
  if (!h) throw Damaged(res, id, "it is not a delta");
  return *h;
}

std::string BaseDifference(platform::FileSystem& files, const std::string& target, const delta::Header& h) {
  const auto base = files.OpenFile(target);
  if (!base) return "it is missing";
  if (base->Size() != h.base_size) return "it has " + std::to_string(base->Size()) + " bytes";
  const auto digest = checksum::DigestOf(*base);
  if (!digest) throw RunError::Of(kErrPathFileAccess);
  return *digest == h.base_digest ? "" : "it has other content";
}

std::string BaseNeeded(const std::string& target, const delta::Header& h, const std::string& difference) {
  return target + " (the update needs " + std::to_string(h.base_size) + " bytes, XXH3-128 " +
         checksum::Hex(h.base_digest) + "; " + difference + ")";
}

std::unique_ptr<platform::StagedFile> StagePayload(platform::FileSystem& files, const std::string& target,
                                                  platform::Resources& res, int32_t j, gpayload::GroupReader& groups,
                                                  bool base_checked) {
  const uint32_t id = IdOf(j);
  const auto full = FindFull(res, id);
  // A file compressed alone: the group's frame (its window, up to 8 MiB)
  // goes before the file's own decoder takes another. The packer ends a group
  // before such a file, so no group is decoded twice.
  if (full && full->kind == PayloadKind::kCompressed) groups.Close();
  if (const auto delta = FindDelta(res, id)) {
    const delta::Header h = DeltaHeader(res, id, *delta);
    const std::string difference = base_checked ? "" : BaseDifference(files, target, h);
    if (difference.empty()) {
      if (h.Unchanged()) return nullptr;  // an unchanged file is kept as it is
      return ApplyDelta(files, target, res, id, *delta, h);
    }
    if (!full) throw RunError::NotTheInstalledVersion(BaseNeeded(target, h, difference));
  }
  if (!full) throw RunError::ResourceNotFound(id);
  if (full->kind == PayloadKind::kStored) return files.Stage(target, full->blob);
  if (full->kind == PayloadKind::kGrouped) {
    const auto grouped = GroupOf(res, id, *full);
    return StageDecoded(files, target, res, id, [&](const platform::ByteSink& put) {
      groups.Decode(grouped.first, std::make_unique<platform::BlobSource>(grouped.second), put);
    });
  }
  return StageDecoded(files, target, res, id, [&](const platform::ByteSink& put) {
    zpayload::Decode(platform::BlobSource(full->blob), put);
  });
}

}  // namespace ttu::deploy
