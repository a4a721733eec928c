#include "tools/pack/zip_redeflate.h"

#include <algorithm>
#include <map>
#include <span>

#include "support/deflate.h"
#include "support/little_endian.h"
#include "support/zip_archive.h"
#include "deploy/manifest.h"
#include "tools/pack/deflate_settings.h"
#include "tools/pack/output_file.h"

namespace ttu::pack {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t k32 = 0xFFFFFFFF;  // "in the ZIP64 field"
// Archives are read whole, and zlib counts in 32 bits.
constexpr uint64_t kLargestRead = (uint64_t{1} << 31) - 1;

struct Refused {
  std::string why;
};
[[noreturn]] void Refuse(std::string why) { throw Refused{std::move(why)}; }

// Where in `extra` (a header's extra fields) the ZIP64 field's values start; npos without one.
std::size_t Zip64Values(std::span<uint8_t> extra) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const uint16_t id = le::Get16(&extra[at]), length = le::Get16(&extra[at + 2]);
    if (id == kZip64Extra) return at + 4;
    at += 4 + length;
  }
  return std::string::npos;
}

// Sets a 32-bit field that may say "in the ZIP64 field": there, the
// `slot`th 8-byte value of `values` (npos: none). Refused when the value
// does not fit where it goes.
void SetField(uint8_t* field, std::span<uint8_t> extra, std::size_t values, std::size_t slot, uint64_t v) {
  if (le::Get32(field) == k32) {
    if (values == std::string::npos || values + 8 * (slot + 1) > extra.size()) Refuse("a ZIP64 field is cut short");
    le::Put64(&extra[values + 8 * slot], v);
  } else {
    if (v >= k32) Refuse("it would need ZIP64 fields it does not have");
    le::Put32(field, static_cast<uint32_t>(v));
  }
}

// The ZIP64 slot a field takes: the values present come in the order
// size, compressed size, offset, each only where its field says 0xFFFFFFFF.
std::size_t SlotOf(const uint8_t* header, std::initializer_list<std::size_t> earlier_fields) {
  std::size_t slot = 0;
  for (std::size_t f : earlier_fields) slot += le::Get32(header + f) == k32;
  return slot;
}

Redeflated Write(const Bytes& file, const zip::Archive& a) {
  // The members to deflate again, and their new bytes.
  std::map<const zip::Member*, Bytes> again;
  for (const zip::Member& m : a.members) {
    if (m.method != zip::kDeflated || m.compressed_size == 0) continue;
    if (m.Encrypted()) Refuse("it has an encrypted member");
    const auto data = deflater::Inflate(zip::MemberData(file, m), m.size);
    if (!data || deflater::Crc32(0, *data) != m.crc32) Refuse("the member " + m.name + " does not inflate to its CRC");
    if (FindDeflateSettings(zip::MemberData(file, m), *data, m.flags)) continue;
    again[&m] = deflater::Deflate(*data, {ClaimedLevel(m.flags)});
  }
  if (again.empty()) return {};

  std::vector<const zip::Member*> order;
  for (const zip::Member& m : a.members) order.push_back(&m);
  std::sort(order.begin(), order.end(), [](auto* x, auto* y) { return x->header_offset < y->header_offset; });
  Bytes out;
  std::map<uint64_t, uint64_t> moved;  // old local header offset -> new
  uint64_t at = 0;
  for (const zip::Member* m : order) {
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
               file.begin() + static_cast<std::ptrdiff_t>(m->header_offset));  // what lies between members
    moved[m->header_offset] = out.size();
    const std::size_t header = out.size();
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(m->header_offset),
               file.begin() + static_cast<std::ptrdiff_t>(m->data_offset));
    const auto it = again.find(m);
    const uint64_t data_end = m->data_offset + m->compressed_size;
    if (it == again.end()) {
      out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(m->data_offset),
                 file.begin() + static_cast<std::ptrdiff_t>(m->end));
      at = m->end;
      continue;
    }
    const Bytes& bytes = it->second;
    uint8_t* h = &out[header];
    const std::span<uint8_t> extra(h + zip::kLocalHeaderSize + le::Get16(h + 26), le::Get16(h + 28));
    // A local header with a data descriptor may leave its sizes 0.
    if (!((m->flags & 8) && le::Get32(h + 18) == 0)) {
      SetField(h + 18, extra, Zip64Values(extra), SlotOf(h, {22}), bytes.size());
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (m->flags & 8) {  // the descriptor: [signature] CRC, compressed size, size (4 or 8 bytes each)
      const std::size_t descriptor = out.size();
      out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(data_end),
                 file.begin() + static_cast<std::ptrdiff_t>(m->end));
      uint8_t* d = &out[descriptor] + (le::Get32(&out[descriptor]) == kDescriptorSignature ? 8 : 4);
      if (m->end - data_end >= 20) {
        le::Put64(d, bytes.size());
      } else if (bytes.size() < k32) {
        le::Put32(d, static_cast<uint32_t>(bytes.size()));
      } else {
        Refuse("it would need ZIP64 fields it does not have");
      }
    }
    at = m->end;
  }
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
             file.begin() + static_cast<std::ptrdiff_t>(a.directory_offset));

  // The central directory, each entry's compressed size and offset set.
  const uint64_t directory = out.size();
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(a.directory_offset), file.end());
  std::size_t e = directory;
  for (const zip::Member& m : a.members) {
    uint8_t* h = &out[e];
    const std::size_t name = le::Get16(h + 28), extra_length = le::Get16(h + 30), comment = le::Get16(h + 32);
    const std::span<uint8_t> extra(h + zip::kCentralHeaderSize + name, extra_length);
    const std::size_t values = Zip64Values(extra);
    if (const auto it = again.find(&m); it != again.end()) {
      SetField(h + 20, extra, values, SlotOf(h, {24}), it->second.size());
    }
    SetField(h + 42, extra, values, SlotOf(h, {24, 20}), moved.at(m.header_offset));
    e += zip::kCentralHeaderSize + name + extra_length + comment;
  }
  // The end records after it: where the directory (and the ZIP64 record) now are.
  const uint64_t shift = directory - a.directory_offset;  // may wrap: offsets move by it, mod 2^64
  for (std::size_t k = e; k + 4 <= out.size(); ++k) {
    const uint32_t sig = le::Get32(&out[k]);
    if (sig == 0x06064b50 && k + 56 <= out.size()) {
      le::Put64(&out[k + 48], directory), k += 55;
    } else if (sig == 0x07064b50 && k + 20 <= out.size()) {
      le::Put64(&out[k + 8], le::Get64(&out[k + 8]) + shift), k += 19;
    } else if (sig == 0x06054b50 && k + 22 <= out.size()) {
      if (le::Get32(&out[k + 16]) != k32) SetField(&out[k + 16], {}, std::string::npos, 0, directory);
      break;
    }
  }
  return {std::move(out), again.size()};
}

