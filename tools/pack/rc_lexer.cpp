#include "tools/pack/rc_lexer.h"

#include <algorithm>

#include "support/code_page.h"
#include "support/text.h"

namespace ttu::pack {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

}  // namespace

Lexer::Lexer(std::string_view text, std::string file) : file_(std::move(file)) {
  // Line ends become "\n" and a backslash at the end of a line joins it to the
  // next, before anything else is read: the C preprocessor's first steps.
  text_.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    if (c == '\r') {
      if (k + 1 < text.size() && text[k + 1] == '\n') ++k;
      c = '\n';
    }
    if (c == '\n' && !text_.empty() && text_.back() == '\\') {
      text_.pop_back();
      splices_.push_back(text_.size());
      continue;
    }
    if (c == '\n') newlines_.push_back(text_.size());
    text_ += c;
  }
}

void Lexer::Fail(const std::string& file, int line, const std::string& what) const {
  throw PackError(file + ":" + std::to_string(line) + ": error: " + what);
}

int Lexer::LineAt(std::size_t pos) const {
  auto count = [&](const std::vector<std::size_t>& v) {
    return std::lower_bound(v.begin(), v.end(), pos) - std::lower_bound(v.begin(), v.end(), marker_pos_);
  };
  return marker_line_ + static_cast<int>(count(newlines_) + count(splices_));
}

void Lexer::SkipBlanksAndComments() {
  while (i_ < text_.size()) {
    const char c = text_[i_];
    if (c == '\n') {
      ++i_, at_line_start_ = true;
    } else if (IsBlank(c)) {
      ++i_;
    } else if (text_.compare(i_, 2, "//") == 0) {
      while (i_ < text_.size() && text_[i_] != '\n') ++i_;
    } else if (text_.compare(i_, 2, "/*") == 0) {
      const std::size_t end = text_.find("*/", i_ + 2);
      if (end == std::string::npos) Fail(file_, LineAt(i_), "unterminated comment");
      i_ = end + 2;
    } else if (in_header_ && !(at_line_start_ && c == '#')) {
      while (i_ < text_.size() && text_[i_] != '\n') ++i_;  // a header's text is not read
    } else {
      return;
    }
  }
}

// A line that begins with "#": a line marker or a pragma of the preprocessor's
// output. Anything else is a preprocessor line that was never preprocessed.
void Lexer::Directive() {
  const int line = LineAt(i_);
  const std::size_t end = std::min(text_.find('\n', i_), text_.size());
  std::string_view d(text_.data() + i_ + 1, end - i_ - 1);
  i_ = end;
  auto skip_blanks = [&d] {
    while (!d.empty() && IsBlank(d.front())) d.remove_prefix(1);
  };
  auto take_word = [&d] {
    std::size_t n = 0;
    while (n < d.size() && (IsLetter(d[n]) || IsDigit(d[n]))) ++n;
    const std::string w(d.substr(0, n));
    d.remove_prefix(n);
    return w;
  };
  skip_blanks();
  std::string name = take_word();
  if (name == "line") skip_blanks(), name = take_word();
  if (!name.empty() && std::all_of(name.begin(), name.end(), IsDigit)) {
    skip_blanks();
    if (!d.empty() && d.front() == '"') {
      std::string file;
      for (std::size_t k = 1; k < d.size() && d[k] != '"'; ++k) {
        if (d[k] == '\\' && k + 1 < d.size()) ++k;
        file += d[k];
      }
      file_ = file;
      in_header_ = EndsWith(file, ".h") || EndsWith(file, ".c");
    }
    marker_pos_ = end + 1;
    marker_line_ = std::stoi(name.substr(0, 9));
    return;
  }
  if (name == "pragma") {
    skip_blanks();
    if (take_word() != "code_page") return;  // other pragmas mean nothing to a resource script
    skip_blanks();
    std::string arg;
    if (!d.empty() && d.front() == '(') d.remove_prefix(1), skip_blanks(), arg = take_word();
    // "default": back to the code page the script is read in, UTF-8.
    const bool number = !arg.empty() && arg.size() < 6 && std::all_of(arg.begin(), arg.end(), IsDigit);
    const unsigned cp = arg == "default" ? kScriptCodePage : number ? static_cast<unsigned>(std::stoul(arg)) : 0;
    if (!text::IsSupportedCodePage(cp)) {
      Fail(file_, line, "code page '" + arg + "' is not supported: use 65001 (UTF-8) or 1252");
    }
    code_page_ = cp;
    return;
  }
  Fail(file_, line,
       "the preprocessor line '#" + name +
           "' was not preprocessed (tessiro-pack runs the C preprocessor, 'cpp', for it)");
}

