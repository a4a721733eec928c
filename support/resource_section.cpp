#include "support/resource_section.h"

#include <cstring>

#include "support/resource_language.h"
#include "support/text.h"

namespace ttu::resfmt {
namespace {

constexpr char kTrailerMagic[8] = {'T', 'T', 'U', 'R', 'S', 'R', 'C', '1'};
constexpr char kDirectoryMagic[8] = {'T', 'T', 'U', 'D', 'I', 'R', '0', '1'};

class Writer {
 public:
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  template <typename T>
  void Int(T v) {
    for (std::size_t k = 0; k < sizeof(T); ++k) out_.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }
  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

// Bounds-checked little-endian reader; any overrun sets `ok` to false.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> b) : b_(b) {}
  template <typename T>
  T Int() {
    if (!Has(sizeof(T))) return 0;
    T v = 0;
    for (std::size_t k = 0; k < sizeof(T); ++k) v |= static_cast<T>(T(b_[pos_ + k]) << (8 * k));
    pos_ += sizeof(T);
    return v;
  }
  std::span<const uint8_t> Bytes(uint64_t n) {
    if (!Has(n)) return {};
    auto s = b_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  bool Has(uint64_t n) {
    if (n > b_.size() - pos_) ok = false;
    return ok;
  }
  std::size_t Left() const { return b_.size() - pos_; }
  bool ok = true;

 private:
  std::span<const uint8_t> b_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<uint8_t> EncodeStringBlock(const Strings16& strings) {
  Writer w;
  for (const auto& s : strings) {
    const std::u16string text = s.value_or(u"");
    w.Int<uint16_t>(static_cast<uint16_t>(text.size()));
    for (char16_t c : text) w.Int<uint16_t>(c);
  }
  return w.Take();
}

bool IsValidStringBlock(std::span<const uint8_t> block) {
  Reader r(block);
  for (int k = 0; k < 16 && r.ok; ++k) r.Bytes(uint64_t{r.Int<uint16_t>()} * 2);
  return r.ok && r.Left() == 0;
}

std::optional<std::u16string> StringFromBlock(std::span<const uint8_t> block, unsigned index) {
  if (index > 15) return std::nullopt;
  Reader r(block);
  for (unsigned k = 0; k < index && r.ok; ++k) r.Bytes(uint64_t{r.Int<uint16_t>()} * 2);
  const uint16_t len = r.Int<uint16_t>();
  const auto units = r.Bytes(uint64_t{len} * 2);
  if (!r.ok || len == 0) return std::nullopt;
  std::u16string s(len, u'\0');
  for (uint16_t k = 0; k < len; ++k) s[k] = static_cast<char16_t>(units[2 * k] | units[2 * k + 1] << 8);
  return s;
}

std::vector<uint8_t> EncodeDirectory(const Directory& dir) {
  Writer w;
  w.Bytes(kDirectoryMagic, sizeof kDirectoryMagic);
  w.Int<uint32_t>(static_cast<uint32_t>(dir.strings.size()));
  w.Int<uint32_t>(static_cast<uint32_t>(dir.data.size()));
  for (const auto& b : dir.strings) {
    w.Int<uint16_t>(b.block);
    w.Int<uint16_t>(b.language);
    w.Int<uint32_t>(static_cast<uint32_t>(b.bytes.size()));
    w.Bytes(b.bytes.data(), b.bytes.size());
  }
  for (const auto& d : dir.data) {
    w.Int<uint16_t>(d.id);
    w.Int<uint16_t>(d.language);
    w.Int<uint16_t>(static_cast<uint16_t>(d.type.size()));
    w.Bytes(d.type.data(), d.type.size());
    w.Int<uint64_t>(d.offset);
    w.Int<uint64_t>(d.size);
  }
  return w.Take();
}

std::optional<Directory> DecodeDirectory(std::span<const uint8_t> bytes, const Trailer& trailer) {
  Reader r(bytes);
  const auto magic = r.Bytes(sizeof kDirectoryMagic);
  if (!r.ok || std::memcmp(magic.data(), kDirectoryMagic, sizeof kDirectoryMagic) != 0) {
    return std::nullopt;
  }
  const uint32_t n_strings = r.Int<uint32_t>();
  const uint32_t n_data = r.Int<uint32_t>();
  // Every entry takes at least 8 bytes: a count beyond that is corrupt.
  if (!r.ok || uint64_t{n_strings} + n_data > r.Left() / 8) return std::nullopt;
  Directory dir;
  dir.strings.reserve(n_strings);
  for (uint32_t k = 0; k < n_strings && r.ok; ++k) {
    StringBlock b;
    b.block = r.Int<uint16_t>();
    b.language = r.Int<uint16_t>();
    const auto data = r.Bytes(r.Int<uint32_t>());
    if (!r.ok || !IsValidStringBlock(data)) return std::nullopt;
    b.bytes.assign(data.begin(), data.end());
    dir.strings.push_back(std::move(b));
  }
  dir.data.reserve(n_data);
  for (uint32_t k = 0; k < n_data && r.ok; ++k) {
    DataEntry d;
    d.id = r.Int<uint16_t>();
    d.language = r.Int<uint16_t>();
    const auto type = r.Bytes(r.Int<uint16_t>());
    d.type.assign(type.begin(), type.end());
    d.offset = r.Int<uint64_t>();
    d.size = r.Int<uint64_t>();
    const bool in_section = d.offset >= trailer.section_start &&
                            d.offset <= trailer.directory_offset &&
                            d.size <= trailer.directory_offset - d.offset;
    if (!r.ok || !in_section) return std::nullopt;
    dir.data.push_back(std::move(d));
  }
  if (!r.ok) return std::nullopt;
  return dir;
}

std::array<uint8_t, kTrailerSize> EncodeTrailer(const Trailer& t) {
  Writer w;
  w.Bytes(kTrailerMagic, sizeof kTrailerMagic);
  w.Int<uint64_t>(t.directory_offset);
  w.Int<uint64_t>(t.section_start);
  const auto v = w.Take();
  std::array<uint8_t, kTrailerSize> out{};
  std::memcpy(out.data(), v.data(), out.size());
  return out;
}

std::optional<Trailer> DecodeTrailer(std::span<const uint8_t> last_bytes, uint64_t file_size) {
  if (last_bytes.size() != kTrailerSize || file_size < kTrailerSize) return std::nullopt;
  if (std::memcmp(last_bytes.data(), kTrailerMagic, sizeof kTrailerMagic) != 0) return std::nullopt;
  Reader r(last_bytes.subspan(sizeof kTrailerMagic));
  Trailer t;
  t.directory_offset = r.Int<uint64_t>();
  t.section_start = r.Int<uint64_t>();
  const uint64_t directory_end = file_size - kTrailerSize;
  if (t.section_start > t.directory_offset || t.directory_offset > directory_end ||
      directory_end - t.directory_offset > kMaxDirectorySize) {
    return std::nullopt;
  }
  return t;
}

namespace {

// The entry of `items` matching `match` in the language the loader picks.
template <typename T, typename Match>
const T* InLanguage(const std::vector<T>& items, uint16_t user_language, Match match) {
  std::vector<uint16_t> languages;
  for (const auto& item : items) {
    if (match(item)) languages.push_back(item.language);
  }
  const auto language = reslang::PickLanguage(languages, user_language);
  for (const auto& item : items) {
    if (language && match(item) && item.language == *language) return &item;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> ResourceTable::String(uint32_t id) const {
  if (id > 0xFFFF) return std::nullopt;
  const uint32_t block = id / 16 + 1;
  const auto* b = InLanguage(dir_.strings, user_language_, [&](const StringBlock& s) { return s.block == block; });
  if (!b) return std::nullopt;
  const auto s = StringFromBlock(b->bytes, id % 16);
  return s ? std::optional(text::Utf16ToUtf8(*s)) : std::nullopt;
}

const DataEntry* ResourceTable::Data(uint32_t id, const std::string& type) const {
  const std::string wanted = text::UpperAscii(type);
  return InLanguage(dir_.data, user_language_,
                    [&](const DataEntry& d) { return d.id == id && text::UpperAscii(d.type) == wanted; });
}

}  // namespace ttu::resfmt
