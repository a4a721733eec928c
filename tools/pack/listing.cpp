#include "tools/pack/listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <openssl/evp.h>

#include <algorithm>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>

#include "deploy/manifest.h"
#include "deploy/package_seal.h"
#include "platform/package_resources.h"
#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
#include "support/grouped_payload.h"
#include "support/zip_delta.h"
#include "tools/pack/zip_delta_builder.h"
#include "support/payload_checksum.h"
#include "support/pe_resources.h"
#include "support/resource_section.h"
#include "support/text.h"
#include "tools/pack/output_file.h"
#include "tools/pack/package_description.h"
#include "tools/pack/package_reader.h"

namespace ttu::pack {
namespace {

// A payload's digests, read once: SHA-256 by OpenSSL (which uses the
// processor's SHA instructions where it has them), for the reader, and the
// XXH3-128 that the updater checks; 1 MiB at a time.
struct Digests {
  std::string sha256;
  checksum::Digest xxh3{};
};

Digests DigestsOf(const FileSource& source, uint64_t offset, uint64_t size) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) throw PackError("SHA-256 is not available");
  // SHA-256 takes the most time: it runs here while a second thread reads the
  // next piece and adds it to the XXH3-128 (two pieces in memory).
  checksum::Hasher xxh3;
  constexpr std::size_t kPiece = 2 << 20;
  std::vector<uint8_t> buf[2] = {std::vector<uint8_t>(kPiece), std::vector<uint8_t>(kPiece)};
  const auto read = [&](int b, uint64_t at, std::size_t n) {
    if (!source.Read(offset + at, buf[b].data(), n)) return false;
    xxh3.Add({buf[b].data(), n});
    return true;
  };
  const auto piece_at = [&](uint64_t at) { return static_cast<std::size_t>(std::min<uint64_t>(kPiece, size - at)); };
  int current = 0;
  std::future<bool> next = std::async(std::launch::async, read, current, 0, piece_at(0));
  for (uint64_t at = 0; at < size;) {
    if (!next.get()) throw PackError("cannot read a payload");
    const std::size_t n = piece_at(at);
    if (at + n < size) next = std::async(std::launch::async, read, 1 - current, at + n, piece_at(at + n));
    EVP_DigestUpdate(ctx.get(), buf[current].data(), n);
    at += n;
    current = 1 - current;
  }
  if (next.valid()) next.get();
  unsigned char sha[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx.get(), sha, &length);
  return {checksum::Hex({sha, length}), xxh3.Finish()};
}

// Payloads that languages share are read once; any other two never share a
// byte (the packer writes none such), so that listing reads each byte of the
// file at most once, whatever its directory says.
void CheckPayloadRanges(const resfmt::Directory& dir, const std::string& path) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const auto& d : dir.data) {
    if (d.size) ranges.emplace_back(d.offset, d.size);
  }
  std::sort(ranges.begin(), ranges.end());
  ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
  for (std::size_t k = 1; k < ranges.size(); ++k) {
    if (ranges[k].first < ranges[k - 1].first + ranges[k - 1].second) {
      throw PackError(path + ": error: damaged: two of its resources overlap");
    }
  }
}

const Digests& DigestsOf(std::map<std::pair<uint64_t, uint64_t>, Digests>& cache, const FileSource& source,
                         const resfmt::DataEntry& d) {
  const auto key = std::make_pair(d.offset, d.size);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, DigestsOf(source, d.offset, d.size)).first;
  return it->second;
}

// The line of a language's seal; `damaged` set when it does not match.
std::string SealLine(platform::Resources& res, bool& damaged) {
  const auto seal = res.Data(deploy::kSealId, deploy::kSealType);
  if (!seal) return "  not sealed\n";
  checksum::Digest recorded{};
  if (seal->size == recorded.size()) {
    platform::ReadBlob(*seal, 0, recorded.data(), recorded.size());
    if (deploy::SealOf(res) == recorded) return "  seal XXH3-128 " + checksum::Hex(recorded) + ": the package matches it\n";
  }
  damaged = true;
  return "  seal: DOES NOT MATCH (the item count, a descriptor or a checksum was changed)\n";
}

// How many items a count text names, as a press counts them.
long ItemsOf(const std::string& count) {
  try {
    return static_cast<long>(deploy::LastIndexOf(count)) + 1;
  } catch (const std::exception&) {
    return 0;
  }
}

