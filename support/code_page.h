// The ANSI code pages of the Windows registry functions, converted as
// MultiByteToWideChar and WideCharToMultiByte convert them: a character the
// code page lacks is written as its best fit (Ł as L) or else '?'. The tables
// come from Wine (scripts/gen-code-pages).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ttu::text {

inline constexpr unsigned kWesternCodePage = 1252;

// The code pages these conversions know: the single-byte 874 and 1250 to
// 1258, the double-byte 932, 936, 949 and 950, and 65001 (UTF-8, which Wine
// gives locales that have no ANSI code page of their own). Any other is read
// as 1252.
bool IsAnsiCodePage(unsigned code_page);
std::string Utf8ToAnsi(std::string_view utf8, unsigned code_page);
std::string Utf16ToAnsi(std::u16string_view units, unsigned code_page);
std::string AnsiToUtf8(std::string_view bytes, unsigned code_page);
std::u16string AnsiToUtf16(std::string_view bytes, unsigned code_page);

// The ANSI code page that Wine gives its programs under the C library's
// locale `locale` ("pl_PL.UTF-8": 1250, "ja_JP.UTF-8": 932, "hi_IN": 65001);
// 1252 for any locale it does not list.
unsigned AnsiCodePageOfLocale(std::string_view locale);

// A resource script's text in its code page, to UTF-16: 65001 (UTF-8, strict:
// no overlong forms, surrogates or values past U+10FFFF) or 1252. Nothing when
// a byte sequence has no character in that code page or the code page is not
// one of these two.
std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned code_page);
bool IsSupportedCodePage(unsigned code_page);

}  // namespace ttu::text
