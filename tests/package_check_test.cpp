// The check of a press: a payload that does not match the checksum the packer
// recorded for it stops the run before anything is written.
#include "deploy/package_check.h"

#include <gtest/gtest.h>

#include "deploy/manifest.h"
#include "support/run_error.h"
#include "tests/fakes.h"

namespace ttu::deploy {
namespace {

using test::RecordedChecksum;

// The Windows build runs these tests too, without the Linux tests' helpers.
std::string Bytes(std::size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  return s;
}

std::string Changed(std::string s, std::size_t at) {
  s[at] = static_cast<char>(s[at] ^ 0x01);
  return s;
}

TEST(PackageCheck, ADamagedPayloadOrChecksumIsFoundAndNamed) {
  const std::string a = Bytes(3 << 20, 11), b = Bytes(1000, 12);
  const struct {
    const char* what;
    std::string payload_b, checksum_b;  // item 1; item 0 is always intact
    bool has_checksum_b;
    const char* damaged;  // what the failure names, or "" for none
  } rows[] = {
      {"intact", b, RecordedChecksum(b), true, ""},
      {"first byte changed", Changed(b, 0), RecordedChecksum(b), true, "resource 102 (b.bin)"},
      {"middle byte changed", Changed(b, 500), RecordedChecksum(b), true, "resource 102 (b.bin)"},
      {"last byte changed", Changed(b, 999), RecordedChecksum(b), true, "resource 102 (b.bin)"},
      {"a byte cut off", b.substr(0, 999), RecordedChecksum(b), true, "resource 102 (b.bin)"},
      {"recorded checksum changed", b, Changed(RecordedChecksum(b), 15), true, "resource 102 (b.bin)"},
      {"recorded checksum of the wrong size", b, RecordedChecksum(b).substr(1), true, "resource 102 (b.bin)"},
      {"no recorded checksum (linked, or packed before)", Changed(b, 0), "", false, ""},
  };
  for (const auto& r : rows) {
    test::FakeResources res;
    res.strings = {{100, "2"}, {101, "a.bin|<APPPATH>Tessiro/|N|"}, {102, "b.bin|<APPPATH>Tessiro/|N|"}};
    res.payloads = {{101, a}, {102, r.payload_b}};
    res.checksums = {{101, RecordedChecksum(a)}};
    if (r.has_checksum_b) res.checksums[102] = r.checksum_b;
    ItemTables tables;
    SizeTables(tables, res);
    try {
      CheckPackage(tables, res);
      EXPECT_STREQ(r.damaged, "") << r.what << ": not found";
    } catch (const RunError& e) {
      EXPECT_EQ(e.Number(), kErrPackageDamaged) << r.what;
      EXPECT_NE(std::string(e.Description()).find(r.damaged), std::string::npos) << r.what << ": " << e.Description();
      EXPECT_NE(std::string(r.damaged), "") << r.what << ": " << e.Description();
    }
  }
}

}  // namespace
}  // namespace ttu::deploy
