// Deflate as this program's own zlib makes it. Every build (the packer, the
// Linux updater, both Windows updaters) compiles the same zlib in, from
// Debian's source, so the same settings give the same bytes everywhere: a
// deflated member of an archive found to be made with some settings can be
// made again, byte for byte, by an updater.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ttu::deflater {

enum class Strategy { kDefault, kFiltered, kHuffmanOnly, kRle, kFixed };

// What decides deflate's output besides the data.
struct Settings {
  int level = 6;         // 0 (stored blocks) to 9
  Strategy strategy = Strategy::kDefault;
  int mem_level = 8;     // 1 to 9
  int window_bits = 15;  // 9 to 15
};

// Raw deflate (no zlib or gzip wrapper, as ZIP members hold it) of `input`
// (below 2 GiB). Raises std::invalid_argument for settings zlib refuses.
std::vector<uint8_t> Deflate(std::span<const uint8_t> input, const Settings& settings);

// Whether deflating `input` with `settings` makes exactly `expected`; stops at
// the first byte that differs, so that a wrong guess costs little. Gives what
// Deflate gives, for levels 1 to 9 (level 0's stored blocks depend on how the
// output is taken, so it is never guessed).
bool DeflatesTo(std::span<const uint8_t> input, const Settings& settings, std::span<const uint8_t> expected,
                uint64_t* consumed = nullptr);

// The raw deflate stream `deflated` inflated: exactly `size` bytes, or nothing
// when the stream is damaged, makes another number of bytes, or has bytes
// after its end.
std::optional<std::vector<uint8_t>> Inflate(std::span<const uint8_t> deflated, uint64_t size);

// The version of the zlib compiled in.
const char* ZlibVersion();

}  // namespace ttu::deflater
