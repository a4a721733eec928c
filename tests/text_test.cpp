// Text rules that must answer as Windows (as Wine implements it) answers: names
// compared without regard to letter case, the ANSI code pages, and which code
// page a locale gets. The tables behind them come from Wine; these rows pin
// what the registry agreement test found under each locale.
#include <gtest/gtest.h>

#include "support/code_page.h"
#include "support/text.h"

namespace ttu::text {
namespace {

TEST(FoldCase, NamesMatchAsWinesRegistryMatchesThem) {
  const struct {
    const char *a, *b;
    bool same;
  } rows[] = {
      // Latin: ß, dotless ı, dotted İ, long ſ and title-case ǅ have no other letter.
      {"kelmo", "KELMO", true},  {"città perché", "CITTÀ PERCHÉ", true}, {"łódź żółć", "ŁÓDŹ ŻÓŁĆ", true},
      {"straße", "STRAßE", true}, {"straße", "STRASSE", false},          {"ÿvonne", "Ÿvonne", true},
      {"ı", "I", false},          {"i", "İ", false},                       {"ſ", "S", false},
      {"ǆ", "Ǆ", true},           {"ǅ", "Ǆ", false},
      // Greek, with accents; the final sigma stays a letter of its own.
      {"ελληνικά κλειδί", "ΕΛΛΗΝΙΚΆ ΚΛΕΙΔΊ", true}, {"ώ", "Ώ", true}, {"σίσυφος", "ΣΊΣΥΦΟΣ", false},
      {"σίσυφοσ", "ΣΊΣΥΦΟΣ", true}, {"ΐ", "Ϊ", false},
      // Cyrillic, Ukrainian and Serbian letters included.
      {"ключ ёж", "КЛЮЧ ЁЖ", true}, {"ґанок ђ", "ҐАНОК Ђ", true}, {"ӂ", "Ӂ", true},
      // Other scripts that Wine folds; letters beyond 16 bits are matched as they are.
      {"ա", "Ա", true}, {"ა", "Ა", true}, {"ⰰ", "Ⰰ", true}, {"ａｂｃ", "ＡＢＣ", true}, {"ⅰ", "Ⅰ", true},
      {"ⓐ", "Ⓐ", true}, {"ꭰ", "Ꭰ", true}, {"𐐨", "𐐀", false}, {"日本", "日本", true}};
  for (const auto& r : rows) {
    EXPECT_EQ(FoldCase(r.a) == FoldCase(r.b), r.same) << r.a << " / " << r.b;
    // Matched against a fold made once, either way round, as a folder's names are.
    EXPECT_EQ(FoldsTo(r.a, FoldCase(r.b)), r.same) << r.a << " / " << r.b;
    EXPECT_EQ(FoldsTo(r.b, FoldCase(r.a)), r.same) << r.b << " / " << r.a;
  }
  // Prefixes, longer names and bytes that are no UTF-8 match only themselves.
  for (const char* a : {"kelmo", "kelm", "kelmos", "", "ke\xC3", "\xFF\xFE", "città", "citt"}) {
    for (const char* b : {"KELMO", "KELM", "", "KE\xC3", "\xFF\xFE", "CITTÀ"}) {
      EXPECT_EQ(FoldsTo(a, FoldCase(b)), FoldCase(a) == FoldCase(b)) << a << " / " << b;
    }
  }
}

TEST(CodePage, ConvertsAsWindowsConverts) {
  const struct {
    unsigned code_page;
    const char* utf8;
    std::string ansi;
    bool round_trip;  // the bytes read back as the same text
  } rows[] = {
      {1252, "café", "caf\xE9", true},
      {1252, "C:\\users\\Łukasz", "C:\\users\\Lukasz", false},  // best fit
      {1252, "a😀b", "a??b", false},                             // one '?' per UTF-16 unit
      {1252, "中≤€", "?=\x80", false},
      {1250, "Łódź", "\xA3\xF3\x64\x9F", true},
      {1253, "Σίσυφος", "\xD3\xDF\xF3\xF5\xF6\xEF\xF2", true},
      {1251, "Ключ", "\xCA\xEB\xFE\xF7", true},
      {932, "日本語", "\x93\xFA\x96\x7B\x8C\xEA", true},
      {932, "ｱ", "\xB1", true},  // half-width katakana: one byte
      {932, "¢", "\x81\x91", false},
      {932, "€", "?", false},
      {936, "中文", "\xD6\xD0\xCE\xC4", true},
      {936, "€", "\x80", true},
      {949, "한국어", "\xC7\xD1\xB1\xB9\xBE\xEE", true},
      {950, "繁體", "\xC1\x63\xC5\xE9", true},
      {65001, "हिन्दी 😀", "हिन्दी 😀", true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Utf8ToAnsi(r.utf8, r.code_page), r.ansi) << r.code_page << " " << r.utf8;
    if (r.round_trip) {
      EXPECT_EQ(AnsiToUtf8(r.ansi, r.code_page), r.utf8) << r.code_page << " " << r.utf8;
    }
  }
}

// A lead byte takes the next byte as its trail byte; without a valid one it
// stands for the code page's default character.
TEST(CodePage, ReadsBrokenDoubleByteTextAsWindowsReadsIt) {
  const struct {
    unsigned code_page;
    std::string ansi, utf8;
  } rows[] = {
      {932, "a\x88", "a・"},
      {932, "\x88 b", "・b"},
      {932, std::string("\x88\0b", 3), std::string("・\0b", 5)},
      {936, "\x81", "?"},
      {950, "\xA4\x40\xA4", "一?"},
  };
  for (const auto& r : rows) EXPECT_EQ(AnsiToUtf8(r.ansi, r.code_page), r.utf8) << r.code_page;
}

TEST(CodePage, ALocaleGetsTheCodePageWineGivesIt) {
  const struct {
    const char* locale;
    unsigned code_page;
  } rows[] = {
      {"C", 1252},           {"it_IT.UTF-8", 1252},  {"pl_PL.UTF-8", 1250},       {"ru_RU.UTF-8", 1251},
      {"el_GR", 1253},       {"tr_TR.UTF-8", 1254},  {"th_TH.UTF-8", 874},        {"vi_VN.UTF-8", 1258},
      {"ja_JP.UTF-8", 932},  {"ja_JP.eucJP", 932},   {"zh_CN.UTF-8", 936},        {"zh_SG.UTF-8", 936},
      {"zh_TW.UTF-8", 950},  {"zh_HK.UTF-8", 950},   {"ko_KR.UTF-8", 949},        {"hi_IN.UTF-8", 65001},
      {"ka_GE.UTF-8", 65001}, {"kk_KZ.UTF-8", 65001}, {"sr_RS.UTF-8@latin", 1250}, {"sr_RS.UTF-8", 1252},
      {"az_AZ.UTF-8", 1252}, {"xx_YY.UTF-8", 1252}};
  for (const auto& r : rows) EXPECT_EQ(AnsiCodePageOfLocale(r.locale), r.code_page) << r.locale;
}

}  // namespace
}  // namespace ttu::text
