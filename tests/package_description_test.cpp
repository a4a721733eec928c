// The package-description reader on its own. How it agrees with the Windows
// resource compiler is checked against the compiler itself (rc_differential_test).
#include "tools/pack/package_description.h"

#include <gtest/gtest.h>

#include "support/code_page.h"
#include "support/text.h"

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
  EXPECT_EQ(d.strings[1].text, u"Dossaro.zip|<APPPATH>Tessiro/|N|");
  EXPECT_EQ(d.strings[1].line, 8);
  ASSERT_EQ(d.data.size(), 1u);
  EXPECT_EQ(d.data[0].id, 101);
  EXPECT_EQ(d.data[0].type, "CUSTOM");
  EXPECT_EQ(d.data[0].file, "Dossaro.zip");
  EXPECT_EQ(d.data[0].language, 1033);
}

// The C preprocessor's output: markers name the real file and line, a header's
// text is skipped, a pragma switches the code page from there on.
TEST(PackageDescription, FollowsLineMarkersHeadersAndCodePages) {
  const auto d = ReadPackageDescription(
      "# 0 \"pkg.rc\"\n# 1 \"ids.h\" 1\nint ignored(void);\n# 3 \"pkg.rc\" 2\n"
      "STRINGTABLE\nBEGIN\n 1 \"caf\xC3\xA9\"\n#pragma code_page(1252)\n 2 \"caf\xE9\" 3 \"\\xe9\"\nEND\n"
      "# 40 \"pkg.rc\"\n7 CUSTOM payload\\x.bin\n",
      "<stdin>");
  ASSERT_EQ(d.strings.size(), 3u);
  EXPECT_EQ(d.strings[0].line, 5);
  EXPECT_EQ(d.strings[0].file, "pkg.rc");
  EXPECT_EQ(d.strings[0].text, u"caf\u00e9");
  EXPECT_EQ(d.strings[1].text, u"caf\u00e9");
  EXPECT_EQ(d.strings[2].text, u"\u00e9");
  ASSERT_EQ(d.data.size(), 1u);
  EXPECT_EQ(d.data[0].line, 40);
  EXPECT_EQ(d.data[0].file, "payload/x.bin");
  try {
    ReadPackageDescription("# 1 \"a.rc\"\n\n# 9 \"b.rc\"\n\n STRINGTABLE BEGIN 1 \"\xE8\" END", "x");
    FAIL();
  } catch (const PackError& e) {
    EXPECT_STREQ(e.what(),
                 "b.rc:10: error: string 1 is not valid UTF-8 (the script is read as UTF-8: save it as "
                 "UTF-8, or declare its code page with #pragma code_page(1252))");
  }
}

TEST(PackageDescription, LineNumbersCountSplicedAndCarriageReturnLines) {
  const auto d = ReadPackageDescription("STRINGTABLE\r\nBEGIN\r\n1 \"a\\\r\nb\"\r\n\r\n2 \"c\"\rEND", "p.rc");
  ASSERT_EQ(d.strings.size(), 2u);
  EXPECT_EQ(d.strings[0].text, u"ab");
  EXPECT_EQ(d.strings[1].line, 6);
}

TEST(PackageDescription, OnlyRealPreprocessorLinesNeedThePreprocessor) {
  EXPECT_FALSE(NeedsPreprocessor("STRINGTABLE { 1 \"#define\" }\n#pragma code_page(1252)\n"));
  EXPECT_TRUE(NeedsPreprocessor("\xEF\xBB\xBF  #  define X 1\n"));
  EXPECT_TRUE(NeedsPreprocessor("x\r#include \"a.h\""));
}

TEST(PackageDescription, StringsUpToTheTableLimitAndNoFurther) {
  const std::string ok(65535, 'a');
  EXPECT_EQ(ReadPackageDescription("STRINGTABLE { 1 \"" + ok + "\" }", "p.rc").strings[0].text.size(), 65535u);
  // Characters beyond the Basic Multilingual Plane take two units each.
  std::string emoji;
  for (int k = 0; k < 32768; ++k) emoji += "\xF0\x9F\x98\x80";
  EXPECT_THROW(ReadPackageDescription("STRINGTABLE { 1 \"" + emoji + "\" }", "p.rc"), PackError);
}

TEST(PackageDescription, CountAndDescriptorContentIsNotJudged) {
  // The updater refuses these at run time; the packer must still pack them.
  const auto d = ReadPackageDescription(
      "STRINGTABLE BEGIN 100 \"zero\" 101 \"x.zip|nowhere\" 99 \"a/b\" END", "p.rc");
  EXPECT_EQ(d.strings.size(), 3u);
}

TEST(CodePage, DecodesStrictlyOrNotAtAll) {
  EXPECT_EQ(text::DecodeCodePage("a\xC3\xA8\xF0\x9F\x98\x80", 65001), u"a\u00e8\U0001F600");
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE8x", "\x80"}) {
    EXPECT_FALSE(text::DecodeCodePage(bad, 65001)) << bad;
  }
  EXPECT_EQ(text::DecodeCodePage("\x80\xE8\x9F", 1252), u"\u20ac\u00e8\u0178");
  EXPECT_FALSE(text::DecodeCodePage("\x81", 1252));
  EXPECT_FALSE(text::DecodeCodePage("a", 1250));
}

// Crafted scripts end in a message, never by exhausting the stack.
TEST(PackageDescription, DeepExpressionsEndInAMessageOrAValue) {
  const struct {
    std::string id;      // the expression standing for string 1's identifier
    std::string result;  // the identifier read, or the message
  } rows[] = {
      {std::string(300000, '-') + "7", "7"},
      {std::string(300001, '~') + "0", "identifier -1 is outside"},
      {std::string(256, '(') + "9" + std::string(256, ')'), "9"},
      {std::string(100000, '(') + "9" + std::string(100000, ')'), "parentheses nested more than 256 deep"},
      {std::string(50000, '(') + "9", "parentheses nested more than 256 deep"},
  };
  for (const auto& r : rows) {
    try {
      const auto d = ReadPackageDescription("STRINGTABLE { " + r.id + " \"x\" }\n", "p.rc");
      ASSERT_EQ(d.strings.size(), 1u);
      EXPECT_EQ(std::to_string(d.strings[0].id), r.result) << r.id.substr(0, 20);
    } catch (const PackError& e) {
      EXPECT_NE(std::string(e.what()).find(r.result), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ttu::pack