// The line of a payload's recorded checksum; `damaged` set when it does not match.
std::string ChecksumLine(const FileSource& source, const resfmt::DataEntry* recorded, const Digests& payload,
                         bool& damaged) {
  if (!recorded) return "    no recorded checksum\n";
  checksum::Digest want{};
  if (recorded->size != want.size() || !source.Read(recorded->offset, want.data(), want.size())) {
    damaged = true;
    return "    checksum XXH3-128: DAMAGED (not a checksum)\n";
  }
  if (want == payload.xxh3) return "    checksum XXH3-128 " + checksum::Hex(want) + ": the payload matches it\n";
  damaged = true;
  return "    checksum XXH3-128 " + checksum::Hex(want) + ": DOES NOT MATCH (the payload's is " +
         checksum::Hex(payload.xxh3) + ")\n";
}

// What a compressed payload decodes to: the file's SHA-256, checked against
// the checksum its header records; `damaged` set when it does not decode.
// What `decode` makes, with `how` it was compressed (given the file's header).
std::string DecodedLine(const std::function<payload::FileHeader(const payload::Sink&)>& decode,
                        const std::function<std::string(const payload::FileHeader&)>& how, bool& damaged) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) throw PackError("SHA-256 is not available");
  try {
    const auto header = decode([&](const uint8_t* p, std::size_t n) { EVP_DigestUpdate(ctx.get(), p, n); });
    unsigned char sha[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), sha, &length);
    return "    file: " + std::to_string(header.size) + " bytes whole (" + how(header) + "), SHA-256 " +
           checksum::Hex({sha, length}) + ": it decodes to its checksum\n";
  } catch (const payload::DecodeError& e) {
    damaged = true;
    return std::string("    file: DOES NOT DECODE (") + e.what() + ")\n";
  }
}

// A grouped payload's file, out of its group, whose checksum the part holds.
std::string PartLine(const FileSource& source, const resfmt::ResourceTable& table, const resfmt::DataEntry& d,
                     gpayload::GroupReader& groups, std::set<std::pair<uint32_t, checksum::Digest>>& checked_groups, bool& damaged) {
  std::vector<uint8_t> bytes(static_cast<std::size_t>(std::min<uint64_t>(d.size, gpayload::kPartSize + 1)));
  const auto part = source.Read(d.offset, bytes.data(), bytes.size()) ? gpayload::DecodePart(bytes) : std::nullopt;
  const auto* group = part && part->group <= 0xFFFF ? table.Data(static_cast<uint32_t>(part->group), gpayload::kGroupType)
                                                    : nullptr;
  if (!part || !group) {
    damaged = true;
    return part ? "    file: its group " + std::to_string(part->group) + " IS MISSING\n"
                : std::string("    file: NOT A GROUPED PAYLOAD\n");
  }
  const SliceSource group_bytes(source, group->offset, group->size);
  const std::pair key{part->group, part->group_digest};
  if (!checked_groups.count(key) && *checksum::DigestOf(group_bytes) != part->group_digest) {
    damaged = true;
    return "    file: its group " + std::to_string(part->group) + " DOES NOT MATCH ITS CHECKSUM\n";
  }
  checked_groups.insert(key);
  const auto decode = [&](const payload::Sink& sink) {
    groups.Decode(*part, std::make_unique<SliceSource>(source, group->offset, group->size), sink);
    return part->file;
  };
  const auto how = [&](const payload::FileHeader&) {
    return "in group " + std::to_string(part->group) + " of " + std::to_string(group->size) + " bytes, at " +
           std::to_string(part->offset);
  };
  return DecodedLine(decode, how, damaged);
}

// What a delta needs installed and what it makes; beside a file whole, the
// checksum of its streams is checked too. `damaged` set when it is not a delta.
std::string DeltaLine(const FileSource& source, const resfmt::DataEntry& d, bool beside_whole, bool& damaged) {
  const SliceSource payload(source, d.offset, d.size);
  const auto h = delta::ReadHeader(payload);
  if (!h) {
    damaged = true;
    return "    delta: DAMAGED (no delta's header)\n";
  }
  std::string kind = "plain";
  if (h->kind == delta::Kind::kZip) {
    try {
      kind = "ZIP, " + DescribeFindings(zipdelta::ReadLayout(payload).plan);
    } catch (const payload::DecodeError& e) {
      damaged = true;
      return std::string("    delta: DAMAGED (") + e.what() + ")\n";
    }
  }
  std::string line = h->Unchanged() ? "    unchanged: keeps the installed file of " + std::to_string(h->size) +
                                          " bytes, XXH3-128 " + checksum::Hex(h->digest) + "\n"
                                    : "    delta (" + kind + "): needs the installed file of " +
                                          std::to_string(h->base_size) +
                                          " bytes, XXH3-128 " + checksum::Hex(h->base_digest) + "; makes " +
                                          std::to_string(h->size) + " bytes, XXH3-128 " + checksum::Hex(h->digest) +
                                          "\n";
  if (!beside_whole) return line;
  const auto body = delta::BodyDigest(payload);
  if (body == h->body_digest) return line + "    its streams match their checksum\n";
  damaged = true;
  return line + "    its streams: DO NOT MATCH their checksum\n";
}

