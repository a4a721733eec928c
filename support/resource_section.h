// The directory and trailer of a Linux updater's package: which payloads and
// string tables it carries and where. The package itself sits in a section of
// the program (support/linux_package.h says where and how it is found):
//   [payloads, each at a 64 KiB-aligned offset][directory][trailer]
// Trailer (last 24 bytes): "TTURSRC1", u64 directory offset, u64 where the
// offsets count from (the section's start; the file's start in updaters that
// carried the package after the program's last byte).
// Directory: "TTUDIR01", u32 string blocks, u32 data entries, then
//   string block: u16 block number, u16 language, u32 byte length, the block
//   data entry:   u16 id, u16 language, u16 type length, type (ASCII),
//                 u64 offset, u64 size
// String blocks are in the standard string-table format: 16 strings, each a
// u16 length followed by that many UTF-16 code units; block = id / 16 + 1.
// All integers are little-endian.
#pragma once

#include <array>
#include <map>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ttu::resfmt {

// Payload offsets are multiples of the file-system block size, so that file
// systems that share extents can clone a payload, and of 64 KiB, so that the
// kernel copies between page-cache folios of the same alignment (about 20 %
// faster than from an offset aligned to 4 KiB only).
inline constexpr uint64_t kPayloadAlignment = 65536;
inline constexpr std::size_t kTrailerSize = 24;
// A directory larger than this is taken for a corrupt file rather than read
// (a package of 65535 items with descriptors of a few hundred characters
// takes a few MiB).
inline constexpr uint64_t kMaxDirectorySize = 16u << 20;

struct StringBlock {
  uint16_t block = 0;
  uint16_t language = 0;
  std::vector<uint8_t> bytes;
};

struct DataEntry {
  uint16_t id = 0;
  uint16_t language = 0;
  std::string type;
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct Directory {
  std::vector<StringBlock> strings;
  std::vector<DataEntry> data;
};

struct Trailer {
  uint64_t directory_offset = 0;
  uint64_t section_start = 0;
};

using Strings16 = std::array<std::optional<std::u16string>, 16>;

std::vector<uint8_t> EncodeStringBlock(const Strings16& strings);
// String `index` (0..15) of a block; an empty entry counts as absent.
std::optional<std::u16string> StringFromBlock(std::span<const uint8_t> block, unsigned index);
bool IsValidStringBlock(std::span<const uint8_t> block);

std::vector<uint8_t> EncodeDirectory(const Directory& dir);
// Checks every count, length and range against the bytes given and against
// [section_start, directory_offset) of the file; nothing when anything is off.
std::optional<Directory> DecodeDirectory(std::span<const uint8_t> bytes, const Trailer& trailer);

std::array<uint8_t, kTrailerSize> EncodeTrailer(const Trailer& t);
std::optional<Trailer> DecodeTrailer(std::span<const uint8_t> last_bytes, uint64_t file_size);

// Lookups over a decoded directory, as the updater makes them: where a
// resource is there in several languages, the one that the Windows resource
// loader would pick for a user whose language is `user_language`. As there, a
// string's language is chosen by its block: a string missing from the chosen
// block is missing.
class ResourceTable {
 public:
  explicit ResourceTable(Directory dir, uint16_t user_language = 0x0409);
  std::optional<std::string> String(uint32_t id) const;  // UTF-8
  const DataEntry* Data(uint32_t id, const std::string& type) const;
  const Directory& directory() const { return dir_; }
  // Reads on as a user of another language reads (one table serves all).
  void set_user_language(uint16_t language) { user_language_ = language; }

 private:
  Directory dir_;
  uint16_t user_language_;
  // Each lookup goes straight to the entries it may pick from: a package of
  // 65,435 items is read in time linear in its items.
  std::map<uint16_t, std::vector<std::size_t>> blocks_;                         // block -> strings
  std::map<std::pair<std::string, uint16_t>, std::vector<std::size_t>> data_;  // (TYPE, id) -> data
};

}  // namespace ttu::resfmt
