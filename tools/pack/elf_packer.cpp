// Packing into a Linux stub: the package becomes a section of the program,
// ".note.tessiro" (see support/linux_package.h), so that strip, objcopy and
// eu-strip keep it. The stub's bytes stay as they are; behind them come the
// section (at a 64 KiB-aligned offset, its payloads at 64 KiB-aligned offsets
// within it, copied by the kernel, their checksums, computed meanwhile from
// what was written, and the seals, from the package read back),
// the section names with the new one, and
// the section table with the new section, which the ELF header then names.
#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

#include "deploy/package_seal.h"
#include "support/elf_image.h"
#include "support/linux_package.h"
#include "support/little_endian.h"
#include "support/payload_checksum.h"
#include "tools/pack/output_file.h"
#include "tools/pack/packer.h"
#include "tools/pack/seal.h"

namespace ttu::pack {
namespace {

// The section's alignment: where a tool that rewrites the program puts it,
// the payloads stay 64 KiB-aligned in the file (the kernel copies them
// fastest from there; see support/resource_section.h).
constexpr uint64_t kSectionAlignment = resfmt::kPayloadAlignment;
constexpr uint64_t kMaxNoteSize = 0xFFFFFFFFull;  // a note's size field has 32 bits

[[noreturn]] void Refuse(const std::string& stub, const std::string& why) {
  throw PackError(stub + ": error: " + why);
}

// The section's content but the payloads, their checksums and the seals:
// where they go, the directory and trailer behind them; offsets from the
// section's start. The seals and checksums (16 bytes each) come first, right
// after the note's header.
struct SectionPlan {
  resfmt::Directory dir;
  std::vector<SourceFile> sources;
  std::vector<uint16_t> seal_languages;
  std::vector<uint64_t> payload_offsets, seal_offsets;
  std::vector<std::optional<uint64_t>> checksum_offsets;  // none: a payload without a record
  std::vector<uint8_t> tail;  // directory and trailer
  uint64_t tail_offset = 0, size = 0;
};

SectionPlan PlanSection(const PackageDescription& desc) {
  SectionPlan plan;
  plan.dir.strings = StringBlocks(desc);
  plan.seal_languages = SealLanguages(desc);
  uint64_t end = le::AlignUp(resfmt::kNoteHeaderSize, 8);
  for (uint16_t language : plan.seal_languages) {
    plan.seal_offsets.push_back(end);
    plan.dir.data.push_back({deploy::kSealId, language, deploy::kSealType, end, checksum::kSize});
    end += checksum::kSize;
  }
  for (const auto& d : desc.data) {
    plan.checksum_offsets.emplace_back();
    if (!d.recorded) continue;
    plan.checksum_offsets.back() = end;
    plan.dir.data.push_back({d.id, d.language, checksum::kResourceType, end, checksum::kSize});
    end += checksum::kSize;
  }
  for (const auto& d : desc.data) {
    plan.sources.push_back(StatSource(d.path));
    const uint64_t size = plan.sources.back().size;
    const uint64_t at = le::AlignUp(end, PayloadAlignment(d.type));
    plan.dir.data.push_back({d.id, d.language, d.type, at, size});
    plan.payload_offsets.push_back(at);
    end = at + size;
  }
  plan.tail_offset = le::AlignUp(end, 8);
  plan.tail = resfmt::EncodeDirectory(plan.dir);
  const auto trailer = resfmt::EncodeTrailer({plan.tail_offset, resfmt::kNoteHeaderSize});
  plan.tail.insert(plan.tail.end(), trailer.begin(), trailer.end());
  plan.size = plan.tail_offset + plan.tail.size();
  return plan;
}

// The section names with the package section's added, and the section table
// with the package section and the names' new place.
std::vector<uint8_t> NewNames(const elf::Image& image, uint32_t& package_name) {
  std::vector<uint8_t> names = image.names;
  package_name = static_cast<uint32_t>(names.size());
  const std::string name = resfmt::kPackageSection;
  names.insert(names.end(), name.begin(), name.end());
  names.push_back(0);
  return names;
}

std::vector<uint8_t> NewSectionTable(const elf::Image& image, const elf::Section& package, uint64_t names_offset,
                                     uint64_t names_size) {
  std::vector<uint8_t> table;
  for (std::size_t k = 0; k < image.sections.size(); ++k) {
    elf::Section s = image.sections[k];
    if (k == image.names_index) s.offset = names_offset, s.size = names_size;
    const auto e = elf::EncodeSectionHeader(s);
    table.insert(table.end(), e.begin(), e.end());
  }
  const auto e = elf::EncodeSectionHeader(package);
  table.insert(table.end(), e.begin(), e.end());
  return table;
}

}  // namespace

std::string WritePackedElf(const PackageDescription& desc, int stub_fd, const elf::Image& image, const std::string& stub,
                    const std::string& output) {
  if (image.Find(resfmt::kPackageSection)) {
    Refuse(stub, "the stub already carries a package (section " + std::string(resfmt::kPackageSection) +
                     "): pack the bare stub");
  }
  // The section table must stay below the counts that are stored elsewhere.
  if (image.sections.size() + 1 >= elf::kMaxSections) Refuse(stub, "the stub has too many sections to add one");
  SectionPlan plan = PlanSection(desc);
  if (plan.size - resfmt::kNoteHeaderSize > kMaxNoteSize) Refuse(stub, "the package is too large: 4 GiB at most");
  elf::Section package;
  package.type = elf::kSectionNote;
  package.offset = le::AlignUp(image.file_size, kSectionAlignment);
  package.size = plan.size;
  package.alignment = kSectionAlignment;
  const auto names = NewNames(image, package.name_offset);
  const uint64_t names_offset = package.offset + package.size;
  const uint64_t table_offset = le::AlignUp(names_offset + names.size(), 8);
  const auto table = NewSectionTable(image, package, names_offset, names.size());
  std::vector<uint8_t> header = image.header;
  le::Put64(header.data() + elf::kSectionTableField, table_offset);
  le::Put16(header, elf::kSectionCountField, static_cast<uint16_t>(image.sections.size() + 1));

  TempOutput out(output);
  CopyOrFail(stub_fd, 0, out.fd(), 0, image.file_size, stub);
  out.Write(header.data(), header.size(), 0);
  const auto note = resfmt::EncodePackageNoteHeader(plan.size);
  out.Write(note.data(), note.size(), package.offset);
  std::vector<uint64_t> offsets;
  for (uint64_t at : plan.payload_offsets) offsets.push_back(package.offset + at);
  const PayloadSums payload_sums = CopyPayloads(plan.sources, offsets, out.fd(), false);
  for (std::size_t k = 0; k < payload_sums.digests.size(); ++k) {
    if (!plan.checksum_offsets[k]) continue;
    out.Write(payload_sums.digests[k].data(), checksum::kSize, package.offset + *plan.checksum_offsets[k]);
  }
  out.Write(plan.tail.data(), plan.tail.size(), package.offset + plan.tail_offset);
  out.Write(names.data(), names.size(), names_offset);
  out.Write(table.data(), table.size(), table_offset);
  // The seals last, from the package as it reads back.
  const auto seals = SealsOfOutput(out.path(), out.fd(), table_offset + table.size(), plan.seal_languages);
  for (std::size_t k = 0; k < seals.size(); ++k) {
    out.Write(seals[k].data(), checksum::kSize, package.offset + plan.seal_offsets[k]);
  }
  out.Commit();
  return UnsealedNote(plan.seal_languages);
}

}  // namespace ttu::pack
