// Grouped payloads made for tests: the files' group as the packer lays it
// out, its frame of raw blocks (zstd's stored form, which needs no encoder:
// the Windows tests link only the decoder), and each file's part.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/grouped_payload.h"
#include "support/payload_checksum.h"

namespace ttu::test {

struct MadeGroup {
  std::string group;               // the ZGROUP resource
  std::vector<std::string> parts;  // each file's ZPART resource
};

inline std::string RawFrame(const std::string& content) {
  // The magic; a single segment whose content size takes 4 bytes.
  std::string f = {'\x28', '\xB5', '\x2F', '\xFD', '\xA0'};
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<char>(content.size() >> (8 * i)));
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(content.size() - at, 100000);
    const uint32_t header = static_cast<uint32_t>(n << 3) | (at + n == content.size() ? 1u : 0u);  // raw, last
    for (int i = 0; i < 3; ++i) f.push_back(static_cast<char>(header >> (8 * i)));
    f += content.substr(at, n);
    at += n;
  } while (at < content.size());
  return f;
}

inline MadeGroup MakeGroup(const std::vector<std::string>& files, uint32_t id = 1) {
  const auto digest = [](const std::string& s) {
    return checksum::DigestOf({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
  };
  std::string content;
  for (const auto& f : files) content += f;
  const auto header = gpayload::EncodeGroupHeader({content.size(), digest(content)});
  MadeGroup g;
  g.group = std::string(header.begin(), header.end()) + RawFrame(content);
  uint64_t offset = 0;
  for (const auto& f : files) {
    const auto part = gpayload::EncodePart({{f.size(), digest(f)}, id, offset, digest(g.group)});
    g.parts.emplace_back(part.begin(), part.end());
    offset += f.size();
  }
  return g;
}

}  // namespace ttu::test
