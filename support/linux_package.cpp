#include "support/linux_package.h"

#include <cstring>

#include "support/elf_image.h"
#include "support/little_endian.h"

namespace ttu::resfmt {
namespace {

constexpr char kNoteName[8] = {'T', 'e', 's', 's', 'i', 'r', 'o', '\0'};

// The directory of a package that occupies [start, start + size) of the file,
// its offsets counted from `start`.
std::optional<Directory> ReadDirectory(const ByteSource& file, uint64_t start, uint64_t size) {
  std::array<uint8_t, kTrailerSize> last{};
  if (size < last.size() || !file.Read(start + size - last.size(), last.data(), last.size())) return std::nullopt;
  const auto trailer = DecodeTrailer(last, size);
  if (!trailer) return std::nullopt;
  std::vector<uint8_t> bytes(size - kTrailerSize - trailer->directory_offset);
  if (!file.Read(start + trailer->directory_offset, bytes.data(), bytes.size())) return std::nullopt;
  return DecodeDirectory(bytes, *trailer);
}

bool HasPackageNoteHeader(const ByteSource& file, const elf::Section& s) {
  uint8_t header[kNoteHeaderSize];
  if (s.type != elf::kSectionNote || s.size < kNoteHeaderSize || !file.Read(s.offset, header, sizeof header)) {
    return false;
  }
  return le::Get32(header) == sizeof kNoteName && le::Get32(header + 4) == s.size - kNoteHeaderSize &&
         le::Get32(header + 8) == kPackageNoteType && std::memcmp(header + 12, kNoteName, sizeof kNoteName) == 0;
}

// The package section by its name, or else by its note's header: a damaged
// name must not make a damaged updater look like one without a package.
const elf::Section* PackageSection(const ByteSource& file, const elf::Image& image) {
  if (const elf::Section* s = image.Find(kPackageSection)) return s;
  for (const auto& s : image.sections) {
    if (HasPackageNoteHeader(file, s)) return &s;
  }
  return nullptr;
}

std::optional<Directory> FromSection(const ByteSource& file, const elf::Section& s) {
  if (!HasPackageNoteHeader(file, s)) return std::nullopt;
  auto dir = ReadDirectory(file, s.offset, s.size);
  if (!dir) return std::nullopt;
  for (auto& d : dir->data) d.offset += s.offset;
  return dir;
}

}  // namespace

std::vector<uint8_t> EncodePackageNoteHeader(uint64_t section_size) {
  std::vector<uint8_t> h;
  le::Append32(h, sizeof kNoteName);
  le::Append32(h, static_cast<uint32_t>(section_size - kNoteHeaderSize));
  le::Append32(h, kPackageNoteType);
  h.insert(h.end(), kNoteName, kNoteName + sizeof kNoteName);
  return h;
}

std::optional<LinuxPackage> FindLinuxPackage(const ByteSource& file, std::string* damage) {
  std::string why;
  if (const auto image = elf::ReadImage(file, &why)) {
    if (const elf::Section* s = PackageSection(file, *image)) {
      auto dir = FromSection(file, *s);
      if (!dir) {
        if (damage) *damage = std::string("its package (section ") + kPackageSection + ") is damaged";
        return std::nullopt;
      }
      return LinuxPackage{std::move(*dir), std::string("section ") + kPackageSection};
    }
  } else if (!why.empty()) {
    if (damage) *damage = why;
    return std::nullopt;
  }
  // An updater packed before packages became a section: the package after the program.
  if (auto dir = ReadDirectory(file, 0, file.Size())) return LinuxPackage{std::move(*dir), "after the program"};
  std::array<uint8_t, kTrailerSize> last{};
  if (damage && file.Size() >= last.size() && file.Read(file.Size() - last.size(), last.data(), last.size()) &&
      DecodeTrailer(last, file.Size())) {
    *damage = "its package (after the program) is damaged";
  }
  return std::nullopt;
}

}  // namespace ttu::resfmt
