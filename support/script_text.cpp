// A resource script's text, read in the code page it declares. Kept apart
// from the ANSI conversions' other users: only the packer reads scripts, and
// the updaters need not carry the code-page tables this pulls in.
#include <algorithm>
#include <optional>

#include "support/code_page.h"

namespace ttu::text {
namespace {

// One strictly valid UTF-8 character at s[i]; nothing for anything else.
std::optional<char32_t> DecodeStrict(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return ++i, b0;
  const int extra = b0 >= 0xC2 && b0 <= 0xDF   ? 1
                    : b0 >= 0xE0 && b0 <= 0xEF ? 2
                    : b0 >= 0xF0 && b0 <= 0xF4 ? 3
                                               : -1;
  if (extra < 0 || s.size() - i <= static_cast<std::size_t>(extra)) return std::nullopt;
  char32_t cp = b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return std::nullopt;
  i += extra + 1;
  return cp;
}

void AppendUtf16(char32_t cp, std::u16string& out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

}  // namespace

bool IsSupportedCodePage(unsigned code_page) { return code_page == 65001 || code_page == 1252; }

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned code_page) {
  std::u16string out;
  out.reserve(bytes.size());
  if (code_page == 1252) {
    // The bytes that Windows-1252 leaves unassigned come back as C1 controls.
    out = AnsiToUtf16(bytes, 1252);
    if (std::any_of(out.begin(), out.end(), [](char16_t u) { return u >= 0x80 && u < 0xA0; })) return std::nullopt;
    return out;
  }
  if (code_page != 65001) return std::nullopt;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto cp = DecodeStrict(bytes, i);
    if (!cp) return std::nullopt;
    AppendUtf16(*cp, out);
  }
  return out;
}

}  // namespace ttu::text