std::string Hex4(uint16_t v) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%04X", v);
  return s;
}

}  // namespace

void ListPackage(const std::string& path, std::FILE* out) {
  uint64_t size = 0;
  const platform::Fd fd = OpenRegularFile(path, size);
  const FileSource source(fd.get(), size);
  auto package = ReadPackage(source, path);
  std::set<uint16_t> languages;
  for (const auto& b : package ? package->dir.strings : std::vector<resfmt::StringBlock>{}) {
    if (resfmt::StringFromBlock(b.bytes, 100 % 16) && b.block == 100 / 16 + 1) languages.insert(b.language);
  }
  if (languages.empty()) throw PackError(path + ": carries no package (no item count, string 100)");
  CheckPayloadRanges(package->dir, path);
  std::fprintf(out, "%s: %s\n", path.c_str(), package->kind.c_str());
  std::map<std::pair<uint64_t, uint64_t>, Digests> digests;  // a payload shared by languages is read once
  bool damaged = false;
  resfmt::ResourceTable table(std::move(package->dir));
  for (uint16_t language : languages) {
    // Each language read as a user of that language gets it.
    table.set_user_language(language);
    platform::PackageResources res(path, table);
    const std::string count = table.String(100).value_or("");
    std::fprintf(out, "language %s: item count \"%s\"\n", Hex4(language).c_str(), count.c_str());
    const long n = std::min<long>(ItemsOf(count), deploy::kLastPossibleIndex + 1);
    gpayload::GroupReader groups;  // the items of a group, in order, decode it once
    std::set<std::pair<uint32_t, checksum::Digest>> checked_groups;  // each read once
    for (long j = 0; j < n; ++j) {
      const auto id = static_cast<uint32_t>(101 + j);
      const auto descriptor = table.String(id);
      std::fprintf(out, "  item %ld: %s\n", j, descriptor ? ("\"" + *descriptor + "\"").c_str() : "(no descriptor)");
      bool whole = false, found = false;
      for (const char* type :
           {deploy::kPayloadType, zpayload::kResourceType, gpayload::kPartType, delta::kResourceType}) {
        const auto* d = table.Data(id, type);
        const bool is_delta = type == delta::kResourceType;
        if (!d || (whole && !is_delta)) continue;  // the updater writes the first file whole it finds
        const Digests& payload = DigestsOf(digests, source, *d);
        std::fprintf(out, "    payload %s %u (%s): %llu bytes, SHA-256 %s\n", type, id, Hex4(d->language).c_str(),
                     static_cast<unsigned long long>(d->size), payload.sha256.c_str());
        // The record is the file whole's where there is one.
        if (!found) std::fputs(ChecksumLine(source, table.Data(id, checksum::kResourceType), payload, damaged).c_str(), out);
        if (type == zpayload::kResourceType) {
          const auto decode = [&](const payload::Sink& sink) {
            return zpayload::Decode(SliceSource(source, d->offset, d->size), sink);
          };
          const auto how = [&](const payload::FileHeader& h) {
            char ratio[48];
            std::snprintf(ratio, sizeof ratio, "compressed to %.1f %%",
                          h.size ? 100.0 * static_cast<double>(d->size) / static_cast<double>(h.size) : 0.0);
            return std::string(ratio);
          };
          std::fputs(DecodedLine(decode, how, damaged).c_str(), out);
        }
        if (type == gpayload::kPartType) std::fputs(PartLine(source, table, *d, groups, checked_groups, damaged).c_str(), out);
        if (is_delta) std::fputs(DeltaLine(source, *d, found, damaged).c_str(), out);
        whole = whole || !is_delta;
        found = true;
      }
      if (!found) std::fprintf(out, "    payload CUSTOM %u: missing\n", id);
    }
    std::fputs(SealLine(res, damaged).c_str(), out);
  }
  if (damaged) throw PackError(path + ": error: damaged: its seal or a payload's checksum does not match");
}

}  // namespace ttu::pack
