// The updater's resource-section reader on an arbitrary (corrupted,
// truncated) executable file held in memory.
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/resource_section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ttu::resfmt;
  const std::span<const uint8_t> file(data, size);
  if (size < kTrailerSize) return 0;
  const auto trailer = DecodeTrailer(file.last(kTrailerSize), size);
  if (!trailer) return 0;
  const auto dir = DecodeDirectory(file.subspan(trailer->directory_offset, size - kTrailerSize - trailer->directory_offset), *trailer);
  if (!dir) return 0;
  const ResourceTable table(*dir);
  for (uint32_t id : {0u, 1u, 100u, 101u, 102u, 65535u, 65536u}) {
    table.String(id);
    if (const auto* d = table.Data(id, "CUSTOM")) {
      if (d->offset + d->size > size) __builtin_trap();  // a payload must lie inside the file
    }
  }
  return 0;
}
