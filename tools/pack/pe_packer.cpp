// Packing into a Windows stub. The package joins the stub's own resources in
// the stub's one resource section, so that every tool that reads resources,
// whether it follows the resource directory (Windows, wrestool) or the
// section named .rsrc (binutils), sees the same ones, and strip and objcopy
// keep them. The resource section grows in place; the section that follows it
// in a linked program, the base relocations, which only its data directory
// names, moves behind it. Payloads lie at 64 KiB-aligned file offsets and are
// copied by the kernel. Headers that this touches: the two sections, the size
// of the image and of initialised data, the resource and relocation data
// directories, the certificate directory (when a signature is removed) and
// the checksum (when the stub had one).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "deploy/package_seal.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
#include "support/grouped_payload.h"
#include "support/little_endian.h"
#include "support/payload_checksum.h"
#include "support/pe_resources.h"
#include "tools/pack/output_file.h"
#include "tools/pack/packer.h"
#include "tools/pack/seal.h"

namespace ttu::pack {
namespace {

constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable
constexpr int kBaseRelocationDirectory = 5;
// A stub's own resources (an icon, a manifest, a version) are read into
// memory: a few KiB; more is no stub.
constexpr uint64_t kMaxStubResources = 16 << 20;
const std::u16string kCustom = u"CUSTOM";

[[noreturn]] void Refuse(const std::string& stub, const std::string& why) {
  throw PackError(stub + ": error: " + why);
}

// The largest image that a process of the stub's kind can map. A 32-bit
// process must find the whole image's size in one free piece of its address
// space, between the system's libraries and its own heap: measured under Wine,
// a 1018 MiB package loads and a 1020 MiB one does not, so 1000 MiB is the
// bound. A 64-bit image is bounded by the loader's 2 GiB.
uint64_t MaxImageSize(const pe::Image& image) { return image.pe32_plus ? 0x7FFF0000u : 1000ull << 20; }

std::u16string Utf16Type(const char* type) { return std::u16string(type, type + std::strlen(type)); }

// The stub's own resources, read into memory (an icon, a manifest, a version: small).
std::vector<pe::NewResource> StubResources(const FileSource& source, const pe::Image& image, const std::string& stub) {
  const auto existing = pe::ReadResources(source, image);
  if (!existing) Refuse(stub, "the stub's resource directory is damaged");
  std::vector<pe::NewResource> out;
  uint64_t total = 0;
  for (const auto& r : *existing) {
    if ((total += r.size) > kMaxStubResources) Refuse(stub, "the stub's own resources are larger than a stub's are");
    const bool package = r.type.name == kCustom || r.type.name == Utf16Type(zpayload::kResourceType) ||
                         r.type.name == Utf16Type(delta::kResourceType) || r.type.name == Utf16Type(gpayload::kPartType) ||
                         r.type.name == Utf16Type(gpayload::kGroupType) ||
                         r.type.name == Utf16Type(checksum::kResourceType) || r.type.name == Utf16Type(deploy::kSealType);
    if ((!r.type.Named() && r.type.id == pe::kStringTableType) || package) {
      Refuse(stub, "the stub already carries a package (string tables, CUSTOM resources, checksums or a seal): "
                   "pack the bare stub");
    }
    pe::NewResource n{r.type, r.name, r.language, r.code_page, std::vector<uint8_t>(r.size), false, 0};
    if (!source.Read(*image.FileOffset(r.rva, r.size), n.bytes.data(), n.bytes.size())) {
      Refuse(stub, "cannot read the stub's resources");
    }
    out.push_back(std::move(n));
  }
  return out;
}

// The package's resources: its string blocks, for each payload the payload
// (written by the caller) and its checksum, and the seals (both filled in
// once computed).
struct PackageParts {
  std::vector<pe::NewResource> resources;
  std::vector<std::size_t> payloads, seals;  // indices into `resources`
  std::vector<std::optional<std::size_t>> checksums;  // none: a payload without a record
  std::vector<SourceFile> sources;
  std::vector<uint16_t> seal_languages;
};

PackageParts PackageResources(const PackageDescription& desc, std::size_t first_index) {
  PackageParts p;
  for (auto& b : StringBlocks(desc)) {
    p.resources.push_back({{pe::kStringTableType, {}}, {b.block, {}}, b.language, 0, std::move(b.bytes), false, 0});
  }
  const std::vector<uint8_t> digest(checksum::kSize);
  for (const auto& d : desc.data) {
    p.sources.push_back(StatSource(d.path));
    // An empty payload stays among the small data: no aligned place past the section's end.
    const uint64_t size = p.sources.back().size;
    p.payloads.push_back(first_index + p.resources.size());
    p.resources.push_back({{0, Utf16Type(d.type.c_str())}, {d.id, {}}, d.language, 0, {}, size > 0, size,
                           PayloadAlignment(d.type)});
    p.checksums.emplace_back();
    if (!d.recorded) continue;
    p.checksums.back() = first_index + p.resources.size();
    p.resources.push_back({{0, Utf16Type(checksum::kResourceType)}, {d.id, {}}, d.language, 0, digest, false, 0});
  }
  p.seal_languages = SealLanguages(desc);
  for (uint16_t language : p.seal_languages) {
    p.seals.push_back(first_index + p.resources.size());
    p.resources.push_back({{0, Utf16Type(deploy::kSealType)}, {deploy::kSealId, {}}, language, 0, digest, false, 0});
  }
  return p;
}

uint64_t RawEnd(const pe::Section& s) { return uint64_t{s.raw_pointer} + s.raw_size; }
uint64_t VirtualEnd(const pe::Section& s) { return uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size); }

bool Contains(const pe::Section& s, const pe::DataDirectory& d) {
  return d.size && d.address >= s.virtual_address && uint64_t{d.address} + d.size <= VirtualEnd(s);
}

// Where the stub's bytes end: before its signature, which packing would
// invalidate and which is therefore left out. Nothing but a signature may
// follow the last section's data.
uint64_t StubEnd(const pe::Image& image, const std::string& stub, std::string& note) {
  uint64_t sections_end = image.size_of_headers;
  for (const auto& s : image.sections) sections_end = std::max(sections_end, RawEnd(s));
  const auto cert = image.Directory(pe::kCertificateDirectory);
  if (cert.size == 0) {
    if (sections_end < image.file_size) Refuse(stub, "the stub has data after its last section: use the stub as it was linked");
    return image.file_size;
  }
  if (cert.address < sections_end || cert.address > image.file_size || cert.size > image.file_size - cert.address ||
      image.file_size - cert.address - cert.size >= 8 || cert.address - sections_end >= 8) {
    Refuse(stub, "the stub's signature is not at its end, where a signature belongs");
  }
  note = "the stub was signed: its signature was removed, since packing changes what it signs; sign the packed updater";
  return sections_end;
}

// The packed image: which section holds the resources and which moves.
struct Plan {
  std::size_t resources = 0;          // index of the resource section
  bool appended = false;              // the stub had none: a section is added
  std::optional<std::size_t> moved;   // the relocation section behind it, if any
  std::vector<pe::Section> sections;  // the section table as packed
  pe::SectionLayout layout;
  uint64_t kept = 0;       // the stub's bytes kept in place: [0, kept)
  uint64_t file_size = 0;  // of the packed updater
  uint32_t size_of_image = 0, size_of_initialized_data = 0;
};

// The resource section of the stub and what follows it; refuses a stub whose
// later sections hold anything but the base relocations.
Plan FindResourceSection(const pe::Image& image, const std::string& stub) {
  Plan plan;
  plan.sections = image.sections;
  const auto dir = image.Directory(pe::kResourceDirectory);
  if (dir.size == 0) {
    plan.resources = image.sections.size();
    plan.appended = true;
    plan.sections.push_back({});
    return plan;
  }
  const auto found = std::find_if(image.sections.begin(), image.sections.end(),
                                   [&](const pe::Section& s) { return s.virtual_address == dir.address; });
  if (found == image.sections.end()) Refuse(stub, "the stub's resources do not begin a section of their own");
  plan.resources = static_cast<std::size_t>(found - image.sections.begin());
  for (std::size_t k = plan.resources + 1; k < image.sections.size(); ++k) {
    const bool relocations = Contains(image.sections[k], image.Directory(kBaseRelocationDirectory)) && !plan.moved;
    for (int d = 0; d < static_cast<int>(image.directories.size()); ++d) {
      if (d != kBaseRelocationDirectory && d != pe::kCertificateDirectory &&
          Contains(image.sections[k], image.Directory(d))) {
        Refuse(stub, "the section after the stub's resources holds more than base relocations");
      }
    }
    if (!relocations) Refuse(stub, "the stub's resource section is followed by sections that cannot move");
    plan.moved = k;
  }
  return plan;
}

// Places the resource section, the moved section behind it, and sums the sizes.
void PlaceSections(const pe::Image& image, std::vector<pe::NewResource> resources, uint64_t stub_end, Plan& plan,
                   const std::string& stub) {
  pe::Section& res = plan.sections[plan.resources];
  if (plan.appended) {
    std::memcpy(res.name.data(), ".rsrc\0\0\0", 8);
    uint64_t image_end = image.size_of_image;
    for (const auto& s : image.sections) image_end = std::max(image_end, VirtualEnd(s));
    res.virtual_address = static_cast<uint32_t>(std::min<uint64_t>(le::AlignUp(image_end, image.section_alignment), ~0u));
    res.raw_pointer = static_cast<uint32_t>(std::min<uint64_t>(le::AlignUp(stub_end, image.file_alignment), ~0u));
    res.characteristics = kResourceSectionFlags;
    plan.kept = stub_end;
  } else {
    plan.kept = res.raw_pointer ? res.raw_pointer : le::AlignUp(stub_end, image.file_alignment);
    res.raw_pointer = static_cast<uint32_t>(plan.kept);
  }
  plan.layout = pe::LayOutResources(std::move(resources), res.virtual_address, res.raw_pointer, resfmt::kPayloadAlignment);
  const uint64_t raw_size = le::AlignUp(plan.layout.size, image.file_alignment);
  uint64_t virtual_end = res.virtual_address + plan.layout.size, raw_end = res.raw_pointer + raw_size;
  if (plan.moved) {
    pe::Section& moved = plan.sections[*plan.moved];
    moved.virtual_address = static_cast<uint32_t>(std::min<uint64_t>(le::AlignUp(virtual_end, image.section_alignment), ~0u));
    moved.raw_pointer = moved.raw_size ? static_cast<uint32_t>(std::min<uint64_t>(raw_end, ~0u)) : 0;
    virtual_end = VirtualEnd(moved);
    raw_end += moved.raw_size;
  }
  const uint64_t size_of_image = le::AlignUp(virtual_end, image.section_alignment);
  if (size_of_image > MaxImageSize(image) || raw_end > 0xFFFFFFFFu) {
    Refuse(stub, "the package is too large for a " + image.Kind() + " program: its image would be " +
                     std::to_string(size_of_image >> 20) + " MiB, and at most " +
                     std::to_string(MaxImageSize(image) >> 20) + " MiB load" +
                     (image.pe32_plus ? "" : " (a 64-bit stub takes up to 2047 MiB)"));
  }
  const uint64_t old_raw = plan.appended ? 0 : image.sections[plan.resources].raw_size;
  res.virtual_size = static_cast<uint32_t>(plan.layout.size);
  res.raw_size = static_cast<uint32_t>(raw_size);
  plan.size_of_image = static_cast<uint32_t>(size_of_image);
  plan.size_of_initialized_data = static_cast<uint32_t>(image.size_of_initialized_data - old_raw + raw_size);
  plan.file_size = raw_end;
}

// The stub's headers as packed.
std::vector<uint8_t> PackedHeaders(const FileSource& source, const pe::Image& image, const Plan& plan,
                                   bool signature_removed, const std::string& stub) {
  std::vector<uint8_t> h(image.size_of_headers);
  if (!source.Read(0, h.data(), h.size())) Refuse(stub, "cannot read the stub's headers");
  if (image.directories.size() <= kBaseRelocationDirectory) Refuse(stub, "the stub has too few data directories");
  const std::size_t table_end = image.section_table_offset + pe::kSectionHeaderSize * plan.sections.size();
  if (plan.appended) {
    uint64_t first_data = image.size_of_headers;
    for (const auto& s : image.sections) {
      if (s.raw_size) first_data = std::min<uint64_t>(first_data, s.raw_pointer);
    }
    const auto added = h.begin() + static_cast<std::ptrdiff_t>(table_end - pe::kSectionHeaderSize);
    if (table_end > first_data || std::any_of(added, added + pe::kSectionHeaderSize, [](uint8_t b) { return b != 0; })) {
      Refuse(stub, "the stub's headers have no room for another section");
    }
    le::Put16(h, image.SectionCountOffset(), static_cast<uint16_t>(plan.sections.size()));
  }
  for (const std::optional<std::size_t>& k : {std::optional<std::size_t>(plan.resources), plan.moved}) {
    if (!k) continue;
    const pe::Section& s = plan.sections[*k];
    pe::EncodeSectionHeader(s, &h[image.section_table_offset + pe::kSectionHeaderSize * *k]);
  }
  le::Put32(h, image.InitializedDataOffset(), plan.size_of_initialized_data);
  le::Put32(h, image.SizeOfImageOffset(), plan.size_of_image);
  const pe::Section& res = plan.sections[plan.resources];
  le::Put32(h, image.DirectoryOffset(pe::kResourceDirectory), res.virtual_address);
  le::Put32(h, image.DirectoryOffset(pe::kResourceDirectory) + 4, res.virtual_size);
  if (plan.moved) {  // the relocations keep their place within their section
    const auto relocations = image.Directory(kBaseRelocationDirectory);
    const uint32_t into = relocations.address - image.sections[*plan.moved].virtual_address;
    le::Put32(h, image.DirectoryOffset(kBaseRelocationDirectory), plan.sections[*plan.moved].virtual_address + into);
  }
  if (signature_removed) {
    le::Put32(h, image.DirectoryOffset(pe::kCertificateDirectory), 0);
    le::Put32(h, image.DirectoryOffset(pe::kCertificateDirectory) + 4, 0);
  }
  return h;
}

}  // namespace

