// Deflate as this program's own zlib makes it. Every build (the packer, the
// Linux updater, both Windows updaters) compiles the same zlib in, from
// Debian's source, so the same settings give the same bytes everywhere: a
// deflated member of an archive found to be made with some settings can be
// made again, byte for byte, by an updater.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

// Where a stream's bytes go, as they are made.
using Output = std::function<void(const uint8_t* bytes, std::size_t n)>;

// Raw deflate fed a piece at a time: for levels 1 to 9 its bytes are Deflate's
// of all the pieces together, however they are cut (zlib decides a block by
// the data alone until it is told the input ends), so that an archive's member
// is made again as it streams past, in the memory of one zlib stream.
class StreamDeflater {
 public:
  // Raises std::invalid_argument for settings zlib refuses.
  explicit StreamDeflater(const Settings& settings);
  ~StreamDeflater();
  StreamDeflater(const StreamDeflater&) = delete;
  StreamDeflater& operator=(const StreamDeflater&) = delete;

  void Add(const uint8_t* input, std::size_t n, const Output& out);
  // Ends the stream; returns how many bytes it made in all.
  uint64_t Finish(const Output& out);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Raw inflate fed a piece at a time, for members too large to hold.
class StreamInflater {
 public:
  StreamInflater();
  ~StreamInflater();
  StreamInflater(const StreamInflater&) = delete;
  StreamInflater& operator=(const StreamInflater&) = delete;

  // Inflates the next piece into `out`; false when the stream is damaged or
  // has bytes after its end.
  bool Add(const uint8_t* input, std::size_t n, const Output& out);
  // Whether the stream reached its end.
  bool Ended() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// The CRC-32 ZIP records of each member, continued from `crc` over `bytes`.
uint32_t Crc32(uint32_t crc, std::span<const uint8_t> bytes);

// The version of the zlib compiled in.
const char* ZlibVersion();

}  // namespace ttu::deflater
