// The tokens of a resource script, read as the Windows resource compiler reads
// them after the C preprocessor: line markers ("# 12 \"file.rc\"") set the
// file and line that messages name, "#pragma code_page(N)" sets how narrow
// strings are decoded, and text that comes from a header (.h or .c) is skipped,
// since a header contributes only its preprocessor lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pack/package_description.h"

namespace ttu::pack {

enum class Tok { kEnd, kNumber, kWord, kString, kPunct };

inline constexpr unsigned kScriptCodePage = 65001;  // scripts are read as UTF-8

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;      // a word as written, or the punctuation character
  uint64_t number = 0;   // saturates at 2^32
  // A string: the bytes of a narrow one (escapes applied, not yet decoded) or
  // the UTF-16 units of a wide one (L"...").
  bool wide = false;
  std::string bytes;
  std::u16string units;
  bool raw_non_ascii = false;  // a wide string that holds a non-ASCII character as written
  std::string high_escape;     // a narrow string's first escape that gives a byte >= 0x80 ("\\xB0")
  unsigned code_page = kScriptCodePage;  // in force where the string stands
  std::string file;
  int line = 0;
};

class Lexer {
 public:
  // `text` is the script as read, or the C preprocessor's output for it.
  Lexer(std::string_view text, std::string file);

  Token Next();
  [[noreturn]] void Fail(const std::string& file, int line, const std::string& what) const;

 private:
  void SkipBlanksAndComments();
  void Directive();
  Token Number(Token& t);
  Token String(Token& t, bool wide);
  void Escape(Token& t);
  int LineAt(std::size_t pos) const;

  std::string text_;  // line splices removed, line ends made "\n"
  std::vector<std::size_t> newlines_;  // positions of "\n" in text_
  std::vector<std::size_t> splices_;   // positions in text_ where a spliced line end was
  std::size_t i_ = 0;
  bool at_line_start_ = true;
  std::string file_;
  std::size_t marker_pos_ = 0;  // text_ position of the line that marker_line_ numbers
  int marker_line_ = 1;
  bool in_header_ = false;
  unsigned code_page_ = kScriptCodePage;
};

}  // namespace ttu::pack