// Every member of `made` holds the bytes it holds in `file`.
void Check(const Bytes& file, const zip::Archive& a, const Bytes& made) {
  std::string damage;
  const auto b = zip::ReadArchive(MemorySource(made), &damage);
  if (!b || b->members.size() != a.members.size()) Refuse("written again, it does not read whole: " + damage);
  for (std::size_t k = 0; k < a.members.size(); ++k) {
    const zip::Member &x = a.members[k], &y = b->members[k];
    if (x.name != y.name || x.method != y.method || x.crc32 != y.crc32 || x.size != y.size) {
      Refuse("written again, its member " + x.name + " differs");
    }
    const auto content = [&](const Bytes& f, const zip::Member& m) {
      const auto raw = zip::MemberData(f, m);
      return m.method == zip::kDeflated ? deflater::Inflate(raw, m.size) : std::optional<Bytes>(Bytes(raw.begin(), raw.end()));
    };
    if (content(file, x) != content(made, y)) Refuse("written again, its member " + x.name + " differs");
  }
}

}  // namespace

std::optional<Redeflated> RedeflateArchive(const Bytes& file, std::string* why) {
  const auto a = zip::ReadArchive(MemorySource(file));
  if (!a) return std::nullopt;
  try {
    Redeflated r = Write(file, *a);
    if (r.members == 0) return std::nullopt;
    Check(file, *a, r.archive);
    return r;
  } catch (const Refused& f) {
    if (why) *why = f.why;
    return std::nullopt;
  }
}

std::string RedeflateZips(PackageDescription& desc, const std::string& temp_dir, MadePayloads& made) {
  std::vector<std::optional<Redeflated>> results(desc.data.size());
  std::vector<std::string> refused(desc.data.size());
  std::vector<platform::Fd> files(desc.data.size());
  RunJobs(desc.data.size(), [&](std::size_t k) {
    if (desc.data[k].type != deploy::kPayloadType) return;
    const SourceFile planned = StatSource(desc.data[k].path);
    if (planned.size > kLargestRead) {
      refused[k] = "past 2 GiB, more than the packer reads at once";
      return;
    }
    results[k] = RedeflateArchive(ReadSource(planned), &refused[k]);
    if (!results[k]) return;
    files[k] = UnnamedFile(temp_dir);
    const Bytes& archive = results[k]->archive;
    if (!platform::WriteFully(files[k].get(), archive.data(), archive.size(), 0)) {
      FailWithErrno("cannot write a temporary file");
    }
  });
  std::string note;
  for (std::size_t k = 0; k < desc.data.size(); ++k) {
    if (results[k]) {
      desc.data[k].path = made.Keep(std::move(files[k]));
      note += (note.empty() ? "" : "; ") + desc.data[k].file + ": " + std::to_string(results[k]->members) +
              " members deflated again by this packer's zlib";
    } else if (!refused[k].empty()) {
      note += (note.empty() ? "" : "; ") + desc.data[k].file + ": not deflated again: " + refused[k];
    }
  }
  return note;
}

}  // namespace ttu::pack
