// Packing into a Windows stub: the stub's bytes, unchanged, then one new
// section at the end holding the whole resource directory (the stub's own
// resources and the package), which the resource data directory points at.
// The payloads lie in it at 64 KiB-aligned file offsets and are copied by the
// kernel. Headers that this touches: the section count and a new section
// header, the size of the image and of initialised data, the resource data
// directory, the certificate directory (when a signature is removed) and the
// checksum (when the stub had one).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <future>

#include "support/pe_resources.h"
#include "tools/pack/output_file.h"
#include "tools/pack/packer.h"

namespace ttu::pack {
namespace {

constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable
constexpr uint64_t kMaxImageSize = 0x7FFF0000;           // what a Windows loader maps
const std::u16string kCustom = u"CUSTOM";

[[noreturn]] void Refuse(const std::string& stub, const std::string& why) {
  throw PackError(stub + ": error: " + why);
}

void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v), b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v)), Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// The stub's own resources, read into memory (an icon, a version: small).
std::vector<pe::NewResource> StubResources(const FileSource& source, const pe::Image& image, const std::string& stub) {
  const auto existing = pe::ReadResources(source, image);
  if (!existing) Refuse(stub, "the stub's resource directory is damaged");
  std::vector<pe::NewResource> out;
  for (const auto& r : *existing) {
    if ((!r.type.Named() && r.type.id == pe::kStringTableType) || r.type.name == kCustom) {
      Refuse(stub, "the stub already carries a package (string tables or CUSTOM resources): pack the bare stub");
    }
    pe::NewResource n{r.type, r.name, r.language, r.code_page, std::vector<uint8_t>(r.size), false, 0};
    if (!source.Read(*image.FileOffset(r.rva, r.size), n.bytes.data(), n.bytes.size())) {
      Refuse(stub, "cannot read the stub's resources");
    }
    out.push_back(std::move(n));
  }
  return out;
}

std::vector<pe::NewResource> PackageResources(const PackageDescription& desc) {
  std::vector<pe::NewResource> out;
  for (auto& b : StringBlocks(desc)) {
    out.push_back({{pe::kStringTableType, {}}, {b.block, {}}, b.language, 0, std::move(b.bytes), false, 0});
  }
  for (const auto& d : desc.data) {
    struct stat st {};
    if (::stat(d.path.c_str(), &st) != 0) FailWithErrno("cannot read " + d.path);
    // An empty payload stays among the small data: no aligned place past the section's end.
    const auto size = static_cast<uint64_t>(st.st_size);
    out.push_back({{0, kCustom}, {d.id, {}}, d.language, 0, {}, size > 0, size});
  }
  return out;
}

// Where the stub's bytes end: before its signature, which packing would
// invalidate and which is therefore left out.
uint64_t StubEnd(const pe::Image& image, const std::string& stub, std::string& note) {
  const auto cert = image.Directory(pe::kCertificateDirectory);
  if (cert.size == 0) return image.file_size;
  if (cert.address > image.file_size || uint64_t{cert.address} + cert.size + 8 < image.file_size) {
    Refuse(stub, "the stub's signature is not at its end, where a signature belongs");
  }
  note = "the stub was signed: its signature was removed, since packing changes what it signs; sign the packed updater";
  return cert.address;
}

// The headers with one more section, the resource directory pointing at it.
std::vector<uint8_t> PatchedHeaders(const FileSource& source, const pe::Image& image, const pe::Section& added,
                                    bool signature_removed, const std::string& stub) {
  std::vector<uint8_t> h(image.size_of_headers);
  if (!source.Read(0, h.data(), h.size())) Refuse(stub, "cannot read the stub's headers");
  const std::size_t at = image.section_table_offset + pe::kSectionHeaderSize * image.sections.size();
  uint64_t first_data = image.size_of_headers;
  for (const auto& s : image.sections) {
    if (s.raw_size) first_data = std::min<uint64_t>(first_data, s.raw_pointer);
  }
  if (at + pe::kSectionHeaderSize > first_data ||
      std::any_of(h.begin() + static_cast<std::ptrdiff_t>(at), h.begin() + static_cast<std::ptrdiff_t>(at + pe::kSectionHeaderSize),
                  [](uint8_t b) { return b != 0; })) {
    Refuse(stub, "the stub's headers have no room for another section");
  }
  std::memcpy(&h[at], added.name.data(), 8);
  Put32(h, at + 8, added.virtual_size);
  Put32(h, at + 12, added.virtual_address);
  Put32(h, at + 16, added.raw_size);
  Put32(h, at + 20, added.raw_pointer);
  Put32(h, at + 36, added.characteristics);
  Put16(h, image.pe_offset + 6, static_cast<uint16_t>(image.sections.size() + 1));
  Put32(h, image.optional_offset + 8, image.size_of_initialized_data + added.raw_size);
  const uint64_t end = uint64_t{added.virtual_address} + added.virtual_size;
  Put32(h, image.optional_offset + 56, static_cast<uint32_t>((end + image.section_alignment - 1) / image.section_alignment * image.section_alignment));
  if (image.directories.size() <= pe::kResourceDirectory) Refuse(stub, "the stub has no resource data directory");
  Put32(h, image.DirectoryOffset(pe::kResourceDirectory), added.virtual_address);
  Put32(h, image.DirectoryOffset(pe::kResourceDirectory) + 4, added.virtual_size);
  if (signature_removed) {
    Put32(h, image.DirectoryOffset(pe::kCertificateDirectory), 0);
    Put32(h, image.DirectoryOffset(pe::kCertificateDirectory) + 4, 0);
  }
  return h;
}