Token Lexer::Next() {
  for (;;) {
    SkipBlanksAndComments();
    if (i_ < text_.size() && at_line_start_ && text_[i_] == '#') {
      Directive();
      continue;
    }
    break;
  }
  Token t;
  t.file = file_;
  t.line = LineAt(i_);
  if (i_ >= text_.size()) return t;
  at_line_start_ = false;
  const char c = text_[i_];
  if (c == '"') return String(t, false);
  if (c == 'L' && i_ + 1 < text_.size() && text_[i_ + 1] == '"') return ++i_, String(t, true);
  if (IsDigit(c)) return Number(t);
  if (IsLetter(c) || c == '.') {
    t.kind = Tok::kWord;
    // File names may be written bare: a word runs on through dots, dashes and
    // folder separators, but never into a comment.
    while (i_ < text_.size()) {
      const char w = text_[i_];
      const bool comment = w == '/' && (text_.compare(i_, 2, "//") == 0 || text_.compare(i_, 2, "/*") == 0);
      if (comment || !(IsLetter(w) || IsDigit(w) || w == '.' || w == '-' || w == '/' || w == '\\' || w == ':')) {
        break;
      }
      t.text += text_[i_++];
    }
    return t;
  }
  if (std::string_view(",{}()+-*/%&|^~").find(c) != std::string_view::npos) {
    t.kind = Tok::kPunct;
    t.text = std::string(1, c);
    ++i_;
    return t;
  }
  Fail(t.file, t.line, std::string("unexpected character '") + c + "'");
}

// Decimal, octal after a leading 0 (as the C preprocessor and the resource
// compiler read "010": 8), or hexadecimal after 0x; an L suffix is allowed.
Token Lexer::Number(Token& t) {
  t.kind = Tok::kNumber;
  const std::size_t start = i_;
  unsigned base = 10;
  if (text_.compare(i_, 2, "0x") == 0 || text_.compare(i_, 2, "0X") == 0) {
    base = 16, i_ += 2;
  } else if (text_[i_] == '0') {
    base = 8;
  }
  std::size_t digits = 0;
  bool bad = false;
  for (; i_ < text_.size() && DigitValue(text_[i_]) < 16 && (base == 16 || IsDigit(text_[i_])); ++i_, ++digits) {
    const auto d = static_cast<unsigned>(DigitValue(text_[i_]));
    bad |= d >= base;
    t.number = std::min<uint64_t>(t.number * base + d, uint64_t{1} << 32);
  }
  if (i_ < text_.size() && (text_[i_] == 'L' || text_[i_] == 'l')) ++i_;
  const bool glued = i_ < text_.size() && (IsLetter(text_[i_]) || IsDigit(text_[i_]) || text_[i_] == '.');
  if (bad || digits == 0 || glued) {
    while (i_ < text_.size() && (IsLetter(text_[i_]) || IsDigit(text_[i_]) || text_[i_] == '.')) ++i_;
    Fail(t.file, t.line, "malformed number '" + text_.substr(start, i_ - start) + "'");
  }
  t.text = text_.substr(start, i_ - start);
  return t;
}

// A quoted string, as the resource compiler reads it: "" stands for one
// quote; the escapes of C, except that \a gives 8 as \b does; \x takes up to
// two hex digits in a narrow string and four in a wide one, octal up to three
// digits; an unknown escape keeps its backslash.
Token Lexer::String(Token& t, bool wide) {
  t.kind = Tok::kString;
  t.wide = wide;
  t.code_page = code_page_;
  ++i_;
  for (;;) {
    if (i_ >= text_.size() || text_[i_] == '\n') Fail(t.file, t.line, "unterminated string");
    const char c = text_[i_];
    if (c == '"' && text_.compare(i_, 2, "\"\"") != 0) {
      ++i_;
      return t;
    }
    if (c == '\\' && i_ + 1 < text_.size()) {
      Escape(t);
      continue;
    }
    i_ += c == '"' ? 2 : 1;  // "" is one quote
    if (wide) {
      t.raw_non_ascii |= static_cast<unsigned char>(c) >= 0x80;
      t.units += static_cast<char16_t>(static_cast<unsigned char>(c));
    } else {
      t.bytes += c;
    }
  }
}

void Lexer::Escape(Token& t) {
  const std::size_t start = i_;
  const char e = text_[i_ + 1];
  i_ += 2;
  unsigned value = 0;
  switch (e) {
    case 'a': case 'b': value = 8; break;
    case 'f': value = 12; break;
    case 'n': value = 10; break;
    case 'r': value = 13; break;
    case 't': value = 9; break;
    case 'v': value = 11; break;
    case '\\': value = '\\'; break;
    case '"':
      // The resource compiler misreads this in a wide string (or stops).
      if (t.wide) Fail(t.file, t.line, "\\\" inside L\"...\" is misread by the resource compiler: write \"\" for a quote");
      value = '"';
      break;
    case 'x': case 'X': {
      const int max = t.wide ? 4 : 2;
      for (int k = 0; k < max && i_ < text_.size() && DigitValue(text_[i_]) < 16; ++k) {
        value = value * 16 + static_cast<unsigned>(DigitValue(text_[i_++]));
      }
      break;
    }
    default:
      if (e >= '0' && e <= '7') {
        value = static_cast<unsigned>(e - '0');
        for (int k = 0; k < 2 && i_ < text_.size() && text_[i_] >= '0' && text_[i_] <= '7'; ++k) {
          value = value * 8 + static_cast<unsigned>(text_[i_++] - '0');
        }
        break;
      }
      i_ -= 1;  // unknown: the backslash stays and the character is read as it stands
      value = '\\';
  }
  if (t.wide) {
    t.units += static_cast<char16_t>(value);
  } else {
    if ((value & 0xFF) >= 0x80 && t.high_escape.empty()) t.high_escape = text_.substr(start, i_ - start);
    t.bytes += static_cast<char>(value & 0xFF);
  }
}

}  // namespace ttu::pack
