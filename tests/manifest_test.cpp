#include "deploy/manifest.h"
#include "deploy/payload_writer.h"

#include <gtest/gtest.h>

#include "support/run_error.h"
#include "tests/fakes.h"

namespace ttu::deploy {
namespace {

using test::FakeResources;

TEST(LeadingNumber, ReadsTheLeadingDecimalNumberOnly) {
  EXPECT_EQ(LeadingNumber("1"), 1.0);
  EXPECT_EQ(LeadingNumber("  3"), 3.0);
  EXPECT_EQ(LeadingNumber("2 items"), 2.0);
  EXPECT_EQ(LeadingNumber("2.5"), 2.5);
  EXPECT_EQ(LeadingNumber("-4"), -4.0);
  EXPECT_EQ(LeadingNumber("+.5x"), 0.5);
  EXPECT_EQ(LeadingNumber("1e3"), 1000.0);
  EXPECT_EQ(LeadingNumber("2e"), 2.0);  // a bare "e" does not continue the number
  EXPECT_EQ(LeadingNumber("7,5"), 7.0);  // "." is the only decimal point
  EXPECT_EQ(LeadingNumber(""), 0.0);
  EXPECT_EQ(LeadingNumber("abc"), 0.0);
  EXPECT_EQ(LeadingNumber("."), 0.0);
  EXPECT_EQ(LeadingNumber("-"), 0.0);
}

TEST(RoundToInt32, RoundsHalfToEvenAndOverflowsOutsideTheRange) {
  EXPECT_EQ(RoundToInt32(1.5), 2);
  EXPECT_EQ(RoundToInt32(2.5), 2);
  EXPECT_EQ(RoundToInt32(-0.5), 0);
  EXPECT_EQ(RoundToInt32(-1.5), -2);
  EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
  EXPECT_EQ(RoundToInt32(-2147483648.0), -2147483647 - 1);
  EXPECT_EQ(test::RunErrorNumberOf([] { RoundToInt32(2147483647.5); }), kErrOverflow);
  EXPECT_EQ(test::RunErrorNumberOf([] { RoundToInt32(-2147483649.0); }), kErrOverflow);
  EXPECT_EQ(test::RunErrorNumberOf([] { RoundToInt32(1e300 * 1e300); }), kErrOverflow);
}

struct SizingCase {
  const char* count;
  int32_t last_index;  // -2: sizing fails
  int32_t error = 0;
};

class SizeTablesTest : public ::testing::TestWithParam<SizingCase> {};

TEST_P(SizeTablesTest, SizesFromTheCountOrFails) {
  const auto c = GetParam();
  FakeResources res;
  res.strings[100] = c.count;
  ItemTables t;
  t.LastIndex = 0;
  t.FileName = {"old"};
  t.PathCache = {{"T", "F"}};
  t.TargetTemplate = {"T"};
  t.ItemState = {{"X", ""}};
  const int32_t err = test::RunErrorNumberOf([&] { SizeTables(t, res); });
  EXPECT_EQ(err, c.error) << c.count;
  if (c.error) {  // tables untouched
    EXPECT_EQ(t.LastIndex, 0);
    EXPECT_EQ(t.FileName[0], "old");
    return;
  }
  EXPECT_EQ(t.LastIndex, c.last_index);
  const auto n = static_cast<std::size_t>(c.last_index) + 1;
  ASSERT_EQ(t.FileName.size(), n);
  ASSERT_EQ(t.PathCache.size(), n);
  ASSERT_EQ(t.TargetTemplate.size(), n);
  ASSERT_EQ(t.ItemState.size(), n);
  for (std::size_t j = 0; j < n; ++j) {
    EXPECT_EQ(t.FileName[j], "");
    EXPECT_EQ(t.PathCache[j][0] + t.PathCache[j][1], "");
    EXPECT_EQ(t.TargetTemplate[j], "");
    EXPECT_EQ(t.ItemState[j][0] + t.ItemState[j][1], "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, SizeTablesTest,
    ::testing::Values(SizingCase{"1", 0}, SizingCase{"3", 2}, SizingCase{"2.5", 2},
                      SizingCase{"3.5", 2}, SizingCase{"2 voci", 1}, SizingCase{" 4", 3},
                      SizingCase{"0", -2, kErrSubscript}, SizingCase{"", -2, kErrSubscript},
                      SizingCase{"uno", -2, kErrSubscript}, SizingCase{"0.4", -2, kErrSubscript},
                      SizingCase{"1e10", -2, kErrOverflow},
                      SizingCase{"2147483647", -2, kErrOutOfMemory},
                      SizingCase{"2147483648", -2, kErrOutOfMemory}));

TEST(SizeTables, MissingCountStringIsResourceNotFound) {
  FakeResources res;
  ItemTables t;
  try {
    SizeTables(t, res);
    FAIL() << "no failure";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrResourceNotFound);
    EXPECT_EQ(e.Description(), "Resource with identifier '100' not found");
  }
}

class DescriptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    res.strings[100] = "3";
    SizeTables(t, res);
  }
  FakeResources res;
  ItemTables t;
};

TEST_F(DescriptorTest, SplitsFourFieldsAndTurnsSlashesInTheTemplate) {
  res.strings[101] = "Dossaro.zip|<APPPATH>Tessiro/|N|";
  res.strings[103] = "a.dll|<APPPATH>Brenvia/sub/dir/|S|R4|extra|more";
  ReadDescriptor(t, 0, res);
  ReadDescriptor(t, 2, res);
  EXPECT_EQ(t.FileName[0], "Dossaro.zip");
  EXPECT_EQ(t.TargetTemplate[0], "<APPPATH>Tessiro\\");
  EXPECT_EQ(t.ItemState[0][0], "N");
  EXPECT_EQ(t.ItemState[0][1], "");
  EXPECT_EQ(t.FileName[2], "a.dll");
  EXPECT_EQ(t.TargetTemplate[2], "<APPPATH>Brenvia\\sub\\dir\\");
  EXPECT_EQ(t.ItemState[2][0], "S");
  EXPECT_EQ(t.ItemState[2][1], "R4");
  EXPECT_EQ(t.FileName[1], "");  // untouched
}

TEST_F(DescriptorTest, BackslashTemplateIsStoredUnchangedAndEmptyFieldsCount) {
  res.strings[102] = "|<COMMONPATH>Kelmo\\x\\||";
  ReadDescriptor(t, 1, res);
  EXPECT_EQ(t.FileName[1], "");
  EXPECT_EQ(t.TargetTemplate[1], "<COMMONPATH>Kelmo\\x\\");
  EXPECT_EQ(t.ItemState[1][0], "");
  EXPECT_EQ(t.ItemState[1][1], "");
}

TEST_F(DescriptorTest, MissingFieldStopsStoringThereWithAFailure) {
  res.strings[101] = "Dossaro.zip|<APPPATH>Tessiro/|N";
  EXPECT_EQ(test::RunErrorNumberOf([&] { ReadDescriptor(t, 0, res); }), kErrSubscript);
  EXPECT_EQ(t.FileName[0], "Dossaro.zip");
  EXPECT_EQ(t.TargetTemplate[0], "<APPPATH>Tessiro\\");
  EXPECT_EQ(t.ItemState[0][0], "N");
  EXPECT_EQ(t.ItemState[0][1], "");

  res.strings[102] = "solo";
  EXPECT_EQ(test::RunErrorNumberOf([&] { ReadDescriptor(t, 1, res); }), kErrSubscript);
  EXPECT_EQ(t.FileName[1], "solo");
  EXPECT_EQ(t.TargetTemplate[1], "");
}

TEST_F(DescriptorTest, ItemsUseIdentifier101PlusJ) {
  EXPECT_EQ(test::RunErrorNumberOf([&] { ReadDescriptor(t, 2, res); }), kErrResourceNotFound);
  EXPECT_EQ(res.string_reads.back(), 103u);
  test::FakeFileSystem files;
  gpayload::GroupReader groups;
  EXPECT_EQ(test::RunErrorNumberOf([&] { StagePayload(files, "C:\\a", res, 2, groups); }), kErrResourceNotFound);
  EXPECT_EQ(res.payload_reads.back(), 103u);
}

}  // namespace
}  // namespace ttu::deploy
