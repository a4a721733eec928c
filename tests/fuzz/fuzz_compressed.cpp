// A compressed payload as the updater decodes it, on arbitrary bytes (a
// damaged or crafted package whose checksums were made to match): it gives
// its file or refuses it, in bounded memory (scripts/fuzz's limits hold the
// window), never more bytes than its header says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/byte_source.h"
#include "support/compressed_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const ttu::MemorySource source({data, size});
  uint64_t made = 0;
  try {
    const auto header = ttu::zpayload::Decode(source, [&](const uint8_t*, std::size_t n) { made += n; });
    if (made != header.size) std::abort();  // a file other than the header's was accepted
  } catch (const ttu::zpayload::DecodeError&) {
    const auto header = ttu::zpayload::DecodeHeader({data, size});
    if (header && made > header->size) std::abort();  // more than it said was handed on
  }
  return 0;
}
