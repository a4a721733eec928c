#include "tools/pack/package_description.h"

#include <gtest/gtest.h>

namespace ttu::pack {
namespace {

TEST(PackageDescription, ReadsThePackageOfThisBuild) {
  const auto d = ReadPackageDescription(R"(// comment
LANGUAGE 0x09, 0x01
/* block
   comment */
STRINGTABLE
BEGIN
    100 "1"
    101 "Dossaro.zip|<APPPATH>Tessiro/|N|"
END

101 CUSTOM "Dossaro.zip"
)",
                                        "p.rc");
  ASSERT_EQ(d.strings.size(), 2u);
  EXPECT_EQ(d.strings[0].id, 100);
  EXPECT_EQ(d.strings[0].language, 1033);
  EXPECT_EQ(d.strings[1].text, "Dossaro.zip|<APPPATH>Tessiro/|N|");
  EXPECT_EQ(d.strings[1].line, 8);
  ASSERT_EQ(d.data.size(), 1u);
  EXPECT_EQ(d.data[0].id, 101);
  EXPECT_EQ(d.data[0].type, "CUSTOM");
  EXPECT_EQ(d.data[0].file, "Dossaro.zip");
  EXPECT_EQ(d.data[0].language, 1033);
}

TEST(PackageDescription, StringsKeepEscapesCommasBracesAndUnicode) {
  const auto d = ReadPackageDescription(
      "STRINGTABLE { 10, \"a\"\"b\" 11 \"\\\\x\\t\\x41\\101\" 12 \"perch\xC3\xA8\" }\n"
      "0x70 CUSTOM bare.bin\n",
      "p.rc");
  ASSERT_EQ(d.strings.size(), 3u);
  EXPECT_EQ(d.strings[0].text, "a\"b");
  EXPECT_EQ(d.strings[1].text, "\\x\tAA");
  EXPECT_EQ(d.strings[2].text, "perch\xC3\xA8");
  EXPECT_EQ(d.data[0].id, 0x70);
  EXPECT_EQ(d.data[0].file, "bare.bin");
}

struct BadCase {
  const char* text;
  const char* message;  // expected part of the error
};

class BadDescription : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, IsRefusedNamingFileAndLine) {
  try {
    ReadPackageDescription(GetParam().text, "bad.rc");
    FAIL() << "accepted: " << GetParam().text;
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadDescription,
    ::testing::Values(
        BadCase{"\nICON \"a.ico\"", "bad.rc:2: error: unknown statement 'ICON'"},
        BadCase{"#include \"x.h\"", "bad.rc:1: error: unexpected character '#'"},
        BadCase{"STRINGTABLE\nBEGIN\n100 \"abc\nEND", "bad.rc:3: error: unterminated string"},
        BadCase{"STRINGTABLE BEGIN 100 \"a\" 100 \"b\" END", "duplicate string identifier 100"},
        BadCase{"1 CUSTOM \"a\"\n1 CUSTOM \"b\"", "bad.rc:2: error: duplicate CUSTOM identifier 1"},
        BadCase{"STRINGTABLE BEGIN 0 \"a\" END", "identifier 0 is outside 1..65535"},
        BadCase{"65536 CUSTOM \"a\"", "identifier 65536 is outside 1..65535"},
        BadCase{"101 CUSTOM \"../etc/passwd\"", "must not hold a folder separator"},
        BadCase{"101 CUSTOM \"sub/a.zip\"", "must not hold a folder separator"},
        BadCase{"101 CUSTOM \"sub\\\\a.zip\"", "must not hold a folder separator"},
        BadCase{"STRINGTABLE BEGIN 101 \"..\\\\x.dll|<APPPATH>Tessiro/|N|\" END",
                "descriptor file name"},
        BadCase{"STRINGTABLE BEGIN 102 \"a/b.dll|<APPPATH>Tessiro/|N|\" END",
                "descriptor file name"},
        BadCase{"STRINGTABLE BEGIN 100 \"1\"", "STRINGTABLE without END"},
        BadCase{"101 RCDATA \"a\"", "unknown resource type"},
        BadCase{"/* open", "unterminated comment"}));

TEST(PackageDescription, CountAndDescriptorContentIsNotJudged) {
  // The updater refuses these at run time; the packer must still pack them.
  const auto d = ReadPackageDescription(
      "STRINGTABLE BEGIN 100 \"zero\" 101 \"x.zip|nowhere\" 99 \"a/b\" END", "p.rc");
  EXPECT_EQ(d.strings.size(), 3u);
}

}  // namespace
}  // namespace ttu::pack
