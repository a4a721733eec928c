// The ZIP reader on an arbitrary (corrupted, truncated, crafted) archive held
// in memory: whatever it accepts has every member, with its data descriptor,
// inside the bytes before the central directory, no two members over each
// other, and no deflated member that says more than deflate can make. Each
// deflated member is inflated too: a member whose sizes lie gives nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support/deflate.h"
#include "support/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace ttu::zip;
  const auto archive = ReadArchive(ttu::MemorySource(std::span(data, size)));
  if (!archive) return 0;
  if (archive->directory_offset > size) __builtin_trap();
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (const Member& m : archive->members) {
    if (m.header_offset > m.data_offset || m.data_offset > m.end || m.end > archive->directory_offset) __builtin_trap();
    if (m.end - m.data_offset < m.compressed_size) __builtin_trap();
    if (m.method == kDeflated && m.size / kMaxDeflateRatio > m.compressed_size) __builtin_trap();
    spans.emplace_back(m.header_offset, m.end);
    if (m.method == kDeflated && m.size <= (1u << 20)) {
      const auto made = ttu::deflater::Inflate(std::span(data + m.data_offset, m.compressed_size), m.size);
      if (made && made->size() != m.size) __builtin_trap();
    }
  }
  std::sort(spans.begin(), spans.end());
  for (std::size_t k = 1; k < spans.size(); ++k) {
    if (spans[k - 1].second > spans[k].first) __builtin_trap();
  }
  return 0;
}
