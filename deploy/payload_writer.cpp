#include "deploy/payload_writer.h"

#include "deploy/manifest.h"
#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "support/run_error.h"

namespace ttu::deploy {
namespace {

// A resource read through the platform, piece by piece.
class BlobSource final : public ByteSource {
 public:
  explicit BlobSource(const platform::Blob& blob) : blob_(blob) {}
  uint64_t Size() const override { return blob_.size; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    platform::ReadBlob(blob_, offset, out, n);  // raises when it cannot
    return true;
  }

 private:
  const platform::Blob& blob_;
};

}  // namespace

std::optional<Payload> FindPayload(platform::Resources& res, uint32_t id) {
  if (auto blob = res.Data(id, kPayloadType)) return Payload{PayloadKind::kStored, *blob};
  if (auto blob = res.Data(id, zpayload::kResourceType)) return Payload{PayloadKind::kCompressed, *blob};
  return std::nullopt;
}

void WritePayload(platform::FileSystem& files, const std::string& target, platform::Resources& res, int32_t j) {
  const auto id = static_cast<uint32_t>(kFirstItemId + static_cast<int64_t>(j));
  const auto payload = FindPayload(res, id);
  if (!payload) throw RunError::ResourceNotFound(id);
  if (payload->kind == PayloadKind::kStored) {
    files.ReplaceFile(target, payload->blob);
    return;
  }
  files.ReplaceFileWith(target, [&](const platform::ByteSink& put) {
    try {
      zpayload::Decode(BlobSource(payload->blob), put);
    } catch (const zpayload::DecodeError& e) {
      const std::string name = DescribedFileName(res, id);
      throw RunError::PackageDamaged("resource " + std::to_string(id) + (name.empty() ? "" : " (" + name + ")") + ": " +
                                     e.what());
    }
  });
}

}  // namespace ttu::deploy
