#include "support/pe_resources.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "support/text.h"

namespace ttu::pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kMaxResources = 1 << 20;
constexpr uint16_t kMaxNameLength = 1024;

std::u16string Upper(const std::u16string& s) {
  std::u16string u = s;
  for (auto& c : u) c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return u;
}

uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

class Walker {
 public:
  Walker(const ByteSource& src, const Image& img, uint32_t root_rva) : src_(src), img_(img), root_(root_rva) {}

  bool Table(int level, Resource& path, std::vector<Resource>& out) {
    uint8_t head[16];
    if (!ReadRva(table_rva_, head, sizeof head)) return false;
    const uint32_t count = static_cast<uint32_t>(head[12] | head[13] << 8) + (head[14] | head[15] << 8);
    std::vector<uint8_t> entries(std::size_t{count} * 8);
    if (!ReadRva(table_rva_ + 16, entries.data(), entries.size())) return false;
    for (uint32_t k = 0; k < count; ++k) {
      if (++visited_ > kMaxResources * 4) return false;
      const uint32_t name = U32(&entries[k * 8]), offset = U32(&entries[k * 8 + 4]);
      ResId id;
      if (name & kHighBit) {
        if (!Name(name & ~kHighBit, id.name) || id.name.empty()) return false;
      } else {
        if (name > 0xFFFF) return false;
        id.id = static_cast<uint16_t>(name);
      }
      if (level == 0) path.type = id;
      if (level == 1) path.name = id;
      if (level == 2) path.language = id.id;
      const bool subdirectory = offset & kHighBit;
      if (subdirectory != (level < 2)) return false;
      if (subdirectory) {
        const uint32_t saved = table_rva_;
        table_rva_ = root_ + (offset & ~kHighBit);
        if (table_rva_ < root_ || !Table(level + 1, path, out)) return false;
        table_rva_ = saved;
      } else if (!Leaf(offset, path, out)) {
        return false;
      }
    }
    return true;
  }

  uint32_t table_rva_ = 0;

 private:
  static uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

  bool ReadRva(uint64_t rva, void* out, std::size_t n) const {
    if (rva > 0xFFFFFFFFu) return false;
    const auto at = img_.FileOffset(static_cast<uint32_t>(rva), n);
    return at && src_.Read(*at, out, n);
  }

  bool Name(uint32_t offset, std::u16string& name) const {
    uint8_t len[2];
    if (!ReadRva(uint64_t{root_} + offset, len, 2)) return false;
    const uint16_t n = static_cast<uint16_t>(len[0] | len[1] << 8);
    if (n > kMaxNameLength) return false;
    std::vector<uint8_t> units(std::size_t{n} * 2);
    if (!ReadRva(uint64_t{root_} + offset + 2, units.data(), units.size())) return false;
    for (uint16_t k = 0; k < n; ++k) name += static_cast<char16_t>(units[2 * k] | units[2 * k + 1] << 8);
    return true;
  }

  bool Leaf(uint32_t offset, Resource path, std::vector<Resource>& out) const {
    uint8_t entry[16];
    if (!ReadRva(uint64_t{root_} + offset, entry, sizeof entry) || out.size() >= kMaxResources) return false;
    path.rva = U32(entry);
    path.size = U32(entry + 4);
    path.code_page = U32(entry + 8);
    if (!img_.FileOffset(path.rva, path.size)) return false;
    out.push_back(std::move(path));
    return true;
  }

  const ByteSource& src_;
  const Image& img_;
  uint32_t root_;
  std::size_t visited_ = 0;
};

class Writer {
 public:
  void U16(uint16_t v) { bytes.push_back(static_cast<uint8_t>(v)), bytes.push_back(static_cast<uint8_t>(v >> 8)); }
  void U32(uint32_t v) { U16(static_cast<uint16_t>(v)), U16(static_cast<uint16_t>(v >> 16)); }
  void Pad(uint64_t to) { bytes.resize(AlignUp(bytes.size(), to)); }
  std::vector<uint8_t> bytes;
};

}  // namespace

std::string ResId::ToString() const { return Named() ? text::Utf16ToUtf8(name) : std::to_string(id); }

bool ResId::operator<(const ResId& o) const {
  if (Named() != o.Named()) return Named();
  return Named() ? Upper(name) < Upper(o.name) : id < o.id;
}

std::optional<std::vector<Resource>> ReadResources(const ByteSource& source, const Image& image) {
  const DataDirectory dir = image.Directory(kResourceDirectory);
  std::vector<Resource> out;
  if (dir.address == 0 || dir.size == 0) return out;
  Walker w(source, image, dir.address);
  w.table_rva_ = dir.address;
  Resource path;
  if (!w.Table(0, path, out)) return std::nullopt;
  return out;
}

