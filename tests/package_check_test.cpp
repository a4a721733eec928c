// The checks of a press: a package whose seal does not match what the press
// would read, or a payload that does not match the checksum the packer
// recorded for it, stops the run before anything is written.
#include "deploy/package_check.h"
#include "deploy/package_seal.h"

#include <gtest/gtest.h>

#include <functional>

#include "deploy/manifest.h"
#include "support/run_error.h"
#include "tests/fakes.h"
#include "tests/grouped_maker.h"

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

// The check of `res` finds it damaged and names `damaged`, or ("") finds nothing.
void ExpectCheck(test::FakeResources& res, const char* what, const std::string& damaged) {
  ItemTables tables;
  SizeTables(tables, res);
  try {
    CheckPackage(tables, res);
    EXPECT_EQ(damaged, "") << what << ": not found";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrPackageDamaged) << what;
    EXPECT_NE(std::string(e.Description()).find(damaged), std::string::npos) << what << ": " << e.Description();
    EXPECT_NE(damaged, "") << what << ": " << e.Description();
  }
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
      {"its checksum lost while the other payload has one", b, "", false, "the checksum of resource 102 is missing"},
  };
  for (const auto& r : rows) {
    test::FakeResources res;
    res.strings = {{100, "2"}, {101, "a.bin|<APPPATH>Tessiro/|N|"}, {102, "b.bin|<APPPATH>Tessiro/|N|"}};
    res.payloads = {{101, a}, {102, r.payload_b}};
    res.checksums = {{101, RecordedChecksum(a)}};
    if (r.has_checksum_b) res.checksums[102] = r.checksum_b;
    ExpectCheck(res, r.what, r.damaged);
  }
}

// Files compressed together: each part's record covers the part, which holds
// its group's checksum; a group changed by one byte is found before anything
// is written, named by the first item in it.
TEST(PackageCheck, AGroupIsCheckedThroughItsParts) {
  const test::MadeGroup made = test::MakeGroup({Bytes(5000, 1), Bytes(300, 2)});
  const struct {
    const char* what;
    std::string group;
    const char* damaged;
  } rows[] = {
      {"intact", made.group, ""},
      {"a byte of its frame changed", Changed(made.group, 2000), "resource 101 (a.bin): its group 1 does not match"},
      {"cut short", made.group.substr(0, 4000), "resource 101 (a.bin): its group 1 does not match"},
  };
  for (const auto& r : rows) {
    test::FakeResources res;
    res.strings = {{100, "2"}, {101, "a.bin|<APPPATH>Tessiro/|N|"}, {102, "b.bin|<APPPATH>Tessiro/|N|"}};
    res.others = {{{"ZGROUP", 1}, r.group}, {{"ZPART", 101}, made.parts[0]}, {{"ZPART", 102}, made.parts[1]}};
    res.checksums = {{101, RecordedChecksum(made.parts[0])}, {102, RecordedChecksum(made.parts[1])}};
    ExpectCheck(res, r.what, r.damaged);
  }
}

TEST(PackageCheck, APackageWithoutRecordedChecksumsIsNotChecked) {
  test::FakeResources res;
  res.strings = {{100, "2"}, {101, "a.bin|<APPPATH>Tessiro/|N|"}, {102, "b.bin|<APPPATH>Tessiro/|N|"}};
  res.payloads = {{101, "a"}, {102, "b"}};
  ItemTables tables;
  SizeTables(tables, res);
  EXPECT_EQ(test::RunErrorNumberOf([&] { CheckPackage(tables, res); }), 0);
}

// Every change to what decides what a press writes where breaks the seal;
// the check comes before the count is even read.
TEST(PackageSeal, AnyChangeToWhatAPressReadsIsDamage) {
  const auto intact = [] {
    test::FakeResources res;
    res.strings = {{100, "2"}, {101, "a.bin|<APPPATH>Tessiro/|N|"}, {102, "b.bin|<COMMONPATH>Kelmo/|S|R4"}};
    res.payloads = {{101, "aaaa"}, {102, "bbbbbb"}};
    res.checksums = {{101, RecordedChecksum("aaaa")}, {102, RecordedChecksum("bbbbbb")}};
    return res;
  };
  const auto sealed = [&] {
    auto res = intact();
    const auto d = SealOf(res);
    res.seal = std::string(d.begin(), d.end());
    return res;
  };
  const struct {
    const char* what;
    std::function<void(test::FakeResources&)> change;
    const char* damaged;  // what the failure says, or "" for none
  } rows[] = {
      {"intact", [](auto&) {}, ""},
      {"count 2 made 1", [](auto& r) { r.strings[100] = "1"; }, "do not match its seal"},
      {"count 2 made 3", [](auto& r) { r.strings[100] = "3"; }, "do not match its seal"},
      {"count 2 made 2.6 (three items)", [](auto& r) { r.strings[100] = "2.6"; }, "do not match its seal"},
      {"count missing", [](auto& r) { r.strings.erase(100); }, "do not match its seal"},
      {"one bit of a template", [](auto& r) { r.strings[101] = "a.bin|<APPPATH>Tessirn/|N|"; }, "do not match its seal"},
      {"register flag", [](auto& r) { r.strings[101] = "a.bin|<APPPATH>Tessiro/|S|"; }, "do not match its seal"},
      {"descriptor missing", [](auto& r) { r.strings.erase(102); }, "do not match its seal"},
      {"payload missing", [](auto& r) { r.payloads.erase(102); }, "do not match its seal"},
      {"payload longer", [](auto& r) { r.payloads[102] += "b"; }, "do not match its seal"},
      {"checksum record missing", [](auto& r) { r.checksums.erase(101); }, "do not match its seal"},
      {"checksum record changed", [](auto& r) { r.checksums[102][3] ^= 1; }, "do not match its seal"},
      {"checksum record moved to another item", [](auto& r) { r.checksums[103] = r.checksums[102], r.checksums.erase(102); },
       "do not match its seal"},
      {"seal changed", [](auto& r) { (*r.seal)[0] ^= 1; }, "do not match its seal"},
      {"seal of the wrong size", [](auto& r) { r.seal->pop_back(); }, "its seal is not one"},
      {"the platform found it cut short", [](auto& r) { r.damage = "the program is cut short"; },
       "The package is damaged: the program is cut short; download the updater again"},
      {"unsealed and its template changed: deployed as ever", [](auto& r) { r.seal.reset(), r.strings[101] = "x|y|N|"; },
       ""},
  };
  for (const auto& r : rows) {
    auto res = sealed();
    r.change(res);
    try {
      CheckSeal(res);
      EXPECT_STREQ(r.damaged, "") << r.what << ": not found";
    } catch (const RunError& e) {
      EXPECT_EQ(e.Number(), kErrPackageDamaged) << r.what;
      EXPECT_NE(std::string(r.damaged), "") << r.what << ": " << e.Description();
      EXPECT_NE(e.Description().find(r.damaged), std::string::npos) << r.what << ": " << e.Description();
    }
  }
}

}  // namespace
}  // namespace ttu::deploy
