// Windows executables (PE32 and PE32+): the headers and sections that finding
// and adding resources needs, read from any byte source with every offset and
// size checked, so that a damaged file gives nothing instead of a crash.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/byte_source.h"

namespace ttu::pe {

using ttu::ByteSource;
using ttu::MemorySource;

inline constexpr std::size_t kSectionHeaderSize = 40;
// Where the fields that are read and written back sit: NumberOfSections from
// the "PE\0\0" signature; the others from the optional header's start.
inline constexpr uint32_t kSectionCountField = 6;
inline constexpr uint32_t kInitializedDataField = 8;
inline constexpr uint32_t kSizeOfImageField = 56;
inline constexpr uint32_t kChecksumField = 64;
inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;

struct Section {
  std::array<char, 8> name{};
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t raw_size = 0;
  uint32_t raw_pointer = 0;
  uint32_t characteristics = 0;
};

struct DataDirectory {
  uint32_t address = 0;  // an RVA, except for the certificate table: a file offset
  uint32_t size = 0;
};

struct Image {
  bool pe32_plus = false;
  uint16_t machine = 0;
  uint32_t pe_offset = 0;  // the "PE\0\0" signature
  uint32_t optional_offset = 0;
  uint32_t section_table_offset = 0;
  uint32_t file_alignment = 0;
  uint32_t section_alignment = 0;
  uint32_t size_of_image = 0;
  uint32_t size_of_headers = 0;
  uint32_t checksum = 0;
  uint32_t size_of_initialized_data = 0;
  std::vector<DataDirectory> directories;
  std::vector<Section> sections;
  uint64_t file_size = 0;

  // The file offset of `size` bytes at `rva`, when they lie in one section's raw data.
  std::optional<uint64_t> FileOffset(uint32_t rva, uint64_t size) const;
  DataDirectory Directory(int index) const {
    return index < static_cast<int>(directories.size()) ? directories[index] : DataDirectory{};
  }
  // Offsets of header fields in the file, for writing them back.
  uint32_t SectionCountOffset() const { return pe_offset + kSectionCountField; }
  uint32_t InitializedDataOffset() const { return optional_offset + kInitializedDataField; }
  uint32_t SizeOfImageOffset() const { return optional_offset + kSizeOfImageField; }
  uint32_t ChecksumOffset() const { return optional_offset + kChecksumField; }
  uint32_t DirectoryOffset(int index) const { return optional_offset + (pe32_plus ? 112 : 96) + 8 * index; }
  std::string Kind() const;  // "PE32 (x86)", "PE32+ (x86-64)"
};

// A section header as the section table stores it (kSectionHeaderSize bytes).
void EncodeSectionHeader(const Section& s, uint8_t* out);
Section DecodeSectionHeader(const uint8_t* in);

// The headers of a PE image; nothing when the bytes are not a usable one
// (then `damage`, when given, says why).
std::optional<Image> ReadImage(const ByteSource& source, std::string* damage = nullptr);

// The PE checksum: the 16-bit one's-complement sum of the file's little-endian
// words, its own checksum field counted as zero, plus the file's length.
// Pieces of a file may be summed apart and their sums added, each piece
// starting at an even offset; an odd piece's last byte is a word's low byte.
uint64_t SumWords(std::span<const uint8_t> bytes);
uint32_t FinishChecksum(uint64_t sum_of_words, uint64_t file_size);

}  // namespace ttu::pe