SectionLayout LayOutResources(std::vector<NewResource> resources, uint32_t section_rva,
                              uint64_t section_file_offset, uint64_t alignment) {
  std::vector<std::size_t> order(resources.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto& x = resources[a];
    const auto& y = resources[b];
    if (!(x.type == y.type)) return x.type < y.type;
    if (!(x.name == y.name)) return x.name < y.name;
    return x.language < y.language;
  });
  // The tree: types, their names, their languages (indices into `order`).
  struct NameNode { std::size_t first; std::vector<std::size_t> leaves; };
  struct TypeNode { std::size_t first; std::vector<NameNode> names; };
  std::vector<TypeNode> types;
  for (std::size_t i : order) {
    const auto& r = resources[i];
    if (types.empty() || !(resources[types.back().first].type == r.type)) types.push_back({i, {}});
    auto& names = types.back().names;
    if (names.empty() || !(resources[names.back().first].name == r.name)) names.push_back({i, {}});
    names.back().leaves.push_back(i);
  }
  // Sizes of each part, in the order they are written.
  auto table_size = [](std::size_t entries) { return 16 + 8 * entries; };
  uint64_t tables = table_size(types.size());
  for (const auto& t : types) {
    tables += table_size(t.names.size());
    for (const auto& n : t.names) tables += table_size(n.leaves.size());
  }
  std::map<std::u16string, uint32_t> name_offsets;
  std::vector<std::u16string> names;  // in the order they are written
  uint64_t strings_end = tables;
  for (const auto& r : resources) {
    for (const ResId* id : {&r.type, &r.name}) {
      if (id->Named() && !name_offsets.count(id->name)) {
        name_offsets[id->name] = static_cast<uint32_t>(strings_end);
        names.push_back(id->name);
        strings_end += 2 + 2 * id->name.size();
      }
    }
  }
  const uint64_t entries_at = AlignUp(strings_end, 4);
  uint64_t data_end = entries_at + 16 * resources.size();
  SectionLayout out;
  out.offsets.resize(resources.size());
  for (std::size_t i : order) {
    if (resources[i].external) continue;
    data_end = AlignUp(data_end, 8);
    out.offsets[i] = data_end;
    data_end += resources[i].bytes.size();
  }
  out.head.reserve(data_end);
  uint64_t end = data_end;
  for (std::size_t i : order) {
    if (!resources[i].external) continue;
    end = AlignUp(section_file_offset + end, alignment) - section_file_offset;
    out.offsets[i] = end;
    end += resources[i].size;
  }
  out.size = end;

  Writer w;
  uint64_t next_table = table_size(types.size());
  auto entry_name = [&](const ResId& id) { return id.Named() ? (kHighBit | name_offsets[id.name]) : id.id; };
  auto table_head = [&](std::size_t named, std::size_t ids) {
    w.U32(0), w.U32(0), w.U16(0), w.U16(0);
    w.U16(static_cast<uint16_t>(named)), w.U16(static_cast<uint16_t>(ids));
  };
  auto named_count = [&](auto& items, auto id_of) {
    return static_cast<std::size_t>(std::count_if(items.begin(), items.end(), [&](auto& x) { return id_of(x).Named(); }));
  };
  // Root, then every type's table, then every name's table.
  table_head(named_count(types, [&](const TypeNode& t) -> const ResId& { return resources[t.first].type; }),
             types.size() - named_count(types, [&](const TypeNode& t) -> const ResId& { return resources[t.first].type; }));
  for (const auto& t : types) {
    w.U32(entry_name(resources[t.first].type));
    w.U32(kHighBit | static_cast<uint32_t>(next_table));
    next_table += table_size(t.names.size());
  }
  std::size_t leaf = 0;
  for (const auto& t : types) {
    const auto id_of = [&](const NameNode& n) -> const ResId& { return resources[n.first].name; };
    const std::size_t named = named_count(t.names, id_of);
    table_head(named, t.names.size() - named);
    for (const auto& n : t.names) {
      w.U32(entry_name(resources[n.first].name));
      w.U32(kHighBit | static_cast<uint32_t>(next_table));
      next_table += table_size(n.leaves.size());
    }
  }
  for (const auto& t : types) {
    for (const auto& n : t.names) {
      table_head(0, n.leaves.size());
      for (std::size_t i : n.leaves) {
        w.U32(resources[i].language);
        w.U32(static_cast<uint32_t>(entries_at + 16 * leaf++));
      }
    }
  }
  for (const auto& name : names) {
    w.U16(static_cast<uint16_t>(name.size()));
    for (char16_t c : name) w.U16(c);
  }
  w.Pad(4);
  for (const auto& t : types) {
    for (const auto& n : t.names) {
      for (std::size_t i : n.leaves) {
        const auto& r = resources[i];
        w.U32(static_cast<uint32_t>(section_rva + out.offsets[i]));
        w.U32(static_cast<uint32_t>(r.external ? r.size : r.bytes.size()));
        w.U32(r.code_page);
        w.U32(0);
      }
    }
  }
  for (std::size_t i : order) {
    if (resources[i].external) continue;
    w.bytes.resize(out.offsets[i]);
    w.bytes.insert(w.bytes.end(), resources[i].bytes.begin(), resources[i].bytes.end());
  }
  out.head = std::move(w.bytes);
  return out;
}

}  // namespace ttu::pe
