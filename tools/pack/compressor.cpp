#include "tools/pack/compressor.h"

#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "deploy/manifest.h"
#include "support/compressed_payload.h"
#include "support/payload_checksum.h"
#include "tools/pack/output_file.h"
#include "tools/pack/zstd_encoder.h"

namespace ttu::pack {
namespace {

constexpr std::size_t kPiece = 1 << 20;
// Beyond the level's own window, long-distance matching finds repeats across
// the whole of a large file, up to the largest window the updater accepts.
constexpr uint64_t kLongFrom = 8 << 20;

// Compresses one payload into `out`: header, then the frame. False when the
// result would not be smaller than the file.
bool CompressOne(const DataEntry& d, int level, int out) {
  const SourceFile planned = StatSource(d.path);
  uint64_t size = 0;
  const platform::Fd in = OpenRegularFile(d.path, size);
  CheckUnchanged(in.get(), planned);
  const bool large = size > kLongFrom;
  const ZstdEncoder c =
      MakeEncoder({level, size, large ? WindowLogFor(size, zpayload::kMaxWindowLog) : 0, large}, d.path);

  std::vector<uint8_t> piece(std::min<uint64_t>(kPiece, std::max<uint64_t>(size, 1)));
  std::vector<uint8_t> frame(ZSTD_CStreamOutSize());
  checksum::Hasher hash;
  uint64_t read = 0, written = zpayload::kHeaderSize;
  const auto drain = [&](ZSTD_inBuffer& ib, ZSTD_EndDirective mode) {
    for (;;) {
      ZSTD_outBuffer ob{frame.data(), frame.size(), 0};
      const std::size_t left = ZSTD_compressStream2(c.get(), &ob, &ib, mode);
      CheckZstd(left, d.path);
      if (!platform::WriteFully(out, frame.data(), ob.pos, written)) FailWithErrno("cannot write a temporary file");
      written += ob.pos;
      if (written >= size + zpayload::kHeaderSize) return false;  // no smaller: stored instead
      if (mode == ZSTD_e_end ? left == 0 : ib.pos == ib.size) return true;
    }
  };
  while (read < size) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), size - read));
    if (!platform::ReadFully(in.get(), piece.data(), n, read)) FailWithErrno("cannot read " + d.path);
    hash.Add({piece.data(), n});
    read += n;
    ZSTD_inBuffer ib{piece.data(), n, 0};
    if (!drain(ib, read < size ? ZSTD_e_continue : ZSTD_e_end)) return false;
  }
  if (size == 0) {
    ZSTD_inBuffer none{nullptr, 0, 0};
    if (!drain(none, ZSTD_e_end)) return false;
  }
  CheckUnchanged(in.get(), planned);
  const auto header = zpayload::EncodeHeader({size, hash.Finish()});
  if (!platform::WriteFully(out, header.data(), header.size(), 0)) FailWithErrno("cannot write a temporary file");
  return true;
}

}  // namespace

void CompressPayloads(PackageDescription& desc, int level, const std::string& temp_dir, MadePayloads& made) {
  std::vector<platform::Fd> files(desc.data.size());
  std::vector<char> smaller(desc.data.size());  // (not vector<bool>: threads write it)
  RunJobs(desc.data.size(), [&](std::size_t k) {
    if (desc.data[k].type != deploy::kPayloadType) return;  // a delta is compressed already
    files[k] = UnnamedFile(temp_dir);
    smaller[k] = CompressOne(desc.data[k], level, files[k].get());
  });
  for (std::size_t k = 0; k < desc.data.size(); ++k) {
    if (!smaller[k]) continue;
    desc.data[k].type = zpayload::kResourceType;
    desc.data[k].path = made.Keep(std::move(files[k]));
  }
}

}  // namespace ttu::pack
