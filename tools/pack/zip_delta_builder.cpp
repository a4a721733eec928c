#include "tools/pack/zip_delta_builder.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>

#include "support/little_endian.h"
#include "support/zip_archive.h"
#include "tools/pack/deflate_settings.h"
#include "tools/pack/delta_builder.h"

namespace ttu::pack {
namespace {

using Bytes = std::vector<uint8_t>;

bool Deflated(const zip::Member& m) { return m.method == zip::kDeflated && !m.Encrypted() && m.compressed_size > 0; }

// The member inflated, when it inflates to its size and CRC.
std::optional<Bytes> Inflated(const Bytes& file, const zip::Member& m) {
  auto data = deflater::Inflate(zip::MemberData(file, m), m.size);
  if (!data || deflater::Crc32(0, *data) != m.crc32) return std::nullopt;
  return data;
}

// Members by where their bytes lie.
std::vector<const zip::Member*> InFileOrder(const zip::Archive& a) {
  std::vector<const zip::Member*> order;
  for (const zip::Member& m : a.members) order.push_back(&m);
  std::sort(order.begin(), order.end(), [](auto* x, auto* y) { return x->data_offset < y->data_offset; });
  return order;
}

// The archive with the given members' bytes replaced by what `inflated` gives
// for them (in file order); calls `placed` with each one's offset in the result.
template <typename Placed>
Bytes Expand(const Bytes& file, const std::vector<std::pair<const zip::Member*, Bytes>>& inflated,
             const Placed& placed) {
  Bytes out;
  uint64_t at = 0;
  for (const auto& [m, data] : inflated) {
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
               file.begin() + static_cast<std::ptrdiff_t>(m->data_offset));
    placed(*m, out.size());
    out.insert(out.end(), data.begin(), data.end());
    at = m->data_offset + m->compressed_size;
  }
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
  return out;
}

using Places = std::vector<std::pair<const zip::Member*, std::pair<uint64_t, uint64_t>>>;

// Where each member's bytes lie once the archive is expanded: those inflated
// where they were placed, the others moved by the growth of those before them.
Places ExpandedPlaces(const zip::Archive& a, const std::map<const zip::Member*, uint64_t>& placed) {
  Places out;
  uint64_t growth = 0;
  for (const zip::Member* m : InFileOrder(a)) {
    const auto it = placed.find(m);
    if (it != placed.end()) {
      out.push_back({m, {it->second, it->second + m->size}});
      growth += m->size - m->compressed_size;
    } else {
      out.push_back({m, {m->data_offset + growth, m->data_offset + growth + m->compressed_size}});
    }
  }
  return out;
}

// Where the differ looks for each part of the new expanded archive: a member
// in the member of the same name in the old one; the bytes between two such
// members (headers, added or renamed members) between their old versions, or,
// where the members moved past one another or the stretch is far longer,
// before the next one's old version. Each zone is indexed alone, so the
// differ's memory follows the largest member or stretch, not the archive.
std::vector<Zone> ZonesFor(const Places& new_places, const Places& old_places, uint64_t old_size) {
  constexpr uint64_t kSlack = 4096;
  std::map<std::string, std::pair<uint64_t, uint64_t>> old_by_name;
  for (const auto& [m, range] : old_places) {
    if (range.second <= old_size) old_by_name.emplace(m->name, range);
  }
  std::vector<Zone> zones;
  uint64_t old_at = 0, new_at = 0;  // where both go on after the last member placed
  for (const auto& [m, range] : new_places) {
    const auto it = old_by_name.find(m->name);
    if (it == old_by_name.end() || range.first < new_at) continue;
    const auto [from, to] = it->second;
    const uint64_t stretch = range.first - new_at;
    if (old_at <= from && from - old_at <= 4 * stretch + kSlack) {
      zones.push_back({range.first, old_at, from});
    } else {
      zones.push_back({range.first, from - std::min(from, stretch + kSlack), from});
    }
    zones.push_back({range.second, from, to});
    old_at = to, new_at = range.second;
  }
  zones.push_back({UINT64_MAX, std::min(old_at, old_size), old_size});
  return zones;
}

std::string Megabytes(uint64_t n) {
  char s[32];
  std::snprintf(s, sizeof s, "%.1f MB", static_cast<double>(n) / 1e6);
  return s;
}

}  // namespace

