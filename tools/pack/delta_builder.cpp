#include "tools/pack/delta_builder.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>

#include "deploy/manifest.h"
#include "support/delta_payload.h"
#include "tools/pack/differ.h"
#include "tools/pack/output_file.h"
#include "tools/pack/zip_delta_builder.h"
#include "tools/pack/zip_redeflate.h"
#include "tools/pack/zstd_encoder.h"

namespace ttu::pack {
namespace {

using Bytes = std::vector<uint8_t>;

// The payloads without a previous version that the note names; the others are counted.
constexpr std::size_t kNamedInNote = 5;

std::string PreviousVersion(const std::string& old_folder, const std::string& file) {
  const std::string name = file[0] == '/' ? file.substr(file.find_last_of('/') + 1) : file;
  return old_folder + "/" + name;
}

}  // namespace

void AppendDeltaFrame(Bytes& out, const Bytes& bytes, int level, const std::string& what) {
  const ZstdEncoder c = MakeEncoder({level, bytes.size(), WindowLogFor(bytes.size(), delta::kMaxWindowLog)}, what);
  const std::size_t at = out.size();
  out.resize(at + ZSTD_compressBound(bytes.size()));
  out.resize(at + CheckZstd(ZSTD_compress2(c.get(), out.data() + at, out.size() - at, bytes.data(), bytes.size()), what));
}

Bytes DeltaPayload(const Bytes& old_file, const Bytes& new_file, int level, const std::string& what,
                   std::span<const Zone> zones) {
  delta::Header h;
  h.size = new_file.size();
  h.digest = checksum::DigestOf(new_file);
  h.base_size = old_file.size();
  h.base_digest = checksum::DigestOf(old_file);
  Bytes body;
  if (old_file != new_file) {
    const Differences d = Diff(old_file, new_file, zones);
    uint64_t* sizes[] = {&h.control, &h.runs, &h.values, &h.extra};
    const std::vector<uint8_t>* streams[] = {&d.control, &d.runs, &d.values, &d.extra};
    for (std::size_t k = 0; k < 4; ++k) {
      const std::size_t before = body.size();
      AppendDeltaFrame(body, *streams[k], level, what);
      *sizes[k] = body.size() - before;
    }
  }
  Bytes out = delta::EncodeHeader(h);
  out.insert(out.end(), body.begin(), body.end());
  h.body_digest = *delta::BodyDigest(MemorySource(out));
  const Bytes header = delta::EncodeHeader(h);
  std::copy(header.begin(), header.end(), out.begin());
  return out;
}

namespace {

// The differ indexes the previous version with 32-bit positions.
constexpr uint64_t kMaxDiffed = (uint64_t{1} << 31) - 1;

// "a, b, c and 2 more": the first few names, the others counted.
class NameList {
 public:
  void Add(const std::string& name) {
    if (++count_ <= kNamedInNote) text_ += (text_.empty() ? "" : ", ") + name;
  }
  bool empty() const { return count_ == 0; }
  std::string Text() const {
    return count_ > kNamedInNote ? text_ + " and " + std::to_string(count_ - kNamedInNote) + " more" : text_;
  }

 private:
  std::string text_;
  std::size_t count_ = 0;
};

}  // namespace

std::string MakeDeltas(PackageDescription& desc, const DeltaOptions& options, const std::string& temp_dir,
                       MadePayloads& made) {
  struct stat st {};
  if (::stat(options.old_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw PackError(options.old_folder + ": error: --delta-from needs the folder of the previous version's payloads");
  }
  const std::size_t count = desc.data.size();
  std::vector<std::string> previous(count);
  NameList missing, too_large;
  for (std::size_t k = 0; k < count; ++k) {
    const DataEntry& d = desc.data[k];
    if (d.type != deploy::kPayloadType) continue;
    previous[k] = PreviousVersion(options.old_folder, d.file);
    // What is no regular file (a folder, a FIFO, a link to a device) is no
    // previous version: the file is carried whole, as when there is none.
    struct stat old_st {}, new_st {};
    if (::stat(previous[k].c_str(), &old_st) != 0 || !S_ISREG(old_st.st_mode)) {
      missing.Add(d.file);
      previous[k].clear();
    } else if (static_cast<uint64_t>(old_st.st_size) > kMaxDiffed ||
               (::stat(d.path.c_str(), &new_st) == 0 && static_cast<uint64_t>(new_st.st_size) > kMaxDiffed)) {
      too_large.Add(d.file);
      previous[k].clear();
    }
  }
  std::vector<platform::Fd> files(count);
  std::vector<ZipFindings> zips(count);
  RunJobs(count, [&](std::size_t k) {
    if (previous[k].empty()) return;
    const SourceFile planned = StatSource(desc.data[k].path);
    Bytes old_file = ReadSource(StatSource(previous[k]));
    // Installed as this option shipped it: re-deflated the same way.
    if (options.redeflate_zips) {
      if (auto r = RedeflateArchive(old_file)) old_file = std::move(r->archive);
    }
    Bytes new_file = ReadSource(planned);
    const bool same = old_file == new_file;
    const std::size_t new_size = new_file.size();
    auto zipped = same ? std::nullopt
                       : ZipDeltaPayload(old_file, new_file, options.level, desc.data[k].path, zips[k]);
    const Bytes payload = zipped ? std::move(*zipped) : DeltaPayload(old_file, new_file, options.level, desc.data[k].path);
    // An unchanged file is never written again, however small; a delta no
    // smaller than its file is not worth the installed version it needs.
    if (!same && payload.size() >= new_size) return;
    platform::Fd fd = UnnamedFile(temp_dir);
    if (!platform::WriteFully(fd.get(), payload.data(), payload.size(), 0)) {
      FailWithErrno("cannot write a temporary file");
    }
    files[k] = std::move(fd);
  });
  for (std::size_t k = 0; k < count; ++k) {
    if (!files[k]) continue;
    DataEntry delta = desc.data[k];
    delta.type = delta::kResourceType;
    delta.path = made.Keep(std::move(files[k]));
    delta.recorded = !options.with_full;
    if (options.with_full) {
      desc.data.push_back(std::move(delta));
    } else {
      desc.data[k] = std::move(delta);
    }
  }
  std::string note;
  if (!missing.empty()) note = "no previous version of " + missing.Text() + " in " + options.old_folder + ": carried whole";
  if (!too_large.empty()) {
    note += (note.empty() ? "" : "; ") + too_large.Text() +
            ": a version past 2 GiB, beyond what the differ indexes: carried whole";
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (!zips[k].archives || zips[k].plan.changed == 0) continue;
    const zipdelta::Plan& p = zips[k].plan;
    note += (note.empty() ? "" : "; ") + desc.data[k].file + ": ZIP archive, " + DescribeFindings(p);
    if (p.file.size() < p.changed) {
      note += "; the others were deflated by another program and travel as their bytes (--redeflate-zips ships "
              "such archives deflated by this packer's zlib)";
    }
  }
  return note;
}

}  // namespace ttu::pack