// The sum of the words of `size` bytes of a file, mapped a window at a time
// (no copy, and never more than a window resident).
uint64_t SumFileWords(int fd, uint64_t offset, uint64_t size, const std::string& what) {
  constexpr uint64_t kWindow = 8 << 20;
  const auto page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  uint64_t sum = 0;
  for (uint64_t done = 0; done < size;) {
    const uint64_t at = offset + done, start = at / page * page;
    const uint64_t n = std::min(kWindow, size - done);
    const std::size_t length = static_cast<std::size_t>(at - start + n);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (map == MAP_FAILED) FailWithErrno("cannot read " + what);
    ::madvise(map, length, MADV_SEQUENTIAL);
    sum += pe::SumWords({static_cast<const uint8_t*>(map) + (at - start), static_cast<std::size_t>(n)});
    ::munmap(map, length);
    done += n;
  }
  return sum;
}

}  // namespace

std::string WritePackedPe(const PackageDescription& desc, int stub_fd, const pe::Image& image,
                          const std::string& stub, const std::string& output) {
  const FileSource source(stub_fd, image.file_size);
  auto resources = StubResources(source, image, stub);
  std::string note;
  const uint64_t stub_end = StubEnd(image, stub, note);
  auto package = PackageResources(desc);
  resources.insert(resources.end(), std::make_move_iterator(package.begin()), std::make_move_iterator(package.end()));

  pe::Section added;
  std::memcpy(added.name.data(), ".rsrc\0\0\0", 8);
  added.raw_pointer = static_cast<uint32_t>(resfmt::AlignUp(stub_end, image.file_alignment));
  uint64_t image_end = image.size_of_image;
  for (const auto& s : image.sections) {
    image_end = std::max<uint64_t>(image_end, uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
  }
  added.virtual_address = static_cast<uint32_t>(resfmt::AlignUp(image_end, image.section_alignment));
  const auto layout = pe::LayOutResources(resources, added.virtual_address, added.raw_pointer, resfmt::kPayloadAlignment);
  if (added.virtual_address + layout.size > kMaxImageSize || added.raw_pointer + layout.size > 0xFFFFFFFFu) {
    Refuse(stub, "the package is too large for a Windows executable (2 GiB at most)");
  }
  added.virtual_size = static_cast<uint32_t>(layout.size);
  added.raw_size = static_cast<uint32_t>(resfmt::AlignUp(layout.size, image.file_alignment));
  added.characteristics = kResourceSectionFlags;
  const auto headers = PatchedHeaders(source, image, added, !note.empty(), stub);

  // The checksum's largest part, the payloads' words, is summed while the
  // kernel copies them, each piece at an even offset as the sum needs.
  const std::size_t first_payload = resources.size() - desc.data.size();
  std::future<uint64_t> payload_words;
  if (image.checksum != 0) {
    payload_words = std::async(std::launch::async, [&desc, &resources, first_payload] {
      uint64_t sum = 0;
      for (std::size_t k = 0; k < desc.data.size(); ++k) {
        platform::Fd in(::open(desc.data[k].path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) FailWithErrno("cannot read " + desc.data[k].path);
        sum += SumFileWords(in.get(), 0, resources[first_payload + k].size, desc.data[k].path);
      }
      return sum;
    });
  }
  TempOutput out(output);
  CopyOrFail(stub_fd, 0, out.fd(), 0, stub_end, stub);
  out.Write(headers.data(), headers.size(), 0);
  out.Write(layout.head.data(), layout.head.size(), added.raw_pointer);
  for (std::size_t k = 0; k < desc.data.size(); ++k) {
    platform::Fd in(::open(desc.data[k].path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) FailWithErrno("cannot read " + desc.data[k].path);
    CopyOrFail(in.get(), 0, out.fd(), added.raw_pointer + layout.offsets[first_payload + k],
               resources[first_payload + k].size, desc.data[k].path);
  }
  const uint64_t size = uint64_t{added.raw_pointer} + added.raw_size;
  if (::ftruncate(out.fd(), static_cast<off_t>(size)) != 0) FailWithErrno("cannot write " + output);
  if (image.checksum != 0) {
    auto zeroed = headers;
    std::fill_n(zeroed.begin() + image.ChecksumOffset(), 4, 0);
    const uint64_t words = pe::SumWords(zeroed) + SumFileWords(stub_fd, zeroed.size(), stub_end - zeroed.size(), stub) +
                           pe::SumWords(layout.head) + payload_words.get();
    std::vector<uint8_t> sum(4);
    Put32(sum, 0, pe::FinishChecksum(words, size));
    out.Write(sum.data(), 4, image.ChecksumOffset());
  }
  out.Commit();
  return note;
}

}  // namespace ttu::pack
