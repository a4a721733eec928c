#include "support/pe_image.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "support/little_endian.h"

namespace ttu::pe {
namespace {

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kMaxHeaders = 1 << 20;


bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

std::optional<uint64_t> Image::FileOffset(uint32_t rva, uint64_t size) const {
  for (const auto& s : sections) {
    if (rva < s.virtual_address) continue;
    const uint64_t into = rva - s.virtual_address;
    if (into > s.raw_size || size > s.raw_size - into) continue;
    return uint64_t{s.raw_pointer} + into;
  }
  return std::nullopt;
}

std::string Image::Kind() const {
  const char* cpu = machine == 0x14C ? "x86" : machine == 0x8664 ? "x86-64" : machine == 0xAA64 ? "ARM64" : "other";
  return std::string(pe32_plus ? "PE32+" : "PE32") + " (" + cpu + ")";
}

void EncodeSectionHeader(const Section& s, uint8_t* out) {
  std::memcpy(out, s.name.data(), 8);
  le::Put32(out + 8, s.virtual_size);
  le::Put32(out + 12, s.virtual_address);
  le::Put32(out + 16, s.raw_size);
  le::Put32(out + 20, s.raw_pointer);
  le::Put32(out + 36, s.characteristics);
}

Section DecodeSectionHeader(const uint8_t* in) {
  Section s;
  std::memcpy(s.name.data(), in, 8);
  s.virtual_size = le::Get32(in + 8);
  s.virtual_address = le::Get32(in + 12);
  s.raw_size = le::Get32(in + 16);
  s.raw_pointer = le::Get32(in + 20);
  s.characteristics = le::Get32(in + 36);
  return s;
}

std::optional<Image> ReadImage(const ByteSource& source, std::string* damage) {
  const auto damaged = [damage](const char* why) {
    if (damage) *damage = why;
    return std::nullopt;
  };
  Image img;
  img.file_size = source.Size();
  uint8_t dos[64];
  if (!source.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return damaged("no DOS header");
  img.pe_offset = le::Get32(dos + 60);
  uint8_t coff[24];
  if (img.pe_offset > kMaxHeaders || !source.Read(img.pe_offset, coff, sizeof coff) ||
      std::memcmp(coff, "PE\0\0", 4) != 0) {
    return damaged("no PE signature");
  }
  img.machine = le::Get16(coff + 4);
  const uint16_t n_sections = le::Get16(coff + kSectionCountField);
  const uint16_t optional_size = le::Get16(coff + 20);
  img.optional_offset = img.pe_offset + 24;
  img.section_table_offset = img.optional_offset + optional_size;
  std::vector<uint8_t> opt(optional_size);
  if (n_sections == 0 || n_sections > kMaxSections || optional_size < 96 ||
      !source.Read(img.optional_offset, opt.data(), opt.size())) {
    return damaged("its headers are damaged or cut short");
  }
  const uint16_t magic = le::Get16(opt.data());
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return damaged("neither PE32 nor PE32+");
  img.pe32_plus = magic == kMagicPe32Plus;
  const std::size_t dirs_at = img.pe32_plus ? 112 : 96;
  if (opt.size() < dirs_at) return damaged("its optional header is cut short");
  img.size_of_initialized_data = le::Get32(&opt[kInitializedDataField]);
  img.section_alignment = le::Get32(&opt[32]);
  img.file_alignment = le::Get32(&opt[36]);
  img.size_of_image = le::Get32(&opt[kSizeOfImageField]);
  img.size_of_headers = le::Get32(&opt[60]);
  img.checksum = le::Get32(&opt[kChecksumField]);
  const uint32_t n_dirs = le::Get32(&opt[dirs_at - 4]);
  if (!IsPowerOfTwo(img.file_alignment) || !IsPowerOfTwo(img.section_alignment) ||
      img.file_alignment > img.section_alignment || n_dirs > 16 || dirs_at + 8 * n_dirs > opt.size()) {
    return damaged("its alignments or data directories are damaged");
  }
  for (uint32_t k = 0; k < n_dirs; ++k) {
    img.directories.push_back({le::Get32(&opt[dirs_at + 8 * k]), le::Get32(&opt[dirs_at + 8 * k + 4])});
  }
  // The headers, the section table among them, lie in the file's first bytes.
  const uint64_t table_end = uint64_t{img.section_table_offset} + std::size_t{n_sections} * kSectionHeaderSize;
  if (img.size_of_headers < table_end || img.size_of_headers > img.file_size || img.size_of_headers > kMaxHeaders) {
    return damaged("its size of headers is damaged, or it is cut short");
  }
  std::vector<uint8_t> table(std::size_t{n_sections} * kSectionHeaderSize);
  if (!source.Read(img.section_table_offset, table.data(), table.size())) return damaged("it is cut short");
  for (uint16_t k = 0; k < n_sections; ++k) {
    Section s = DecodeSectionHeader(&table[k * kSectionHeaderSize]);
    if (s.raw_size && uint64_t{s.raw_pointer} + s.raw_size > img.file_size) {
      return damaged("it is cut short (a section's data lies past its end)");
    }
    if (s.raw_size == 0) s.raw_pointer = 0;
    if (s.raw_size && s.raw_pointer < img.size_of_headers) return damaged("a section's data lies inside its headers");
    img.sections.push_back(s);
  }
  // Sections' data never share bytes: writing one must not change another.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const auto& s : img.sections) {
    if (s.raw_size) ranges.emplace_back(s.raw_pointer, uint64_t{s.raw_pointer} + s.raw_size);
  }
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t k = 1; k < ranges.size(); ++k) {
    if (ranges[k].first < ranges[k - 1].second) return damaged("two sections' data overlap");
  }
  return img;
}

uint64_t SumWords(std::span<const uint8_t> bytes) {
  // Summed 32 bits at a time (two at a time, from 64-bit loads): 2^16 is 1
  // modulo 2^16 - 1, so the halves of a 32-bit word add in as two words
  // would; the carries fold in at the end.
  uint64_t low = 0, high = 0;
  const uint8_t* p = bytes.data();
  const std::size_t whole = bytes.size() & ~std::size_t{7};
  for (std::size_t k = 0; k < whole; k += 8) {
    uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&w, p + k, 8);
    } else {
      for (int b = 7; b >= 0; --b) w = w << 8 | p[k + static_cast<std::size_t>(b)];
    }
    low += static_cast<uint32_t>(w);
    high += w >> 32;
  }
  uint64_t sum = low + high;
  for (std::size_t k = whole; k < bytes.size(); ++k) sum += uint32_t{p[k]} << (8 * ((k - whole) % 2));
  return sum;
}

uint32_t FinishChecksum(uint64_t sum, uint64_t file_size) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file_size);
}

}  // namespace ttu::pe
