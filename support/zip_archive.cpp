#include "support/zip_archive.h"

#include <algorithm>
#include <vector>

#include "support/little_endian.h"

namespace ttu::zip {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kEnd64Signature = 0x06064b50;
constexpr uint32_t kLocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr std::size_t kEndSize = 22, kEnd64Size = 56, kLocatorSize = 20;
constexpr std::size_t kMaxComment = 65535;
// A central directory larger than this is taken for damage rather than read
// (a million members with long names fit in it).
constexpr uint64_t kMaxDirectory = 256u << 20;

struct Failed {
  std::string why;
};
[[noreturn]] void Fail(std::string why) { throw Failed{std::move(why)}; }

std::vector<uint8_t> ReadAt(const ByteSource& s, uint64_t offset, uint64_t n, const char* what) {
  if (offset > s.Size() || n > s.Size() - offset) Fail(std::string(what) + " lies past the end of the file");
  std::vector<uint8_t> b(static_cast<std::size_t>(n));
  if (!s.Read(offset, b.data(), b.size())) Fail("the file cannot be read");
  return b;
}

struct End {
  uint64_t at = 0;  // where the end records start (the ZIP64 one, where there is one)
  uint64_t entries = 0, directory_size = 0, directory_offset = 0;
};

// The end-of-central-directory record: the last one whose comment reaches
// exactly to the file's end; then its ZIP64 record where it has one.
End FindEnd(const ByteSource& s) {
  const uint64_t size = s.Size();
  if (size < kEndSize) Fail("it is shorter than a ZIP archive's end record");
  const uint64_t tail_size = std::min<uint64_t>(size, kEndSize + kMaxComment);
  const auto tail = ReadAt(s, size - tail_size, tail_size, "the end record");
  for (std::size_t k = tail.size() - kEndSize + 1; k-- > 0;) {
    const uint8_t* e = &tail[k];
    if (le::Get32(e) != kEndSignature || k + kEndSize + le::Get16(e + 20) != tail.size()) continue;
    End end;
    end.at = size - tail_size + k;
    if (le::Get16(e + 4) != 0 || le::Get16(e + 6) != 0 || le::Get16(e + 8) != le::Get16(e + 10)) {
      Fail("it is an archive on several disks");
    }
    end.entries = le::Get16(e + 10);
    end.directory_size = le::Get32(e + 12);
    end.directory_offset = le::Get32(e + 16);
    if (end.at < kLocatorSize) return end;
    const auto locator = ReadAt(s, end.at - kLocatorSize, kLocatorSize, "the ZIP64 locator");
    if (le::Get32(locator.data()) != kLocatorSignature) {
      if (end.entries == 0xFFFF || end.directory_size == 0xFFFFFFFF || end.directory_offset == 0xFFFFFFFF) {
        Fail("its end record asks for a ZIP64 record it does not have");
      }
      return end;
    }
    const uint64_t at64 = le::Get64(locator.data() + 8);
    if (le::Get32(locator.data() + 4) != 0 || le::Get32(locator.data() + 16) > 1) Fail("it is an archive on several disks");
    if (at64 > end.at - kLocatorSize || end.at - kLocatorSize - at64 < kEnd64Size) Fail("its ZIP64 locator points outside it");
    const auto e64 = ReadAt(s, at64, kEnd64Size, "the ZIP64 end record");
    if (le::Get32(e64.data()) != kEnd64Signature) Fail("its ZIP64 locator points at no ZIP64 end record");
    if (le::Get32(e64.data() + 16) != 0 || le::Get32(e64.data() + 20) != 0 ||
        le::Get64(e64.data() + 24) != le::Get64(e64.data() + 32)) {
      Fail("it is an archive on several disks");
    }
    end.at = at64;
    end.entries = le::Get64(e64.data() + 32);
    end.directory_size = le::Get64(e64.data() + 40);
    end.directory_offset = le::Get64(e64.data() + 48);
    return end;
  }
  Fail("it has no ZIP end record");
}

// The ZIP64 extra field's values, for those fields that say 0xFFFFFFFF.
void ReadZip64Extra(std::span<const uint8_t> extra, Member& m, bool with_offset) {
  le::Reader r(extra);
  while (r.Left() >= 4) {
    const uint16_t id = r.U16(), length = r.U16();
    const auto field = r.Bytes(length);
    if (!r.ok()) Fail("a member's extra fields run past their length");
    if (id != kZip64Extra) continue;
    le::Reader z(field);
    if (m.size == 0xFFFFFFFF) m.size = z.U64();
    if (m.compressed_size == 0xFFFFFFFF) m.compressed_size = z.U64();
    if (with_offset && m.header_offset == 0xFFFFFFFF) m.header_offset = z.U64();
    if (!z.ok()) Fail("a member's ZIP64 field is cut short");
    return;
  }
}

Member ReadCentral(le::Reader& r) {
  if (r.U32() != kCentralSignature) Fail("its central directory has an entry that is none");
  Member m;
  r.U16(), r.U16();  // made by, needed to extract
  m.flags = r.U16();
  m.method = r.U16();
  r.U32();  // time and date
  m.crc32 = r.U32();
  m.compressed_size = r.U32();
  m.size = r.U32();
  const uint16_t name_length = r.U16(), extra_length = r.U16(), comment_length = r.U16();
  const uint16_t disk = r.U16();
  r.U16(), r.U32();  // attributes
  m.header_offset = r.U32();
  const auto name = r.Bytes(name_length);
  const auto extra = r.Bytes(extra_length);
  r.Bytes(comment_length);
  if (!r.ok()) Fail("its central directory is cut short");
  if (disk != 0 && disk != 0xFFFF) Fail("it is an archive on several disks");
  m.name.assign(name.begin(), name.end());
  ReadZip64Extra(extra, m, true);
  return m;
}

// Reads the member's local header: where its bytes are, and where they end
// (with their data descriptor); the header must say what the directory says.
void ReadLocal(const ByteSource& s, Member& m, uint64_t limit) {
  if (m.header_offset > limit || limit - m.header_offset < kLocalHeaderSize) Fail("a member lies outside the archive");
  const auto h = ReadAt(s, m.header_offset, kLocalHeaderSize, "a member's local header");
  if (le::Get32(h.data()) != kLocalSignature) Fail("a member's local header is missing");
  const uint16_t flags = le::Get16(h.data() + 6), method = le::Get16(h.data() + 8);
  const uint64_t name_length = le::Get16(h.data() + 26), extra_length = le::Get16(h.data() + 28);
  if (method != m.method || (flags & 1) != (m.flags & 1) || (flags & 8) != (m.flags & 8)) {
    Fail("a member's local header does not match its directory entry");
  }
  m.data_offset = m.header_offset + kLocalHeaderSize + name_length + extra_length;
  if (m.data_offset > limit) Fail("a member lies outside the archive");
  const auto name_extra = ReadAt(s, m.header_offset + kLocalHeaderSize, name_length + extra_length, "a member's name");
  if (std::string(name_extra.begin(), name_extra.begin() + static_cast<std::ptrdiff_t>(name_length)) != m.name) {
    Fail("a member's local header names another file than its directory entry");
  }
  if (m.compressed_size > limit - m.data_offset) Fail("a member's bytes run past the archive's");
  m.end = m.data_offset + m.compressed_size;
  if (!(flags & 8)) return;
  // The data descriptor: an optional signature, the checksum, the two sizes
  // (8 bytes each where the local header has a ZIP64 field).
  bool zip64 = false;
  le::Reader extra(std::span<const uint8_t>(name_extra).subspan(static_cast<std::size_t>(name_length)));
  while (extra.ok() && extra.Left() >= 4 && !zip64) {
    zip64 = extra.U16() == kZip64Extra;
    extra.Bytes(extra.U16());
  }
  uint64_t length = zip64 ? 20 : 12;
  if (limit - m.end >= 4) {
    const auto sig = ReadAt(s, m.end, 4, "a member's data descriptor");
    if (le::Get32(sig.data()) == kDescriptorSignature) length += 4;
  }
  if (length > limit - m.end) Fail("a member's data descriptor runs past the archive's");
  m.end += length;
}

Archive Read(const ByteSource& s) {
  const End end = FindEnd(s);
  if (end.directory_offset > end.at || end.directory_size > end.at - end.directory_offset) {
    Fail("its central directory lies outside it");
  }
  if (end.directory_size > kMaxDirectory) Fail("its central directory is too large to be one");
  if (end.entries > end.directory_size / kCentralHeaderSize) Fail("its end record counts more members than its directory holds");
  const auto directory = ReadAt(s, end.directory_offset, end.directory_size, "the central directory");
  le::Reader r(directory);
  Archive a;
  a.directory_offset = end.directory_offset;
  a.members.reserve(static_cast<std::size_t>(end.entries));
  for (uint64_t k = 0; k < end.entries; ++k) a.members.push_back(ReadCentral(r));
  for (Member& m : a.members) {
    ReadLocal(s, m, a.directory_offset);
    if (m.method == kStored && !m.Encrypted() && m.size != m.compressed_size) Fail("a stored member's two sizes differ");
    if (m.method == kDeflated && m.size / kMaxDeflateRatio > m.compressed_size) {
      Fail("a deflated member says it holds more than deflate can make from its bytes");
    }
  }
  // No member over another: each ends before the next one's header.
  std::vector<const Member*> by_offset;
  for (const Member& m : a.members) by_offset.push_back(&m);
  std::sort(by_offset.begin(), by_offset.end(),
            [](const Member* x, const Member* y) { return x->header_offset < y->header_offset; });
  for (std::size_t k = 1; k < by_offset.size(); ++k) {
    if (by_offset[k - 1]->end > by_offset[k]->header_offset) Fail("two of its members overlap");
  }
  return a;
}

}  // namespace

std::optional<Archive> ReadArchive(const ByteSource& source, std::string* damage) {
  try {
    return Read(source);
  } catch (const Failed& f) {
    if (damage) *damage = f.why;
    return std::nullopt;
  }
}

}  // namespace ttu::zip
