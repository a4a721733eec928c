// The zlib every build compiles in, known by what it makes: a fixed text
// deflated at every setting must give the bytes recorded here, on Linux and
// (this file is also in the Windows unit tests) under Wine. Another zlib, or
// this one built otherwise, fails here before it could pack an archive whose
// members an updater cannot make again.
#include "support/deflate.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace ttu::test
