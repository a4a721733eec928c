#include "support/payload_checksum.h"

#include <cstdio>

// xxHash as a header-only library: every build (Linux, MinGW) compiles it in.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace ttu::checksum {

struct Hasher::State {
  XXH3_state_t xxh;
};

Hasher::Hasher() : state_(std::make_unique<State>()) { XXH3_128bits_reset(&state_->xxh); }
Hasher::~Hasher() = default;

void Hasher::Add(std::span<const uint8_t> bytes) {
  if (!bytes.empty()) XXH3_128bits_update(&state_->xxh, bytes.data(), bytes.size());
}

Digest Hasher::Finish() {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state_->xxh));
  Digest d;
  for (std::size_t k = 0; k < d.size(); ++k) d[k] = canonical.digest[k];
  return d;
}

std::string Hex(std::span<const uint8_t> digest) {
  std::string hex;
  char pair[3];
  for (uint8_t b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    hex += pair;
  }
  return hex;
}

}  // namespace ttu::checksum
