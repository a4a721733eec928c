// Deltas: whatever two versions of a file are, the differences found between
// them rebuild the new one from the old exactly, through the updater's
// streaming rebuild; and a delta that does not give its file is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_source.h"
#include "support/delta_payload.h"
#include "tests/test_util.h"
#include "tools/pack/delta_builder.h"

namespace ttu::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Delta, EveryPairOfVersionsRebuildsExactly) {
  const Bytes program = Of(ReadFile(TTU_PACK_EXE).substr(0, 3 << 20));
  Bytes shifted = program;  // code moved by a few bytes, and numbers changed all over
  shifted.insert(shifted.begin() + 100000, 37, 0x90);
  for (std::size_t k = 200000; k < shifted.size(); k += 4099) shifted[k] ^= 0x01;
  Bytes moved(program.begin() + 1000000, program.end());  // two halves swapped
  moved.insert(moved.end(), program.begin(), program.begin() + 1000000);
  const Bytes random = Of(PseudoRandomBytes(300000, 11));
  struct Row {
    const char* what;
    Bytes old_file, new_file;
    double at_most;  // of the new file's size, for the delta's streams (and 64 bytes)
  } rows[] = {
      {"the same file", program, program, 0.001},
      {"code shifted and patched", program, shifted, 0.05},
      {"its halves swapped", program, moved, 0.01},
      {"from nothing", {}, random, 1.01},
      {"to nothing", random, {}, 0},
      {"unrelated files", random, Of(PseudoRandomBytes(200000, 12)), 1.01},
      {"one byte each", Of("a"), Of("b"), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes payload = pack::DeltaPayload(row.old_file, row.new_file, 19, row.what);
    Bytes made;
    delta::Apply(MemorySource(payload), MemorySource(row.old_file),
                 [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); });
    EXPECT_TRUE(made == row.new_file);
    EXPECT_LE(static_cast<double>(payload.size() - delta::kHeaderSize),
              row.at_most * static_cast<double>(std::max<std::size_t>(row.new_file.size(), 1)) + 64);
  }
}

}  // namespace
}  // namespace ttu::test
