// Linux executables (ELF): the headers and sections that finding and adding
// the package section needs, read with every offset and size checked. Only
// what the Linux updater is: 64-bit little-endian x86-64, a program (ET_EXEC)
// or a position-independent one (ET_DYN).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_source.h"

namespace ttu::elf {

inline constexpr uint32_t kSectionNote = 7;       // SHT_NOTE
inline constexpr uint32_t kSectionNoBits = 8;     // SHT_NOBITS
inline constexpr uint32_t kSectionStrings = 3;    // SHT_STRTAB
inline constexpr std::size_t kHeaderSize = 64;    // Elf64_Ehdr
inline constexpr std::size_t kSectionHeaderSize = 64;  // Elf64_Shdr
// Where the ELF header keeps the fields that are read and written back.
inline constexpr std::size_t kSectionTableField = 40;  // e_shoff
inline constexpr std::size_t kSectionCountField = 60;  // e_shnum
// Section counts from here on (SHN_LORESERVE) are stored elsewhere (extended
// numbering), which no program linked here uses: neither read nor written.
inline constexpr std::size_t kMaxSections = 0xFF00;

struct Section {
  std::string name;
  uint32_t name_offset = 0, type = 0;
  uint64_t flags = 0, address = 0, offset = 0, size = 0;
  uint32_t link = 0, info = 0;
  uint64_t alignment = 0, entry_size = 0;
};

struct Image {
  std::vector<uint8_t> header;  // the ELF header, 64 bytes
  uint64_t section_table_offset = 0;
  uint16_t names_index = 0;     // of the section that holds the section names
  std::vector<Section> sections;
  std::vector<uint8_t> names;   // that section's bytes
  uint64_t file_size = 0;

  const Section* Find(const std::string& name) const;
};

// The headers of an ELF executable of the updater's kind; nothing when the
// bytes are not one, or when its section table is damaged or cut short (then
// `damage`, when given, says so).
std::optional<Image> ReadImage(const ByteSource& source, std::string* damage = nullptr);

// A section header as the section table stores it.
std::vector<uint8_t> EncodeSectionHeader(const Section& s);
Section DecodeSectionHeader(const uint8_t* in);  // its name left to be looked up

}  // namespace ttu::elf
