// Compressed, grouped and delta payloads as the updater decodes them, on arbitrary
// bytes (a damaged or crafted package whose checksums were made to match):
// each gives its file or refuses it, in bounded memory (scripts/fuzz's limits
// hold the windows), never more bytes than its header says, and a delta never
// reads outside its base (the source refuses such reads, which must end in a
// refusal, not a crash).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"
#include "support/grouped_payload.h"

namespace {

template <typename Header, typename Decode>
void Check(const Header& header, const Decode& decode) {
  uint64_t made = 0;
  try {
    if (decode([&](const uint8_t*, std::size_t n) { made += n; }).size != made) std::abort();
  } catch (const ttu::payload::DecodeError&) {
    if (header && made > header->size) std::abort();  // more than it said was handed on
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const ttu::MemorySource source({data, size});
  Check(ttu::zpayload::DecodeHeader({data, size}),
        [&](const ttu::payload::Sink& sink) { return ttu::zpayload::Decode(source, sink); });
  // The first 64 bytes as a part, the rest as its group; then the file after
  // it in the same group, going on from where the first ended.
  if (size >= ttu::gpayload::kPartSize) {
    auto part = ttu::gpayload::DecodePart({data, ttu::gpayload::kPartSize});
    const ttu::MemorySource group({data + ttu::gpayload::kPartSize, size - ttu::gpayload::kPartSize});
    ttu::gpayload::GroupReader groups;
    for (int k = 0; k < 2 && part; ++k) {
      Check(std::optional(part->file), [&](const ttu::payload::Sink& sink) {
        groups.Decode(*part, std::make_unique<ttu::MemorySource>(group), sink);
        return part->file;
      });
      part->offset += part->file.size;
    }
  }
  // The same bytes as a delta, against a base of the size its header names
  // (bounded: a larger one is refused before it is read).
  const auto header = ttu::delta::DecodeHeader({data, size});
  std::vector<uint8_t> base(header && header->base_size <= (1u << 20) ? header->base_size : 1000, 0x5A);
  Check(header, [&](const ttu::payload::Sink& sink) { return ttu::delta::Apply(source, ttu::MemorySource(base), sink); });
  return 0;
}
