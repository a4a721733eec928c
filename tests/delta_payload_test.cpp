// Deltas: whatever two versions of a file are, the differences found between
// them rebuild the new one from the old exactly, through the updater's
// streaming rebuild; and a delta that does not give its file is refused.
#include <gtest/gtest.h>
#include <zstd.h>

#include <array>
#include <string>
#include <vector>

#include "support/byte_source.h"
#include "support/delta_payload.h"
#include "support/little_endian.h"
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
    std::string what;
    Bytes old_file, new_file;
    double at_most;  // of the new file's size, for the delta's streams (and 64 bytes)
    std::vector<pack::Zone> zones = {};
  };
  std::vector<Row> rows = {
      {"the same file", program, program, 0.001},
      {"code shifted and patched", program, shifted, 0.05},
      {"its halves swapped", program, moved, 0.01},
      {"from nothing", {}, random, 1.01},
      {"to nothing", random, {}, 0},
      {"unrelated files", random, Of(PseudoRandomBytes(200000, 12)), 1.01},
      {"one byte each", Of("a"), Of("b"), 0},
  };
  // Pieces of a program with runs of zeros and a repeated text, moved,
  // repeated, dropped and patched: matches that meet end to end, one after
  // another anywhere in the old file (moves in a row, merged into one record).
  Bytes piece(program.begin() + 500000, program.begin() + 504000);
  piece.insert(piece.begin() + 1000, 3000, 0);
  for (int k = 0; k < 800; ++k) piece.insert(piece.begin() + 3000, static_cast<uint8_t>("abc"[k % 3]));
  piece.insert(piece.end(), program.begin(), program.begin() + 3000);
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    uint32_t r = seed * 2654435761u;
    const auto next = [&](uint32_t n) {
      r = r * 1664525u + 1013904223u;
      return (r >> 8) % n;
    };
    Bytes made;
    while (made.size() < piece.size()) {
      const uint32_t longest[] = {8, 40, 300, 3000};
      const std::size_t from = next(static_cast<uint32_t>(piece.size())), len = 1 + next(longest[seed % 4]);
      made.insert(made.end(), piece.begin() + static_cast<std::ptrdiff_t>(from),
                  piece.begin() + static_cast<std::ptrdiff_t>(std::min(piece.size(), from + len)));
      if (next(4) == 0 && !made.empty()) made.back() ^= static_cast<uint8_t>(1 + next(255));
    }
    rows.push_back({"pieces moved, seed " + std::to_string(seed), piece, made, 1.01});
  }
  // Zones only say where to look: wrong, empty or past the file, the delta still rebuilds it.
  const uint64_t half = shifted.size() / 2, size = program.size();
  rows.push_back({"zones that fit", program, shifted, 0.05, {{half, 0, half}, {UINT64_MAX, half - 1000, size}}});
  rows.push_back({"zones crossed", program, shifted, 1.01, {{half, half, size}, {UINT64_MAX, 0, half}}});
  rows.push_back({"empty zones", program, shifted, 1.01, {{0, 0, 0}, {half, 5, 5}, {half, 0, size}, {UINT64_MAX, size, size}}});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes payload = pack::DeltaPayload(row.old_file, row.new_file, 19, row.what, row.zones);
    Bytes made;
    delta::Apply(MemorySource(payload), MemorySource(row.old_file),
                 [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); });
    EXPECT_TRUE(made == row.new_file);
    EXPECT_LE(static_cast<double>(payload.size() - delta::kHeaderSize),
              row.at_most * static_cast<double>(std::max<std::size_t>(row.new_file.size(), 1)) + 64);
  }
}