std::string WritePackedPe(const PackageDescription& desc, int stub_fd, const pe::Image& image,
                          const std::string& stub, const std::string& output) {
  const FileSource source(stub_fd, image.file_size);
  std::string note;
  const uint64_t stub_end = StubEnd(image, stub, note);
  auto resources = StubResources(source, image, stub);
  PackageParts package = PackageResources(desc, resources.size());
  resources.insert(resources.end(), std::make_move_iterator(package.resources.begin()),
                   std::make_move_iterator(package.resources.end()));

  Plan plan = FindResourceSection(image, stub);
  PlaceSections(image, std::move(resources), stub_end, plan, stub);
  const auto headers = PackedHeaders(source, image, plan, !note.empty(), stub);

  TempOutput out(output);
  const pe::Section& res = plan.sections[plan.resources];
  CopyOrFail(stub_fd, 0, out.fd(), 0, plan.kept, stub);
  // The checksum field stays zero until the sum is taken over what was written.
  auto zeroed = headers;
  std::fill_n(zeroed.begin() + image.ChecksumOffset(), 4, 0);
  out.Write(zeroed.data(), zeroed.size(), 0);
  // The checksums, computed from the payloads as written, go into their places in the directory's data.
  std::vector<uint64_t> offsets;
  for (std::size_t index : package.payloads) offsets.push_back(res.raw_pointer + plan.layout.offsets[index]);
  const PayloadSums payload_sums = CopyPayloads(package.sources, offsets, out.fd(), image.checksum != 0);
  for (std::size_t k = 0; k < package.checksums.size(); ++k) {
    if (!package.checksums[k]) continue;
    std::copy(payload_sums.digests[k].begin(), payload_sums.digests[k].end(),
              plan.layout.head.begin() + static_cast<std::ptrdiff_t>(plan.layout.offsets[*package.checksums[k]]));
  }
  out.Write(plan.layout.head.data(), plan.layout.head.size(), res.raw_pointer);
  if (plan.moved) {
    const pe::Section& from = image.sections[*plan.moved];
    CopyOrFail(stub_fd, from.raw_pointer, out.fd(), plan.sections[*plan.moved].raw_pointer, from.raw_size, stub);
  }
  if (::ftruncate(out.fd(), static_cast<off_t>(plan.file_size)) != 0) FailWithErrno("cannot write " + output);
  const auto seals = SealsOfOutput(out.path(), out.fd(), plan.file_size, package.seal_languages);
  for (std::size_t k = 0; k < seals.size(); ++k) {
    out.Write(seals[k].data(), checksum::kSize, res.raw_pointer + plan.layout.offsets[package.seals[k]]);
  }
  if (image.checksum != 0) {
    // Summed from the output: the headers and the stub's code, the resource
    // section's head, the payloads (summed as they were copied), the moved
    // section; what lies between them is zero.
    const uint64_t head_end = res.raw_pointer + plan.layout.head.size();
    uint64_t words = SumFileWords(out.fd(), 0, head_end, output) + payload_sums.words;
    if (plan.moved) {
      const pe::Section& moved = plan.sections[*plan.moved];
      words += SumFileWords(out.fd(), moved.raw_pointer, moved.raw_size, output);
    }
    std::vector<uint8_t> sum(4);
    le::Put32(sum, 0, pe::FinishChecksum(words, plan.file_size));
    out.Write(sum.data(), 4, image.ChecksumOffset());
  }
  out.Commit();
  const std::string unsealed = UnsealedNote(package.seal_languages);
  return note.empty() || unsealed.empty() ? note + unsealed : note + "; " + unsealed;
}

}  // namespace ttu::pack
