// Text helpers. Text is UTF-8 inside the program; these convert at the edges
// and count characters (code points), not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ttu::text {

// Number of characters in a UTF-8 text (an invalid byte counts as one).
std::size_t Length(std::string_view s);
// The first `count` characters (the whole text when it is shorter).
std::string Left(std::string_view s, std::size_t count);
// Upper-cases the ASCII letters; other characters stay as they are.
std::string UpperAscii(std::string_view s);
// Names compared without regard to letter case, as Windows (as Wine
// implements it) compares registry and file names: each letter replaced by
// the lowest letter it is taken for (ά by Ά, ß and ς kept as they are); the
// table comes from Wine (scripts/gen-code-pages).
std::string FoldCase(std::string_view s);
// FoldCase(s) == folded, without making the fold: a name that differs early
// costs a character or two.
bool FoldsTo(std::string_view s, std::string_view folded);
// Every occurrence of `from` replaced by `to`, scanning left to right;
// replaced text is not scanned again.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

}  // namespace ttu::text
