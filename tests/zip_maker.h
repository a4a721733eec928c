// ZIP archives made for tests: each member stored, or deflated by the zlib of
// this program at the settings given (as an archiver built on zlib would).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/deflate.h"

namespace ttu::test {

struct ZipEntry {
  std::string name, data;
  deflater::Settings settings;  // level 0: stored
  // Deflated at level 0 (stored blocks inside a deflate stream): as another
  // deflater's bytes, no guess of the packer re-makes them.
  bool deflated_anyway = false;
};

inline std::string MakeZip(const std::vector<ZipEntry>& entries) {
  std::string out, central;
  const auto put = [](std::string& b, std::initializer_list<std::pair<int, uint64_t>> fields) {
    for (const auto& [width, v] : fields) {
      for (int i = 0; i < width; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
    }
  };
  for (const ZipEntry& e : entries) {
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size());
    const bool stored = e.settings.level == 0 && !e.deflated_anyway;
    const auto deflated = stored ? std::vector<uint8_t>(data.begin(), data.end()) : deflater::Deflate(data, e.settings);
    const uint32_t crc = deflater::Crc32(0, data);
    const uint64_t offset = out.size();
    const uint64_t method = stored ? 0 : 8;
    put(out, {{4, 0x04034b50}, {2, 20}, {2, 0}, {2, method}, {4, 0x00210000}, {4, crc}, {4, deflated.size()},
              {4, data.size()}, {2, e.name.size()}, {2, 0}});
    out += e.name;
    out.append(deflated.begin(), deflated.end());
    put(central, {{4, 0x02014b50}, {2, 20}, {2, 20}, {2, 0}, {2, method}, {4, 0x00210000}, {4, crc},
                  {4, deflated.size()}, {4, data.size()}, {2, e.name.size()}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {4, 0},
                  {4, offset}});
    central += e.name;
  }
  const uint64_t directory = out.size();
  out += central;
  put(out, {{4, 0x06054b50}, {2, 0}, {2, 0}, {2, entries.size()}, {2, entries.size()}, {4, central.size()},
            {4, directory}, {2, 0}});
  return out;
}

}  // namespace ttu::test
