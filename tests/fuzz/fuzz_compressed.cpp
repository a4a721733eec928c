// Compressed and delta payloads as the updater decodes them, on arbitrary
// bytes (a damaged or crafted package whose checksums were made to match):
// each gives its file or refuses it, in bounded memory (scripts/fuzz's limits
// hold the windows), never more bytes than its header says, and a delta never
// reads outside its base (the source refuses such reads, which must end in a
// refusal, not a crash).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "support/delta_payload.h"

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
  // The same bytes as a delta, against a base of the size its header names
  // (bounded: a larger one is refused before it is read).
  const auto header = ttu::delta::DecodeHeader({data, size});
  std::vector<uint8_t> base(header && header->base_size <= (1u << 20) ? header->base_size : 1000, 0x5A);
  Check(header, [&](const ttu::payload::Sink& sink) { return ttu::delta::Apply(source, ttu::MemorySource(base), sink); });
  return 0;
}
