#include "support/code_page.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "support/text.h"

namespace ttu::text {
namespace {

struct BestFit {
  char16_t unit;
  uint8_t byte;
};

#include "support/code_page_tables.inc"

struct Table {
  unsigned code_page;
  const char16_t* high;  // the characters of bytes 0x80..0xFF
  std::span<const BestFit> best_fit;
};

constexpr Table kTables[] = {
    {874, kHigh874, kBestFit874},    {1250, kHigh1250, kBestFit1250}, {1251, kHigh1251, kBestFit1251},
    {1252, kHigh1252, kBestFit1252}, {1253, kHigh1253, kBestFit1253}, {1254, kHigh1254, kBestFit1254},
    {1255, kHigh1255, kBestFit1255}, {1256, kHigh1256, kBestFit1256}, {1257, kHigh1257, kBestFit1257},
    {1258, kHigh1258, kBestFit1258}};

const Table* Find(unsigned code_page) {
  for (const auto& t : kTables) {
    if (t.code_page == code_page) return &t;
  }
  return nullptr;
}

char Encode(const Table& t, char16_t unit) {
  if (unit < 0x80) return static_cast<char>(unit);
  for (int b = 0; b < 128; ++b) {
    if (t.high[b] == unit) return static_cast<char>(0x80 + b);
  }
  const auto it = std::lower_bound(t.best_fit.begin(), t.best_fit.end(), unit,
                                   [](const BestFit& f, char16_t u) { return f.unit < u; });
  return it != t.best_fit.end() && it->unit == unit ? static_cast<char>(it->byte) : '?';
}

// Languages whose Windows code page is not 1252.
struct LanguageCodePage {
  const char* language;
  unsigned code_page;
};
constexpr LanguageCodePage kLanguages[] = {
    {"bs", 1250}, {"cs", 1250}, {"hr", 1250}, {"hu", 1250}, {"pl", 1250}, {"ro", 1250}, {"sk", 1250},
    {"sl", 1250}, {"sq", 1250}, {"be", 1251}, {"bg", 1251}, {"kk", 1251}, {"ky", 1251}, {"mk", 1251},
    {"mn", 1251}, {"ru", 1251}, {"sr", 1251}, {"tt", 1251}, {"uk", 1251}, {"el", 1253}, {"az", 1254},
    {"tr", 1254}, {"he", 1255}, {"yi", 1255}, {"ar", 1256}, {"fa", 1256}, {"ur", 1256}, {"et", 1257},
    {"lt", 1257}, {"lv", 1257}, {"vi", 1258}, {"th", 874}};

}  // namespace

bool IsAnsiCodePage(unsigned code_page) { return Find(code_page) != nullptr; }

std::string Utf16ToAnsi(std::u16string_view units, unsigned code_page) {
  const Table* t = Find(code_page);
  if (!t) t = Find(kWesternCodePage);
  std::string out;
  out.reserve(units.size());
  for (char16_t unit : units) out += Encode(*t, unit);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8, unsigned code_page) { return Utf16ToAnsi(Utf8ToUtf16(utf8), code_page); }

std::u16string AnsiToUtf16(std::string_view bytes, unsigned code_page) {
  const Table* t = Find(code_page);
  if (!t) t = Find(kWesternCodePage);
  std::u16string units;
  units.reserve(bytes.size());
  for (unsigned char b : bytes) units += b < 0x80 ? static_cast<char16_t>(b) : t->high[b - 0x80];
  return units;
}

std::string AnsiToUtf8(std::string_view bytes, unsigned code_page) {
  return Utf16ToUtf8(AnsiToUtf16(bytes, code_page));
}

unsigned AnsiCodePageOfLocale(std::string_view locale) {
  const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
  if (language == "sr" && locale.find("@latin") != std::string_view::npos) return 1250;
  for (const auto& l : kLanguages) {
    if (language == l.language) return l.code_page;
  }
  return kWesternCodePage;
}

}  // namespace ttu::text
