#include "support/code_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "support/text.h"

namespace ttu::text {
namespace {

struct BestFit {
  char16_t unit;
  uint8_t byte;
};
struct BestFit2 {
  char16_t unit;
  uint16_t sequence;  // one byte as 0x00XX, two as lead << 8 | trail; 0: the default '?'
};

#include "support/code_page_tables.inc"

struct LocaleCodePage {
  const char* locale;
  unsigned code_page;
};

#include "support/locale_code_pages.inc"

constexpr unsigned kUtf8CodePage = 65001;

// --- single-byte code pages --------------------------------------------------

struct SingleByte {
  unsigned code_page;
  const char16_t* high;  // the characters of bytes 0x80..0xFF
  std::span<const BestFit> best_fit;
};

constexpr SingleByte kSingleByte[] = {
    {874, kHigh874, kBestFit874},    {1250, kHigh1250, kBestFit1250}, {1251, kHigh1251, kBestFit1251},
    {1252, kHigh1252, kBestFit1252}, {1253, kHigh1253, kBestFit1253}, {1254, kHigh1254, kBestFit1254},
    {1255, kHigh1255, kBestFit1255}, {1256, kHigh1256, kBestFit1256}, {1257, kHigh1257, kBestFit1257},
    {1258, kHigh1258, kBestFit1258}};

const SingleByte* FindSingle(unsigned code_page) {
  for (const auto& t : kSingleByte) {
    if (t.code_page == code_page) return &t;
  }
  return nullptr;
}

void Encode(const SingleByte& t, char16_t unit, std::string& out) {
  if (unit < 0x80) return void(out += static_cast<char>(unit));
  for (int b = 0; b < 128; ++b) {
    if (t.high[b] == unit) return void(out += static_cast<char>(0x80 + b));
  }
  const auto it = std::lower_bound(t.best_fit.begin(), t.best_fit.end(), unit,
                                   [](const BestFit& f, char16_t u) { return f.unit < u; });
  out += it != t.best_fit.end() && it->unit == unit ? static_cast<char>(it->byte) : '?';
}

// --- double-byte code pages --------------------------------------------------

constexpr int kFirstTrail = 0x40, kLastTrail = 0xFE, kTrails = kLastTrail - kFirstTrail + 1;

struct DoubleByte {
  unsigned code_page;
  char16_t default_unit;     // of a lead byte without a valid trail byte
  const char16_t* single;    // the characters of bytes 0x80..0xFF; 0 for a lead byte
  std::u16string_view rows;  // per lead byte, the characters of its trail bytes
  std::span<const BestFit2> best_fit;
};

constexpr std::u16string_view Rows(const char16_t* s, std::size_t size_with_nul) { return {s, size_with_nul - 1}; }

constexpr DoubleByte kDoubleByte[] = {
    {932, kDefault932, kSingle932, Rows(kDouble932, std::size(kDouble932)), kBestFit932},
    {936, kDefault936, kSingle936, Rows(kDouble936, std::size(kDouble936)), kBestFit936},
    {949, kDefault949, kSingle949, Rows(kDouble949, std::size(kDouble949)), kBestFit949},
    {950, kDefault950, kSingle950, Rows(kDouble950, std::size(kDouble950)), kBestFit950}};

// What a conversion needs beyond the tables, made on first use: each lead
// byte's row, and each character's byte sequence (the lowest that stands for
// it, unless the best-fit list says otherwise).
struct DoubleByteIndex {
  std::array<int, 128> row{};
  std::vector<uint16_t> sequence = std::vector<uint16_t>(0x10000, 0);
};

DoubleByteIndex MakeIndex(const DoubleByte& t) {
  DoubleByteIndex x;
  int rows = 0;
  for (int b = 0; b < 128; ++b) x.row[b] = t.single[b] ? -1 : rows++;
  for (int b = 0; b < 128; ++b) {
    if (t.single[b] && !x.sequence[t.single[b]]) x.sequence[t.single[b]] = static_cast<uint16_t>(0x80 + b);
  }
  for (int b = 0; b < 128; ++b) {
    if (x.row[b] < 0) continue;
    for (int k = 0; k < kTrails; ++k) {
      const char16_t unit = t.rows[static_cast<std::size_t>(x.row[b] * kTrails + k)];
      if (!x.sequence[unit]) x.sequence[unit] = static_cast<uint16_t>((0x80 + b) << 8 | (kFirstTrail + k));
    }
  }
  for (const auto& f : t.best_fit) x.sequence[f.unit] = f.sequence;
  return x;
}

template <std::size_t I>
const DoubleByteIndex& IndexAt() {
  static const DoubleByteIndex index = MakeIndex(kDoubleByte[I]);
  return index;
}

const DoubleByteIndex& IndexOf(const DoubleByte& t) {
  static constexpr const DoubleByteIndex& (*kMake[])() = {IndexAt<0>, IndexAt<1>, IndexAt<2>, IndexAt<3>};
  return kMake[&t - kDoubleByte]();
}

const DoubleByte* FindDouble(unsigned code_page) {
  for (const auto& t : kDoubleByte) {
    if (t.code_page == code_page) return &t;
  }
  return nullptr;
}

void Encode(const DoubleByteIndex& x, char16_t unit, std::string& out) {
  const uint16_t seq = unit < 0x80 ? unit : x.sequence[unit];
  if (seq == 0 && unit != 0) return void(out += '?');
  if (seq > 0xFF) out += static_cast<char>(seq >> 8);
  out += static_cast<char>(seq & 0xFF);
}

// A lead byte takes the next byte as its trail, unless that is NUL or the
// text ends; an invalid trail byte gives the default character.
std::u16string Decode(const DoubleByte& t, std::string_view bytes) {
  const DoubleByteIndex& x = IndexOf(t);
  std::u16string units;
  units.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      units += static_cast<char16_t>(b);
    } else if (x.row[b - 0x80] < 0) {
      units += t.single[b - 0x80];
    } else if (i + 1 == bytes.size() || bytes[i + 1] == '\0') {
      units += t.default_unit;
    } else {
      const auto trail = static_cast<unsigned char>(bytes[++i]);
      units += trail < kFirstTrail || trail > kLastTrail
                   ? t.default_unit
                   : t.rows[static_cast<std::size_t>(x.row[b - 0x80] * kTrails + trail - kFirstTrail)];
    }
  }
  return units;
}

}  // namespace

