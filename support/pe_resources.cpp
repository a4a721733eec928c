#include "support/pe_resources.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "support/little_endian.h"
#include "support/text.h"

namespace ttu::pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
// Bounds that no executable of the updater's comes near (a package of 65535
// items has fewer than 140,000 resources), which keep a crafted one from
// taking more than a few MiB to read.
constexpr std::size_t kMaxResources = 1 << 18;
constexpr uint16_t kMaxNameLength = 1024;
constexpr std::size_t kMaxNameUnits = 1 << 20;

std::u16string Upper(const std::u16string& s) {
  std::u16string u = s;
  for (auto& c : u) c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return u;
}

class Walker {
 public:
  Walker(const ByteSource& src, const Image& img, uint32_t root_rva) : src_(src), img_(img), root_(root_rva) {}

  bool Table(int level, Resource& path, std::vector<Resource>& out) {
    // A directory is a tree: a table that two entries lead to makes a crafted
    // file fan out into countless resources.
    if (!tables_.insert(table_rva_).second) return false;
    uint8_t head[16];
    if (!ReadRva(table_rva_, head, sizeof head)) return false;
    const uint32_t count = uint32_t{le::Get16(head + 12)} + le::Get16(head + 14);
    std::vector<uint8_t> entries(std::size_t{count} * 8);
    if (!ReadRva(table_rva_ + 16, entries.data(), entries.size())) return false;
    for (uint32_t k = 0; k < count; ++k) {
      if (++visited_ > kMaxResources * 4) return false;
      const uint32_t name = le::Get32(&entries[k * 8]), offset = le::Get32(&entries[k * 8 + 4]);
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
  bool ReadRva(uint64_t rva, void* out, std::size_t n) const {
    if (rva > 0xFFFFFFFFu) return false;
    const auto at = img_.FileOffset(static_cast<uint32_t>(rva), n);
    return at && src_.Read(*at, out, n);
  }

  bool Name(uint32_t offset, std::u16string& name) const {
    uint8_t len[2];
    if (!ReadRva(uint64_t{root_} + offset, len, 2)) return false;
    const uint16_t n = le::Get16(len);
    if (n > kMaxNameLength) return false;
    std::vector<uint8_t> units(std::size_t{n} * 2);
    if (!ReadRva(uint64_t{root_} + offset + 2, units.data(), units.size())) return false;
    for (uint16_t k = 0; k < n; ++k) name += static_cast<char16_t>(le::Get16(&units[2 * k]));
    return true;
  }

  bool Leaf(uint32_t offset, Resource path, std::vector<Resource>& out) {
    uint8_t entry[16];
    if (!ReadRva(uint64_t{root_} + offset, entry, sizeof entry) || out.size() >= kMaxResources) return false;
    name_units_ += path.type.name.size() + path.name.name.size();
    if (name_units_ > kMaxNameUnits) return false;
    path.rva = le::Get32(entry);
    path.size = le::Get32(entry + 4);
    path.code_page = le::Get32(entry + 8);
    if (!img_.FileOffset(path.rva, path.size)) return false;
    out.push_back(std::move(path));
    return true;
  }

  const ByteSource& src_;
  const Image& img_;
  uint32_t root_;
  std::size_t visited_ = 0;
  std::set<uint32_t> tables_;
  std::size_t name_units_ = 0;  // copied into the resources so far
};

}  // namespace

std::string ResId::ToString() const { return Named() ? text::Utf16ToUtf8(name) : std::to_string(id); }

bool ResId::operator<(const ResId& o) const {
  if (Named() != o.Named()) return Named();
  if (!Named()) return id < o.id;
  // Names that differ only in case (a foreign linker may write both) are kept
  // apart by their exact text, so that the order stays strict.
  const std::u16string a = Upper(name), b = Upper(o.name);
  return a != b ? a < b : name < o.name;
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

// --- the writer --------------------------------------------------------------

bool InDirectoryOrder(const NewResource& x, const NewResource& y) {
  if (!(x.type == y.type)) return x.type < y.type;
  if (!(x.name == y.name)) return x.name < y.name;
  return x.language < y.language;
}

namespace {

// The directory as a tree: each type's names, each name's languages; the
// numbers are indices of the resources, which `order` gives in directory order.
struct NameNode {
  std::size_t first;
  std::vector<std::size_t> leaves;
};
struct TypeNode {
  std::size_t first;
  std::vector<NameNode> names;
};
struct Tree {
  std::vector<std::size_t> order;
  std::vector<TypeNode> types;
};

Tree BuildTree(const std::vector<NewResource>& resources) {
  Tree tree;
  tree.order.resize(resources.size());
  std::iota(tree.order.begin(), tree.order.end(), 0);
  std::stable_sort(tree.order.begin(), tree.order.end(),
                   [&](std::size_t a, std::size_t b) { return InDirectoryOrder(resources[a], resources[b]); });
  for (std::size_t i : tree.order) {
    const auto& r = resources[i];
    if (tree.types.empty() || !(resources[tree.types.back().first].type == r.type)) tree.types.push_back({i, {}});
    auto& names = tree.types.back().names;
    if (names.empty() || !(resources[names.back().first].name == r.name)) names.push_back({i, {}});
    names.back().leaves.push_back(i);
  }
  return tree;
}

uint64_t TableSize(std::size_t entries) { return 16 + 8 * entries; }

// Where the directory's parts go, from the section's start: the tables (root,
// then every type's, then every name's), the names, the data entries.
struct DirectoryPlaces {
  uint64_t tables_end = 0;
  std::map<std::u16string, uint32_t> name_offsets;
  std::vector<std::u16string> names;  // in the order they are written
  uint64_t entries_at = 0;
};

DirectoryPlaces PlaceDirectory(const std::vector<NewResource>& resources, const Tree& tree) {
  DirectoryPlaces p;
  p.tables_end = TableSize(tree.types.size());
  for (const auto& t : tree.types) {
    p.tables_end += TableSize(t.names.size());
    for (const auto& n : t.names) p.tables_end += TableSize(n.leaves.size());
  }
  uint64_t end = p.tables_end;
  for (const auto& r : resources) {
    for (const ResId* id : {&r.type, &r.name}) {
      if (id->Named() && p.name_offsets.emplace(id->name, static_cast<uint32_t>(end)).second) {
        p.names.push_back(id->name);
        end += 2 + 2 * id->name.size();
      }
    }
  }
  p.entries_at = le::AlignUp(end, 4);
  return p;
}

// Where each resource's data goes: the ones in memory right after the data
// entries, 8-aligned; the external ones after them, at file offsets that are
// multiples of `alignment`.
void PlaceData(const std::vector<NewResource>& resources, const Tree& tree, uint64_t data_start,
               uint64_t section_file_offset, uint64_t alignment, SectionLayout& out) {
  out.offsets.resize(resources.size());
  uint64_t end = data_start;
  for (std::size_t i : tree.order) {
    if (resources[i].external) continue;
    end = le::AlignUp(end, 8);
    out.offsets[i] = end;
    end += resources[i].bytes.size();
  }
  out.head.reserve(end);
  for (std::size_t i : tree.order) {
    if (!resources[i].external) continue;
    const uint64_t align = resources[i].alignment ? resources[i].alignment : alignment;
    end = le::AlignUp(section_file_offset + end, align) - section_file_offset;
    out.offsets[i] = end;
    end += resources[i].size;
  }
  out.size = end;
}

void TableHead(std::vector<uint8_t>& b, std::size_t named, std::size_t ids) {
  le::Append32(b, 0), le::Append32(b, 0), le::Append16(b, 0), le::Append16(b, 0);  // flags, time, version
  le::Append16(b, static_cast<uint16_t>(named)), le::Append16(b, static_cast<uint16_t>(ids));
}

// The tables: names first in each, as they are sorted.
void WriteTables(const std::vector<NewResource>& resources, const Tree& tree, const DirectoryPlaces& p,
                 std::vector<uint8_t>& b) {
  auto entry_name = [&](const ResId& id) { return id.Named() ? (kHighBit | p.name_offsets.at(id.name)) : id.id; };
  auto named = [&](auto& nodes, auto id_of) {
    return static_cast<std::size_t>(std::count_if(nodes.begin(), nodes.end(), [&](auto& n) { return id_of(n).Named(); }));
  };
  auto type_of = [&](const TypeNode& t) -> const ResId& { return resources[t.first].type; };
  auto name_of = [&](const NameNode& n) -> const ResId& { return resources[n.first].name; };
  uint64_t next_table = TableSize(tree.types.size());
  TableHead(b, named(tree.types, type_of), tree.types.size() - named(tree.types, type_of));
  for (const auto& t : tree.types) {
    le::Append32(b, entry_name(type_of(t)));
    le::Append32(b, kHighBit | static_cast<uint32_t>(next_table));
    next_table += TableSize(t.names.size());
  }
  for (const auto& t : tree.types) {
    TableHead(b, named(t.names, name_of), t.names.size() - named(t.names, name_of));
    for (const auto& n : t.names) {
      le::Append32(b, entry_name(name_of(n)));
      le::Append32(b, kHighBit | static_cast<uint32_t>(next_table));
      next_table += TableSize(n.leaves.size());
    }
  }
  std::size_t leaf = 0;
  for (const auto& t : tree.types) {
    for (const auto& n : t.names) {
      TableHead(b, 0, n.leaves.size());
      for (std::size_t i : n.leaves) {
        le::Append32(b, resources[i].language);
        le::Append32(b, static_cast<uint32_t>(p.entries_at + 16 * leaf++));
      }
    }
  }
}

// The names, the data entries (in leaf order) and the data kept in memory.
void WriteNamesEntriesAndData(const std::vector<NewResource>& resources, const Tree& tree, const DirectoryPlaces& p,
                              uint32_t section_rva, SectionLayout& out) {
  std::vector<uint8_t>& b = out.head;
  for (const auto& name : p.names) {
    le::Append16(b, static_cast<uint16_t>(name.size()));
    for (char16_t c : name) le::Append16(b, c);
  }
  b.resize(p.entries_at);
  for (const auto& t : tree.types) {
    for (const auto& n : t.names) {
      for (std::size_t i : n.leaves) {
        const auto& r = resources[i];
        le::Append32(b, static_cast<uint32_t>(section_rva + out.offsets[i]));
        le::Append32(b, static_cast<uint32_t>(r.external ? r.size : r.bytes.size()));
        le::Append32(b, r.code_page);
        le::Append32(b, 0);
      }
    }
  }
  for (std::size_t i : tree.order) {
    if (resources[i].external) continue;
    b.resize(out.offsets[i]);
    b.insert(b.end(), resources[i].bytes.begin(), resources[i].bytes.end());
  }
}

}  // namespace

SectionLayout LayOutResources(std::vector<NewResource> resources, uint32_t section_rva,
                              uint64_t section_file_offset, uint64_t alignment) {
  const Tree tree = BuildTree(resources);
  const DirectoryPlaces places = PlaceDirectory(resources, tree);
  SectionLayout out;
  PlaceData(resources, tree, places.entries_at + 16 * resources.size(), section_file_offset, alignment, out);
  WriteTables(resources, tree, places, out.head);
  WriteNamesEntriesAndData(resources, tree, places, section_rva, out);
  return out;
}

}  // namespace ttu::pe
