#include "tools/pack/compressor.h"

#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "deploy/manifest.h"
#include "support/compressed_payload.h"
#include "support/grouped_payload.h"
#include "support/payload_checksum.h"
#include "tools/pack/output_file.h"
#include "tools/pack/zstd_encoder.h"

namespace ttu::pack {
namespace {

constexpr std::size_t kPiece = 1 << 20;
// Beyond the level's own window, long-distance matching finds repeats across
// the whole of a large file, up to the largest window the updater accepts.
constexpr uint64_t kLongFrom = 8 << 20;
// Files up to 1 MiB are compressed in groups of up to 8 MiB, each group one
// frame: Wine's 694 DLLs and EXEs (159 MB) come to 15.7 % of their size so,
// against 26 % each alone and 21.7 % each alone with a dictionary trained on
// them; larger files gain little from their neighbours. A retry of one file
// decodes its group up to it (at most 8 MiB, a few milliseconds).
constexpr uint64_t kGroupedAtMost = 1 << 20;
constexpr uint64_t kGroupSize = 8 << 20;

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

// Whether a small file is worth a place in a group: zstd's fastest level
// already makes it smaller by more than its part costs. (A file that does not
// compress, or a few bytes, stays stored: in a group it would only lengthen
// the way to the files after it.)
bool WorthGrouping(const DataEntry& d) {
  const SourceFile planned = StatSource(d.path);
  if (planned.size == 0 || planned.size > kGroupedAtMost) return false;
  const std::vector<uint8_t> file = ReadSource(planned);
  std::vector<uint8_t> frame(ZSTD_compressBound(file.size()));
  const std::size_t n = ZSTD_compress(frame.data(), frame.size(), file.data(), file.size(), 1);
  return !ZSTD_isError(n) && n + gpayload::kPartSize < file.size();
}

// The payloads that go together into groups: small stored ones worth it, of
// the same language, in the package's order, a group no larger than kGroupSize.
// A file too large for a group ends the group before it: compressed alone,
// it has a window of its own, and an updater then never holds a group's
// window while it decodes such a file (a press's memory is one frame's).
std::vector<std::vector<std::size_t>> PlanGroups(const PackageDescription& desc) {
  std::vector<char> worth(desc.data.size());
  RunJobs(desc.data.size(), [&](std::size_t k) {
    worth[k] = desc.data[k].type == deploy::kPayloadType && WorthGrouping(desc.data[k]);
  });
  std::vector<std::vector<std::size_t>> groups;
  uint64_t size = 0;
  uint16_t language = 0;
  for (std::size_t k = 0; k < desc.data.size(); ++k) {
    const DataEntry& d = desc.data[k];
    const uint64_t n = StatSource(d.path).size;
    if (!worth[k]) {
      if (d.type == deploy::kPayloadType && n > kGroupedAtMost) size = kGroupSize + 1;  // the next one starts a group
      continue;
    }
    if (groups.empty() || size + n > kGroupSize || d.language != language) groups.emplace_back(), size = 0;
    groups.back().push_back(k);
    size += n, language = d.language;
  }
  std::erase_if(groups, [](const auto& g) { return g.size() < 2; });  // one alone is compressed alone
  return groups;
}

// The files of group `g` (entries `members`) compressed together: the group
// resource in `out`, and each member's part. Nothing when that is not smaller
// than the files stored.
std::optional<std::vector<std::vector<uint8_t>>> CompressGroup(const PackageDescription& desc,
                                                               const std::vector<std::size_t>& members, uint32_t g,
                                                               int level, int out) {
  std::vector<uint8_t> content;
  std::vector<gpayload::Part> parts;
  for (std::size_t k : members) {
    const std::vector<uint8_t> file = ReadSource(StatSource(desc.data[k].path));
    gpayload::Part p;
    p.file = {file.size(), checksum::DigestOf(file)};
    p.group = g;
    p.offset = content.size();
    parts.push_back(p);
    content.insert(content.end(), file.begin(), file.end());
  }
  const std::string what = "the group of " + desc.data[members.front()].path + " and the files after it";
  const ZstdEncoder c = MakeEncoder({level, content.size(), WindowLogFor(content.size(), gpayload::kMaxWindowLog)}, what);
  std::vector<uint8_t> group = gpayload::EncodeGroupHeader({content.size(), checksum::DigestOf(content)});
  group.resize(gpayload::kGroupHeaderSize + ZSTD_compressBound(content.size()));
  group.resize(gpayload::kGroupHeaderSize + CheckZstd(ZSTD_compress2(c.get(), group.data() + gpayload::kGroupHeaderSize,
                                                                     group.size() - gpayload::kGroupHeaderSize,
                                                                     content.data(), content.size()),
                                                      what));
  if (group.size() + parts.size() * gpayload::kPartSize >= content.size()) return std::nullopt;
  if (!platform::WriteFully(out, group.data(), group.size(), 0)) FailWithErrno("cannot write a temporary file");
  const checksum::Digest digest = checksum::DigestOf(group);
  std::vector<std::vector<uint8_t>> encoded;
  for (gpayload::Part& p : parts) {
    p.group_digest = digest;
    encoded.push_back(gpayload::EncodePart(p));
  }
  return encoded;
}

}  // namespace

void CompressPayloads(PackageDescription& desc, int level, const std::string& temp_dir, MadePayloads& made) {
  const auto groups = PlanGroups(desc);
  std::vector<char> grouped(desc.data.size());
  for (const auto& g : groups) {
    for (std::size_t k : g) grouped[k] = 1;
  }
  // The groups' jobs first (the largest work), then each file alone.
  std::vector<platform::Fd> group_files(groups.size());
  std::vector<std::optional<std::vector<std::vector<uint8_t>>>> parts(groups.size());
  std::vector<platform::Fd> files(desc.data.size());
  std::vector<char> smaller(desc.data.size());  // (not vector<bool>: threads write it)
  RunJobs(groups.size() + desc.data.size(), [&](std::size_t job) {
    if (job < groups.size()) {
      group_files[job] = UnnamedFile(temp_dir);
      parts[job] = CompressGroup(desc, groups[job], static_cast<uint32_t>(job + 1), level, group_files[job].get());
      return;
    }
    const std::size_t k = job - groups.size();
    if (desc.data[k].type != deploy::kPayloadType || grouped[k]) return;  // a delta is compressed already
    files[k] = UnnamedFile(temp_dir);
    smaller[k] = CompressOne(desc.data[k], level, files[k].get());
  });
  std::vector<DataEntry> group_entries;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (!parts[g]) {  // not smaller together: each is compressed alone
      RunJobs(groups[g].size(), [&](std::size_t m) {
        const std::size_t k = groups[g][m];
        files[k] = UnnamedFile(temp_dir);
        smaller[k] = CompressOne(desc.data[k], level, files[k].get());
      });
      continue;
    }
    DataEntry entry = desc.data[groups[g].front()];
    entry.id = static_cast<uint16_t>(g + 1);
    entry.type = gpayload::kGroupType;
    entry.file = "group " + std::to_string(g + 1);
    entry.path = made.Keep(std::move(group_files[g]));
    entry.recorded = false;  // its parts hold its checksum
    group_entries.push_back(std::move(entry));
    for (std::size_t m = 0; m < groups[g].size(); ++m) {
      platform::Fd fd = UnnamedFile(temp_dir);
      const auto& bytes = (*parts[g])[m];
      if (!platform::WriteFully(fd.get(), bytes.data(), bytes.size(), 0)) FailWithErrno("cannot write a temporary file");
      DataEntry& d = desc.data[groups[g][m]];
      d.type = gpayload::kPartType;
      d.path = made.Keep(std::move(fd));
    }
  }
  for (std::size_t k = 0; k < desc.data.size(); ++k) {
    if (!smaller[k]) continue;
    desc.data[k].type = zpayload::kResourceType;
    desc.data[k].path = made.Keep(std::move(files[k]));
  }
  desc.data.insert(desc.data.end(), group_entries.begin(), group_entries.end());
}

}  // namespace ttu::pack