// Whatever is wrong, the rebuild refuses it rather than hand on a wrong file:
// the checksum of what it made is the last word, and a delta that reads past
// its base or its streams is stopped before.
TEST(Delta, ADamagedDeltaOrAnotherBaseGivesNoFile) {
  const Bytes old_file = Of(ReadFile(TTU_PACK_EXE).substr(0, 1 << 20));
  Bytes new_file = old_file;
  new_file.insert(new_file.begin() + 5000, 100, 0x90);
  for (std::size_t k = 10000; k < new_file.size(); k += 777) new_file[k] ^= 0x04;
  const Bytes payload = pack::DeltaPayload(old_file, new_file, 19, "test");
  const auto h = delta::DecodeHeader(payload);
  ASSERT_TRUE(h);
  Bytes other_base = old_file;
  other_base[600000] ^= 1;
  const auto flipped = [&](std::size_t at) {
    Bytes b = payload;
    b[at] ^= 0x10;
    return b;
  };
  const struct {
    const char* what;
    Bytes delta, base;
    const char* why;
  } rows[] = {
      {"another base of the same size", payload, other_base, "does not match its checksum"},
      {"a base one byte short", payload, Bytes(old_file.begin(), old_file.end() - 1), "not the one it was made against"},
      {"cut short by a byte", Bytes(payload.begin(), payload.end() - 1), old_file, "do not fill it"},
      {"a byte of the control stream", flipped(delta::kHeaderSize + h->control / 2), old_file, ""},
      {"a byte of the runs stream", flipped(delta::kHeaderSize + h->control + h->runs / 2), old_file, ""},
      {"a byte of the values stream", flipped(delta::kHeaderSize + h->control + h->runs + h->values / 2), old_file, ""},
      {"the file's size", flipped(8), old_file, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes made;
    try {
      delta::Apply(MemorySource(row.delta), MemorySource(row.base),
                   [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); });
      // A flipped bit that zstd's decoder never reads (padding, an unused
      // table entry) leaves its stream as it was: then the file is the right one.
      EXPECT_TRUE(!*row.why && made == new_file) << "a wrong file was made";
    } catch (const payload::DecodeError& e) {
      EXPECT_NE(std::string(e.what()).find(row.why), std::string::npos) << e.what();
    }
    EXPECT_LE(made.size(), new_file.size() + 0x10);  // never past what a header says (the flipped size: 16 more)
  }
}

// A sealed delta that the packer would never write: these control records
// over `base`, no bytes added or taken, said to make `made`.
Bytes Crafted(const Bytes& base, const Bytes& made, const std::vector<std::array<uint64_t, 3>>& records) {
  const auto digest = [](const Bytes& b) {
    checksum::Hasher h;
    h.Add(b);
    return h.Finish();
  };
  Bytes control(records.size() * 24);
  for (std::size_t k = 0; k < records.size(); ++k) {
    for (std::size_t f = 0; f < 3; ++f) le::Put64(control.data() + 24 * k + 8 * f, records[k][f]);
  }
  delta::Header h;
  h.size = made.size(), h.digest = digest(made), h.base_size = base.size(), h.base_digest = digest(base);
  Bytes body;
  uint64_t* sizes[] = {&h.control, &h.runs, &h.values, &h.extra};
  for (std::size_t k = 0; k < 4; ++k) {
    const Bytes& stream = k == 0 ? control : Bytes();
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, delta::kMaxWindowLog);
    Bytes frame(ZSTD_compressBound(stream.size()));
    frame.resize(ZSTD_compress2(c, frame.data(), frame.size(), stream.data(), stream.size()));
    ZSTD_freeCCtx(c);
    *sizes[k] = frame.size();
    body.insert(body.end(), frame.begin(), frame.end());
  }
  h.body_digest = digest(body);
  Bytes out = delta::EncodeHeader(h);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Control records crafted to make the rebuild work hard: records that make
// nothing are refused as soon as two come in a row; records of a byte each
// (the work of one record per byte, read and written through buffers) make
// the file exactly.
TEST(Delta, CraftedControlRecordsAreRefusedOrMakeTheirFile) {
  const Bytes base = Of(PseudoRandomBytes(1 << 20, 5));
  using Records = std::vector<std::array<uint64_t, 3>>;
  Records per_byte(base.size(), {1, 0, 0});
  Records with_one_empty_each = {{0, 0, 1}, {1, 0, static_cast<uint64_t>(-2)}, {1, 0, 1}};
  with_one_empty_each.insert(with_one_empty_each.end(), base.size() - 2, {1, 0, 0});
  Records empties(1000000, {0, 0, 0});
  empties.push_back({base.size(), 0, 0});
  Records moves_only = {{0, 0, 7}, {0, 0, static_cast<uint64_t>(-7)}, {base.size(), 0, 0}};
  Bytes second_byte_first = base;
  std::swap(second_byte_first[0], second_byte_first[1]);
  const struct {
    const char* what;
    Records records;
    Bytes made;
    const char* why;  // "": the file is made
  } rows[] = {
      {"a record per byte", per_byte, base, ""},
      {"a record that only moves, then a byte each, out of order", with_one_empty_each, second_byte_first, ""},
      {"a million empty records", empties, base, "make nothing"},
      {"two records that only move", moves_only, base, "make nothing"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes made;
    try {
      delta::Apply(MemorySource(Crafted(base, row.made, row.records)), MemorySource(base),
                   [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); });
      EXPECT_EQ(std::string(row.why), "") << "a file was made";
      EXPECT_TRUE(made == row.made);
    } catch (const payload::DecodeError& e) {
      EXPECT_NE(std::string(row.why), "") << e.what() << " (" << row.what << ")";
      EXPECT_NE(std::string(e.what()).find(row.why), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ttu::test
