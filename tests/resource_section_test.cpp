#include "support/resource_section.h"

#include <gtest/gtest.h>

#include "support/resource_language.h"

namespace ttu::resfmt {
namespace {

TEST(StringBlock, StandardLayoutRoundTrips) {
  Strings16 s;
  s[4] = u"1";
  s[5] = u"Dossaro.zip|<APPPATH>Tessiro/|N|";
  s[15] = u"\u00e8";
  const auto block = EncodeStringBlock(s);
  // 16 lengths, then the units of the three strings.
  EXPECT_EQ(block.size(), 16 * 2 + (1 + 32 + 1) * 2);
  EXPECT_EQ(block[8], 1);  // length of string 4, little-endian
  EXPECT_EQ(block[10], '1');
  EXPECT_TRUE(IsValidStringBlock(block));
  EXPECT_EQ(StringFromBlock(block, 5), s[5]);
  EXPECT_EQ(StringFromBlock(block, 15), s[15]);
  EXPECT_FALSE(StringFromBlock(block, 0).has_value());
  EXPECT_FALSE(StringFromBlock(block, 16).has_value());
}

TEST(StringBlock, TruncatedOrPaddedBlocksAreInvalid) {
  Strings16 s;
  s[0] = u"abc";
  auto block = EncodeStringBlock(s);
  block.pop_back();
  EXPECT_FALSE(IsValidStringBlock(block));
  block.push_back(0);
  block.push_back(0);
  EXPECT_FALSE(IsValidStringBlock(block));
}

Directory SampleDirectory() {
  Strings16 s;
  s[4] = u"2";
  s[5] = u"a|b|c|d";
  Directory d;
  d.strings.push_back({7, 1033, EncodeStringBlock(s)});
  d.data.push_back({101, 1033, "CUSTOM", 4096, 10});
  d.data.push_back({102, 1033, "CUSTOM", 8192, 0});
  return d;
}

TEST(Directory, RoundTripsAndServesLookups) {
  const Trailer t{8192, 1000};
  const auto bytes = EncodeDirectory(SampleDirectory());
  const auto dir = DecodeDirectory(bytes, t);
  ASSERT_TRUE(dir.has_value());
  ResourceTable table(*dir);
  EXPECT_EQ(table.String(100), "2");
  EXPECT_EQ(table.String(101), "a|b|c|d");
  EXPECT_FALSE(table.String(102).has_value());
  EXPECT_FALSE(table.String(70000).has_value());
  ASSERT_NE(table.Data(101, "custom"), nullptr);
  EXPECT_EQ(table.Data(101, "CUSTOM")->offset, 4096u);
  EXPECT_EQ(table.Data(101, "RCDATA"), nullptr);
  EXPECT_EQ(table.Data(103, "CUSTOM"), nullptr);
}

TEST(Directory, EveryTruncationAndOutOfRangeEntryIsRejected) {
  const auto bytes = EncodeDirectory(SampleDirectory());
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(DecodeDirectory(std::span(bytes).first(n), {8192, 1000})) << n;
  }
  // Payload ranges must lie between the stub and the directory.
  EXPECT_FALSE(DecodeDirectory(bytes, {8192, 5000}));
  EXPECT_FALSE(DecodeDirectory(bytes, {4100, 1000}));
}

TEST(Trailer, RoundTripsAndChecksItsOffsets) {
  const auto t = EncodeTrailer({900, 100});
  EXPECT_TRUE(DecodeTrailer(t, 1000).has_value());
  EXPECT_FALSE(DecodeTrailer(t, 900));   // directory past the trailer
  EXPECT_FALSE(DecodeTrailer(std::span(t).first(23), 1000));
  auto bad = t;
  bad[0] = 'X';
  EXPECT_FALSE(DecodeTrailer(bad, 1000));
  EXPECT_FALSE(DecodeTrailer(EncodeTrailer({100, 900}), 1000));  // start after directory
}

// A package in Italian (Italy), English (United States) and neutral, or without
// the neutral one: the loader's order decides, by string block.
TEST(Directory, PicksTheLanguageTheResourceLoaderWould) {
  auto block = [](const char16_t* text) {
    Strings16 s;
    s[4] = text;
    return EncodeStringBlock(s);
  };
  Directory d;
  d.strings.push_back({7, 0x0410, block(u"it")});
  d.strings.push_back({7, 0x0409, block(u"en")});
  d.strings.push_back({7, 0x0C0C, block(u"fr-CA")});
  d.data.push_back({101, 0x0410, "CUSTOM", 10, 1});
  d.data.push_back({101, 0x0407, "CUSTOM", 20, 1});
  EXPECT_EQ(ResourceTable(d, 0x0410).String(100), "it");
  EXPECT_EQ(ResourceTable(d, 0x0810).String(100), "en");  // it-CH: no Italian (neutral) to fall to
  EXPECT_EQ(ResourceTable(d, 0x0407).String(100), "en");
  EXPECT_EQ(ResourceTable(d, 0x0C0C).String(100), "fr-CA");
  EXPECT_EQ(ResourceTable(d, 0x0407).Data(101, "CUSTOM")->offset, 20u);
  EXPECT_EQ(ResourceTable(d, 0x0419).Data(101, "CUSTOM")->offset, 20u);  // none fits: the lowest
  d.strings.push_back({7, 0x0010, block(u"it-neutral")});
  EXPECT_EQ(ResourceTable(d, 0x0810).String(100), "it-neutral");
  d.strings.push_back({7, 0x0000, block(u"neutral")});
  EXPECT_EQ(ResourceTable(d, 0x0410).String(100), "neutral");
  // The chosen block decides: its missing string is missing.
  EXPECT_FALSE(ResourceTable(d, 0x0410).String(101).has_value());
}

TEST(ResourceLanguage, LocaleNamesMapToWindowsLanguages) {
  EXPECT_EQ(reslang::LanguageOfLocale("it_IT.UTF-8"), 0x0410);
  EXPECT_EQ(reslang::LanguageOfLocale("it_CH.UTF-8@euro"), 0x0810);
  EXPECT_EQ(reslang::LanguageOfLocale("de_CH"), 0x0807);
  EXPECT_EQ(reslang::LanguageOfLocale("fr"), 0x040C);
  EXPECT_EQ(reslang::LanguageOfLocale("pt_BR.utf8"), 0x0416);
  EXPECT_EQ(reslang::LanguageOfLocale("es_ES"), 0x0C0A);
  EXPECT_EQ(reslang::LanguageOfLocale("C.UTF-8"), 0x0409);
  EXPECT_EQ(reslang::LanguageOfLocale("POSIX"), 0x0409);
  EXPECT_EQ(reslang::LanguageOfLocale(""), 0x0409);
  EXPECT_EQ(reslang::LanguageOfLocale("xx_YY"), 0x0409);
}

}  // namespace
}  // namespace ttu::resfmt
