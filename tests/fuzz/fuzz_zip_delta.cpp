// The updater's rebuild of a ZIP archive from an arbitrary (corrupted,
// truncated, crafted) ZIP delta and installed archive: the input is the
// installed archive's length (4 bytes, little-endian), the archive, then the
// delta. Whatever the plan says, the rebuild hands on no more than the
// archive's size and inflates no more than the plan's members into its
// scratch; and what it completes matches its checksum.
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/little_endian.h"
#include "support/payload_checksum.h"
#include "support/zip_delta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace ttu;
  if (size < 4 || ttu::le::Get32(data) > size - 4) return 0;
  const std::size_t base_size = ttu::le::Get32(data);
  const MemorySource base(std::span(data + 4, base_size));
  const MemorySource payload(std::span(data + 4 + base_size, size - 4 - base_size));
  const auto h = delta::ReadHeader(payload);
  if (!h || h->kind != delta::Kind::kZip) return 0;
  MemoryScratch scratch;
  uint64_t made = 0, planned = 0;
  checksum::Hasher hash;
  try {
    planned = 0;
    for (const auto& e : zipdelta::ReadLayout(payload).plan.base) planned += e.size;
    zipdelta::Apply(payload, base, scratch, [&](const uint8_t* bytes, std::size_t n) {
      made += n;
      if (made > h->size) __builtin_trap();
      hash.Add({bytes, n});
    });
  } catch (const payload::DecodeError&) {
    if (scratch.Size() > planned) __builtin_trap();
    return 0;
  }
  if (made != h->size || hash.Finish() != h->digest || scratch.Size() > planned) __builtin_trap();
  return 0;
}
