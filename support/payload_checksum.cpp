#include "support/payload_checksum.h"

#include <algorithm>
#include <vector>

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

Digest DigestOf(std::span<const uint8_t> bytes) {
  Hasher h;
  h.Add(bytes);
  return h.Finish();
}

std::optional<Digest> DigestOf(const ByteSource& source) {
  constexpr std::size_t kPiece = 1 << 20;
  std::vector<uint8_t> piece(static_cast<std::size_t>(std::min<uint64_t>(kPiece, source.Size())));
  Hasher h;
  for (uint64_t done = 0; done < source.Size();) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), source.Size() - done));
    if (!source.Read(done, piece.data(), n)) return std::nullopt;
    h.Add({piece.data(), n});
    done += n;
  }
  return h.Finish();
}

}  // namespace ttu::checksum
