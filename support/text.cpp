#include "support/text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ttu::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i; invalid input yields U+FFFD
// and consumes one byte.
char32_t Decode(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {  // truncated sequence
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += extra + 1;
  return cp;
}

void Encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::size_t Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++n) Decode(s, i);
  return n;
}

std::string Left(std::string_view s, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < s.size(); ++n) Decode(s, i);
  return std::string(s.substr(0, i));
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

namespace {

struct CaseFold {
  char16_t unit;
  char16_t folded;
};

#include "support/case_fold_table.inc"

// The letter that the registry takes `c` for when it matches names; letters
// outside the 16-bit range are matched as they are.
char32_t FoldByTable(char32_t c) {
  if (c >= 0x10000) return c;
  const auto it = std::lower_bound(std::begin(kCaseFolds), std::end(kCaseFolds), c,
                                   [](const CaseFold& f, char32_t u) { return f.unit < u; });
  return it != std::end(kCaseFolds) && it->unit == c ? it->folded : c;
}

// Names are mostly ASCII: its folds come from the same table, looked up once.
char32_t Fold(char32_t c) {
  static const auto ascii = [] {
    std::array<char32_t, 128> a{};
    for (char32_t k = 0; k < a.size(); ++k) a[k] = FoldByTable(k);
    return a;
  }();
  return c < ascii.size() ? ascii[c] : FoldByTable(c);
}

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) Encode(Fold(Decode(s, i)), out);
  return out;
}

bool FoldsTo(std::string_view s, std::string_view folded) {
  std::string one;  // a character's fold: a few bytes, kept in the string's own buffer
  std::size_t at = 0;
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = Fold(Decode(s, i));
    if (c < 0x80) {  // no encoding for ASCII
      if (at >= folded.size() || folded[at] != static_cast<char>(c)) return false;
      ++at;
      continue;
    }
    one.clear();
    Encode(c, one);
    if (folded.substr(at, one.size()) != one) return false;
    at += one.size();
  }
  return at == folded.size();
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  for (std::size_t hit; (hit = s.find(from, pos)) != std::string_view::npos;
       pos = hit + from.size()) {
    out.append(s.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(s.substr(pos));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = Decode(s, i);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp > 0x10FFFF ? kReplacement : cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = kReplacement;  // a lone surrogate
    }
    Encode(cp, out);
  }
  return out;
}

}  // namespace ttu::text
