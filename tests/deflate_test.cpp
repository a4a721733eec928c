// The zlib every build compiles in, known by what it makes: a fixed text
// deflated at every setting must give the bytes recorded here, on Linux and
// (this file is also in the Windows unit tests) under Wine. Another zlib, or
// this one built otherwise, fails here before it could pack an archive whose
// members an updater cannot make again.
#include "support/deflate.h"

#include <gtest/gtest.h>

#include <string>

#include "support/payload_checksum.h"

namespace ttu::test {
namespace {

// 24 KB of words with repeats near and far (past 512 bytes, so the window
// sizes differ) and a few runs, from a fixed generator.
std::string FixedText() {
  static const char* const kWords[] = {"Tessiro", "Brenvia", "Kelmo", "aggiornamento", "file", "di", "la", "un",
                                       "installazione", "cartella", "pacchetto", "registro", "\n", "  ", "0000"};
  std::string text;
  uint32_t state = 20261210;
  while (text.size() < 24576) {
    state = state * 1664525u + 1013904223u;
    const uint32_t pick = state >> 24;
    if (pick < 200) {
      text += kWords[pick % 15];
      text += ' ';
    } else if (pick < 240) {
      text += static_cast<char>(state >> 8);  // a byte no word has
    } else {
      text.append(8 + (state >> 8) % 64, static_cast<char>('a' + pick % 26));
    }
  }
  return text;
}

TEST(Deflate, ThePinnedZlibGivesTheRecordedBytesAtEverySetting) {
  using deflater::Strategy;
  const std::string text = FixedText();
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