bool IsAnsiCodePage(unsigned code_page) {
  return FindSingle(code_page) || FindDouble(code_page) || code_page == kUtf8CodePage;
}

std::string Utf16ToAnsi(std::u16string_view units, unsigned code_page) {
  std::string out;
  out.reserve(units.size());
  if (code_page == kUtf8CodePage) return Utf16ToUtf8(units);
  if (const DoubleByte* t = FindDouble(code_page)) {
    const DoubleByteIndex& x = IndexOf(*t);
    for (char16_t unit : units) Encode(x, unit, out);
    return out;
  }
  const SingleByte* t = FindSingle(code_page);
  if (!t) t = FindSingle(kWesternCodePage);
  for (char16_t unit : units) Encode(*t, unit, out);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8, unsigned code_page) { return Utf16ToAnsi(Utf8ToUtf16(utf8), code_page); }

std::u16string AnsiToUtf16(std::string_view bytes, unsigned code_page) {
  if (code_page == kUtf8CodePage) return Utf8ToUtf16(bytes);
  if (const DoubleByte* t = FindDouble(code_page)) return Decode(*t, bytes);
  const SingleByte* t = FindSingle(code_page);
  if (!t) t = FindSingle(kWesternCodePage);
  std::u16string units;
  units.reserve(bytes.size());
  for (unsigned char b : bytes) units += b < 0x80 ? static_cast<char16_t>(b) : t->high[b - 0x80];
  return units;
}

std::string AnsiToUtf8(std::string_view bytes, unsigned code_page) {
  return Utf16ToUtf8(AnsiToUtf16(bytes, code_page));
}

// "sr_RS.UTF-8@latin" is looked up as "sr_RS@latin".
unsigned AnsiCodePageOfLocale(std::string_view locale) {
  const auto at = locale.find('@');
  std::string key(locale.substr(0, std::min(at, locale.find('.'))));
  if (at != std::string_view::npos) key += locale.substr(at);
  for (const auto& l : kLocaleCodePages) {
    if (key == l.locale) return l.code_page;
  }
  return kWesternCodePage;
}

}  // namespace ttu::text