std::optional<Bytes> ZipDeltaPayload(Bytes& old_file, Bytes& new_file, int level, const std::string& what,
                                     ZipFindings& found) {
  found = {};
  const auto old_zip = zip::ReadArchive(MemorySource(old_file));
  const auto new_zip = zip::ReadArchive(MemorySource(new_file));
  if (!old_zip || !new_zip || old_zip->members.size() > zipdelta::kMaxEntries ||
      new_zip->members.size() > zipdelta::kMaxEntries) {
    return std::nullopt;
  }
  found.archives = true;
  zipdelta::Plan& plan = found.plan;
  plan.members = new_zip->members.size();

  // The old archive's deflated bytes: a new member with the same ones is
  // unchanged, carried as it is (and so is the old one, for it to be found).
  std::map<std::tuple<uint32_t, uint64_t, uint64_t>, std::vector<const zip::Member*>> old_bytes;
  for (const zip::Member& m : old_zip->members) {
    if (Deflated(m)) old_bytes[{m.crc32, m.compressed_size, m.size}].push_back(&m);
  }
  std::set<const zip::Member*> kept_old;
  const auto same_in_old = [&](const zip::Member& m) {
    const auto it = old_bytes.find({m.crc32, m.compressed_size, m.size});
    if (it == old_bytes.end()) return false;
    for (const zip::Member* o : it->second) {
      if (std::ranges::equal(zip::MemberData(old_file, *o), zip::MemberData(new_file, m))) return kept_old.insert(o), true;
    }
    return false;
  };

  std::vector<std::pair<const zip::Member*, Bytes>> new_inflated;
  std::vector<deflater::Settings> settings;
  std::set<std::string> remade_names;
  for (const zip::Member* m : InFileOrder(*new_zip)) {
    if (!Deflated(*m) || same_in_old(*m)) continue;
    ++plan.changed, plan.changed_bytes += m->compressed_size;
    auto data = Inflated(new_file, *m);
    if (!data) continue;
    const auto s = FindDeflateSettings(zip::MemberData(new_file, *m), *data, m->flags);
    if (!s) continue;
    plan.remade_bytes += m->compressed_size;
    settings.push_back(*s);
    remade_names.insert(m->name);
    new_inflated.emplace_back(m, std::move(*data));
  }
  if (new_inflated.empty()) return std::nullopt;

  // The old version of each member re-made, inflated to diff against.
  std::vector<std::pair<const zip::Member*, Bytes>> old_inflated;
  for (const zip::Member* m : InFileOrder(*old_zip)) {
    if (!Deflated(*m) || kept_old.count(m) || !remade_names.count(m->name)) continue;
    if (auto data = Inflated(old_file, *m)) old_inflated.emplace_back(m, std::move(*data));
  }
  delta::Header h;
  h.kind = delta::Kind::kZip;
  h.size = new_file.size();
  h.digest = checksum::DigestOf(new_file);
  h.base_size = old_file.size();
  h.base_digest = checksum::DigestOf(old_file);
  std::map<const zip::Member*, uint64_t> old_placed, new_placed;
  const Bytes old_expanded = Expand(old_file, old_inflated, [&](const zip::Member& m, uint64_t at) {
    plan.base.push_back({m.data_offset, m.compressed_size, m.size, m.crc32});
    old_placed.emplace(&m, at);
  });
  old_inflated.clear();
  Bytes().swap(old_file);
  std::size_t k = 0;
  const Bytes new_expanded = Expand(new_file, new_inflated, [&](const zip::Member& m, uint64_t at) {
    plan.file.push_back({at, m.size, m.compressed_size, settings[k++]});
    new_placed.emplace(&m, at);
  });
  new_inflated.clear();
  Bytes().swap(new_file);

  const Bytes inner = DeltaPayload(old_expanded, new_expanded, level, what,
                                   ZonesFor(ExpandedPlaces(*new_zip, new_placed), ExpandedPlaces(*old_zip, old_placed),
                                            old_expanded.size()));
  Bytes plan_frame;
  AppendDeltaFrame(plan_frame, zipdelta::EncodePlan(plan), level, what);
  Bytes out = delta::EncodeHeader(h);
  le::Append64(out, plan_frame.size());
  out.insert(out.end(), plan_frame.begin(), plan_frame.end());
  out.insert(out.end(), inner.begin(), inner.end());
  h.body_digest = *delta::BodyDigest(MemorySource(out));
  const Bytes header = delta::EncodeHeader(h);
  std::copy(header.begin(), header.end(), out.begin());
  return out;
}

std::string DescribeFindings(const zipdelta::Plan& plan) {
  return std::to_string(plan.file.size()) + " of " + std::to_string(plan.changed) +
         " changed deflated members re-made (" + Megabytes(plan.remade_bytes) + " of " +
         Megabytes(plan.changed_bytes) + ")";
}

}  // namespace ttu::pack
