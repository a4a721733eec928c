// The zlib every build compiles in, known by what it makes: a fixed text
// deflated at every setting must give the bytes recorded here, on Linux and
// (this file is also in the Windows unit tests) under Wine. Another zlib, or
// this one built otherwise, fails here before it could pack an archive whose
// members an updater cannot make again.
#include "support/deflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/payload_checksum.h"
#include "tests/word_text.h"

namespace ttu::test {
namespace {

TEST(Deflate, ThePinnedZlibGivesTheRecordedBytesAtEverySetting) {
  using deflater::Strategy;
  const std::string text = WordText(24576, 20261210);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  checksum::Hasher all;
  uint64_t total = 0;
  for (int level = 0; level <= 9; ++level) {
    for (Strategy strategy : {Strategy::kDefault, Strategy::kFiltered, Strategy::kHuffmanOnly, Strategy::kRle,
                              Strategy::kFixed}) {
      for (int mem_level = 1; mem_level <= 9; ++mem_level) {
        for (int window_bits = 9; window_bits <= 15; ++window_bits) {
          const auto made = deflater::Deflate(bytes, {level, strategy, mem_level, window_bits});
          all.Add(made);
          total += made.size();
        }
      }
    }
  }
  EXPECT_STREQ(deflater::ZlibVersion(), "1.2.13");
  EXPECT_EQ(total, 30724928u);
  EXPECT_EQ(checksum::Hex(all.Finish()), "b713b0ae7238693c66c292398fda2b45");
}

// The updater deflates a member again as its bytes stream past, in pieces cut
// wherever its buffers end: the bytes must be those of the member deflated
// whole, at every level and strategy, and inflating in pieces gives it back.
TEST(Deflate, PiecesOfAnySizeGiveTheBytesOfTheWhole) {
  using deflater::Strategy;
  std::string text = WordText(200000, 7);
  for (std::size_t k = 0; k < 60000; ++k) text += static_cast<char>((k * 2654435761u) >> 13);  // less compressible
  text += std::string(70000, 'z');
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  uint32_t seed = 1;
  const auto next_piece = [&] { return (seed = seed * 1103515245 + 12345) >> 16 & 0x3FFF; };  // 0 to 16 KiB
  for (int level = 1; level <= 9; ++level) {
    for (Strategy strategy : {Strategy::kDefault, Strategy::kFiltered, Strategy::kHuffmanOnly, Strategy::kRle,
                              Strategy::kFixed}) {
      for (const auto& [mem_level, window_bits] : {std::pair{8, 15}, {9, 15}, {1, 9}}) {
        SCOPED_TRACE(std::to_string(level) + " " + std::to_string(static_cast<int>(strategy)) + " " +
                     std::to_string(mem_level) + " " + std::to_string(window_bits));
        const deflater::Settings settings{level, strategy, mem_level, window_bits};
        std::vector<uint8_t> made, inflated;
        const deflater::Output to_made = [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); };
        deflater::StreamDeflater d(settings);
        for (std::size_t at = 0; at < bytes.size();) {
          const std::size_t n = std::min<std::size_t>(next_piece(), bytes.size() - at);
          d.Add(bytes.data() + at, n, to_made);
          at += n;
        }
        const uint64_t total = d.Finish(to_made);
        EXPECT_EQ(total, made.size());
        ASSERT_TRUE(made == deflater::Deflate(bytes, settings));
        deflater::StreamInflater inflater;
        for (std::size_t at = 0; at < made.size();) {
          const std::size_t n = std::min<std::size_t>(next_piece() + 1, made.size() - at);
          ASSERT_TRUE(inflater.Add(made.data() + at, n, [&](const uint8_t* p, std::size_t k) {
            inflated.insert(inflated.end(), p, p + k);
          }));
          at += n;
        }
        EXPECT_TRUE(inflater.Ended());
        EXPECT_TRUE(std::ranges::equal(inflated, bytes));
        EXPECT_FALSE(inflater.Add(made.data(), 1, [](const uint8_t*, std::size_t) {}));  // bytes after the end
      }
    }
  }
  EXPECT_EQ(deflater::Crc32(0, bytes), deflater::Crc32(deflater::Crc32(0, bytes.first(1000)), bytes.subspan(1000)));
}

}  // namespace
}  // namespace ttu::test
