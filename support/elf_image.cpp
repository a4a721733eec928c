#include "support/elf_image.h"

#include <algorithm>
#include <cstring>

#include "support/little_endian.h"

namespace ttu::elf {
namespace {

constexpr uint16_t kMachineX8664 = 62;
constexpr uint16_t kTypeExec = 2, kTypeDyn = 3;
constexpr uint64_t kMaxNames = 1 << 20;

}  // namespace

const Section* Image::Find(const std::string& name) const {
  const auto it = std::find_if(sections.begin(), sections.end(), [&](const Section& s) { return s.name == name; });
  return it == sections.end() ? nullptr : &*it;
}

std::optional<Image> ReadImage(const ByteSource& source, std::string* damage) {
  const auto damaged = [damage](const char* why) {
    if (damage) *damage = why;
    return std::nullopt;
  };
  Image img;
  img.file_size = source.Size();
  img.header.resize(kHeaderSize);
  const uint8_t* h = img.header.data();
  if (!source.Read(0, img.header.data(), kHeaderSize) || std::memcmp(h, "\x7F" "ELF", 4) != 0) return std::nullopt;
  const bool elf64_le = h[4] == 2 && h[5] == 1 && h[6] == 1;
  const uint16_t type = le::Get16(h + 16), machine = le::Get16(h + 18);
  if (!elf64_le || (type != kTypeExec && type != kTypeDyn) || machine != kMachineX8664) return std::nullopt;
  img.section_table_offset = le::Get64(h + kSectionTableField);
  const uint16_t entry_size = le::Get16(h + 58), count = le::Get16(h + kSectionCountField);
  img.names_index = le::Get16(h + 62);
  if (entry_size != kSectionHeaderSize || count == 0 || count >= kMaxSections || img.names_index >= count) {
    return damaged("the program's section table is damaged");
  }
  if (img.section_table_offset > img.file_size || uint64_t{count} * kSectionHeaderSize > img.file_size - img.section_table_offset) {
    return damaged("the program is cut short (its section table lies past its end)");
  }
  std::vector<uint8_t> table(std::size_t{count} * kSectionHeaderSize);
  if (!source.Read(img.section_table_offset, table.data(), table.size())) return damaged("the program cannot be read");
  for (uint16_t k = 0; k < count; ++k) {
    const Section s = DecodeSectionHeader(&table[std::size_t{k} * kSectionHeaderSize]);
    if (s.type != kSectionNoBits && (s.offset > img.file_size || s.size > img.file_size - s.offset)) {
      return damaged("the program is cut short (a section lies past its end)");
    }
    img.sections.push_back(s);
  }
  const Section& names = img.sections[img.names_index];
  if (names.type != kSectionStrings || names.size > kMaxNames) return damaged("the program's section names are damaged");
  img.names.resize(names.size);
  if (!source.Read(names.offset, img.names.data(), img.names.size())) return damaged("the program cannot be read");
  for (auto& s : img.sections) {
    if (s.name_offset >= img.names.size()) return damaged("the program's section names are damaged");
    const auto* start = reinterpret_cast<const char*>(img.names.data()) + s.name_offset;
    s.name.assign(start, strnlen(start, img.names.size() - s.name_offset));
  }
  return img;
}

std::vector<uint8_t> EncodeSectionHeader(const Section& s) {
  std::vector<uint8_t> e(kSectionHeaderSize);
  le::Put32(e, 0, s.name_offset), le::Put32(e, 4, s.type);
  le::Put64(e.data() + 8, s.flags), le::Put64(e.data() + 16, s.address), le::Put64(e.data() + 24, s.offset);
  le::Put64(e.data() + 32, s.size), le::Put32(e, 40, s.link), le::Put32(e, 44, s.info);
  le::Put64(e.data() + 48, s.alignment), le::Put64(e.data() + 56, s.entry_size);
  return e;
}

Section DecodeSectionHeader(const uint8_t* e) {
  return {"", le::Get32(e), le::Get32(e + 4), le::Get64(e + 8), le::Get64(e + 16), le::Get64(e + 24),
          le::Get64(e + 32), le::Get32(e + 40), le::Get32(e + 44), le::Get64(e + 48), le::Get64(e + 56)};
}

}  // namespace ttu::elf
