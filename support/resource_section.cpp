#include "support/resource_section.h"

#include <cstring>

#include "support/little_endian.h"
#include "support/resource_language.h"
#include "support/text.h"

namespace ttu::resfmt {
namespace {

constexpr char kTrailerMagic[8] = {'T', 'T', 'U', 'R', 'S', 'R', 'C', '1'};
constexpr char kDirectoryMagic[8] = {'T', 'T', 'U', 'D', 'I', 'R', '0', '1'};

}  // namespace

std::vector<uint8_t> EncodeStringBlock(const Strings16& strings) {
  std::vector<uint8_t> b;
  for (const auto& s : strings) {
    const std::u16string text = s.value_or(u"");
    le::Append16(b, static_cast<uint16_t>(text.size()));
    for (char16_t c : text) le::Append16(b, c);
  }
  return b;
}

bool IsValidStringBlock(std::span<const uint8_t> block) {
  le::Reader r(block);
  for (int k = 0; k < 16 && r.ok(); ++k) r.Bytes(uint64_t{r.U16()} * 2);
  return r.ok() && r.Left() == 0;
}

std::optional<std::u16string> StringFromBlock(std::span<const uint8_t> block, unsigned index) {
  if (index > 15) return std::nullopt;
  le::Reader r(block);
  for (unsigned k = 0; k < index && r.ok(); ++k) r.Bytes(uint64_t{r.U16()} * 2);
  const uint16_t len = r.U16();
  const auto units = r.Bytes(uint64_t{len} * 2);
  if (!r.ok() || len == 0) return std::nullopt;
  std::u16string s(len, u'\0');
  for (uint16_t k = 0; k < len; ++k) s[k] = static_cast<char16_t>(le::Get16(&units[2 * k]));
  return s;
}

std::vector<uint8_t> EncodeDirectory(const Directory& dir) {
  std::vector<uint8_t> b(kDirectoryMagic, kDirectoryMagic + sizeof kDirectoryMagic);
  le::Append32(b, static_cast<uint32_t>(dir.strings.size()));
  le::Append32(b, static_cast<uint32_t>(dir.data.size()));
  for (const auto& s : dir.strings) {
    le::Append16(b, s.block);
    le::Append16(b, s.language);
    le::Append32(b, static_cast<uint32_t>(s.bytes.size()));
    b.insert(b.end(), s.bytes.begin(), s.bytes.end());
  }
  for (const auto& d : dir.data) {
    le::Append16(b, d.id);
    le::Append16(b, d.language);
    le::Append16(b, static_cast<uint16_t>(d.type.size()));
    b.insert(b.end(), d.type.begin(), d.type.end());
    le::Append64(b, d.offset);
    le::Append64(b, d.size);
  }
  return b;
}

std::optional<Directory> DecodeDirectory(std::span<const uint8_t> bytes, const Trailer& trailer) {
  le::Reader r(bytes);
  const auto magic = r.Bytes(sizeof kDirectoryMagic);
  if (!r.ok() || std::memcmp(magic.data(), kDirectoryMagic, sizeof kDirectoryMagic) != 0) {
    return std::nullopt;
  }
  const uint32_t n_strings = r.U32();
  const uint32_t n_data = r.U32();
  // Every entry takes at least 8 bytes: a count beyond that is corrupt.
  if (!r.ok() || uint64_t{n_strings} + n_data > r.Left() / 8) return std::nullopt;
  Directory dir;
  dir.strings.reserve(n_strings);
  for (uint32_t k = 0; k < n_strings && r.ok(); ++k) {
    StringBlock b;
    b.block = r.U16();
    b.language = r.U16();
    const auto data = r.Bytes(r.U32());
    if (!r.ok() || !IsValidStringBlock(data)) return std::nullopt;
    b.bytes.assign(data.begin(), data.end());
    dir.strings.push_back(std::move(b));
  }
  dir.data.reserve(n_data);
  for (uint32_t k = 0; k < n_data && r.ok(); ++k) {
    DataEntry d;
    d.id = r.U16();
    d.language = r.U16();
    const auto type = r.Bytes(r.U16());
    d.type.assign(type.begin(), type.end());
    d.offset = r.U64();
    d.size = r.U64();
    const bool in_section = d.offset >= trailer.section_start &&
                            d.offset <= trailer.directory_offset &&
                            d.size <= trailer.directory_offset - d.offset;
    if (!r.ok() || !in_section) return std::nullopt;
    dir.data.push_back(std::move(d));
  }
  if (!r.ok()) return std::nullopt;
  return dir;
}

std::array<uint8_t, kTrailerSize> EncodeTrailer(const Trailer& t) {
  std::array<uint8_t, kTrailerSize> out{};
  std::memcpy(out.data(), kTrailerMagic, sizeof kTrailerMagic);
  le::Put64(out.data() + 8, t.directory_offset);
  le::Put64(out.data() + 16, t.section_start);
  return out;
}

std::optional<Trailer> DecodeTrailer(std::span<const uint8_t> last_bytes, uint64_t file_size) {
  if (last_bytes.size() != kTrailerSize || file_size < kTrailerSize) return std::nullopt;
  if (std::memcmp(last_bytes.data(), kTrailerMagic, sizeof kTrailerMagic) != 0) return std::nullopt;
  Trailer t;
  t.directory_offset = le::Get64(last_bytes.data() + 8);
  t.section_start = le::Get64(last_bytes.data() + 16);
  const uint64_t directory_end = file_size - kTrailerSize;
  if (t.section_start > t.directory_offset || t.directory_offset > directory_end ||
      directory_end - t.directory_offset > kMaxDirectorySize) {
    return std::nullopt;
  }
  return t;
}

namespace {

// The entry of `items` at `candidates` in the language the loader picks.
template <typename T>
const T* InLanguage(const std::vector<T>& items, const std::vector<std::size_t>* candidates, uint16_t user_language) {
  if (!candidates) return nullptr;
  std::vector<uint16_t> languages;
  for (std::size_t k : *candidates) languages.push_back(items[k].language);
  const auto language = reslang::PickLanguage(languages, user_language);
  for (std::size_t k : *candidates) {
    if (language && items[k].language == *language) return &items[k];
  }
  return nullptr;
}

template <typename Map, typename Key>
const std::vector<std::size_t>* Find(const Map& map, const Key& key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

ResourceTable::ResourceTable(Directory dir, uint16_t user_language)
    : dir_(std::move(dir)), user_language_(user_language) {
  for (std::size_t k = 0; k < dir_.strings.size(); ++k) blocks_[dir_.strings[k].block].push_back(k);
  for (std::size_t k = 0; k < dir_.data.size(); ++k) {
    data_[{text::UpperAscii(dir_.data[k].type), dir_.data[k].id}].push_back(k);
  }
}

std::optional<std::string> ResourceTable::String(uint32_t id) const {
  if (id > 0xFFFF) return std::nullopt;
  const auto block = static_cast<uint16_t>(id / 16 + 1);
  const auto* b = InLanguage(dir_.strings, Find(blocks_, block), user_language_);
  if (!b) return std::nullopt;
  const auto s = StringFromBlock(b->bytes, id % 16);
  return s ? std::optional(text::Utf16ToUtf8(*s)) : std::nullopt;
}

const DataEntry* ResourceTable::Data(uint32_t id, const std::string& type) const {
  if (id > 0xFFFF) return nullptr;
  return InLanguage(dir_.data, Find(data_, std::make_pair(text::UpperAscii(type), static_cast<uint16_t>(id))),
                    user_language_);
}

}  // namespace ttu::resfmt
