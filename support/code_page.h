// The ANSI code pages of the Windows registry functions: text converted one
// UTF-16 unit at a time, a character the code page lacks written as its
// best-fit byte (Ł as L) or else '?', as WideCharToMultiByte converts it.
#pragma once

#include <string>
#include <string_view>

namespace ttu::text {

inline constexpr unsigned kWesternCodePage = 1252;

// The single-byte code pages these conversions know: 874 and 1250 to 1258.
bool IsAnsiCodePage(unsigned code_page);
std::string Utf8ToAnsi(std::string_view utf8, unsigned code_page);
std::string Utf16ToAnsi(std::u16string_view units, unsigned code_page);
std::string AnsiToUtf8(std::string_view bytes, unsigned code_page);
std::u16string AnsiToUtf16(std::string_view bytes, unsigned code_page);

// The ANSI code page of a system whose locale is `locale` ("pl_PL.UTF-8":
// 1250); 1252 for western languages and for those whose code page is not a
// single-byte one (Japanese, Chinese, Korean).
unsigned AnsiCodePageOfLocale(std::string_view locale);

}  // namespace ttu::text
