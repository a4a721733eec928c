#include "tools/pack/package_description.h"

#include <sys/stat.h>

#include <optional>
#include <set>
#include <tuple>

#include "support/text.h"

namespace ttu::pack {
namespace {

enum class Tok { kEnd, kNumber, kWord, kString, kComma, kOpen, kClose };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;      // word, or string value (UTF-8)
  uint64_t number = 0;   // saturates at 2^32
  int line = 0;
};

class Lexer {
 public:
  Lexer(std::string_view s, const std::string& file) : s_(s), file_(file) {}

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw PackError(file_ + ":" + std::to_string(line) + ": error: " + what);
  }

  Token Next() {
    SkipBlanksAndComments();
    Token t;
    t.line = line_;
    if (i_ >= s_.size()) return t;
    const char c = s_[i_];
    if (c == ',') return ++i_, t.kind = Tok::kComma, t;
    if (c == '{') return ++i_, t.kind = Tok::kOpen, t;
    if (c == '}') return ++i_, t.kind = Tok::kClose, t;
    if (c == '"') return String(t);
    if (c >= '0' && c <= '9') return Number(t);
    if (IsWordChar(c)) {
      t.kind = Tok::kWord;
      while (i_ < s_.size() && IsWordChar(s_[i_])) t.text += s_[i_++];
      return t;
    }
    Fail(line_, std::string("unexpected character '") + c + "'");
  }

 private:
  static bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
  }

  void SkipBlanksAndComments() {
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '\n') {
        ++line_, ++i_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++i_;
      } else if (s_.substr(i_, 2) == "//") {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
      } else if (s_.substr(i_, 2) == "/*") {
        const int start = line_;
        i_ += 2;
        while (i_ < s_.size() && s_.substr(i_, 2) != "*/") line_ += s_[i_++] == '\n';
        if (i_ >= s_.size()) Fail(start, "unterminated comment");
        i_ += 2;
      } else {
        return;
      }
    }
  }

  Token Number(Token& t) {
    t.kind = Tok::kNumber;
    const bool hex = s_.substr(i_, 2) == "0x" || s_.substr(i_, 2) == "0X";
    if (hex) i_ += 2;
    const unsigned base = hex ? 16 : 10;
    std::size_t digits = 0;
    for (; i_ < s_.size(); ++i_, ++digits) {
      const int d = DigitValue(s_[i_]);
      if (d < 0 || static_cast<unsigned>(d) >= base) break;
      t.number = std::min<uint64_t>(t.number * base + static_cast<unsigned>(d), uint64_t{1} << 32);
    }
    while (i_ < s_.size() && (s_[i_] == 'L' || s_[i_] == 'l' || s_[i_] == 'U' || s_[i_] == 'u')) ++i_;
    if ((hex && digits == 0) || (i_ < s_.size() && IsWordChar(s_[i_]))) {
      Fail(line_, "malformed number");
    }
    return t;
  }

  static int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // A quoted string: "" stands for one quote; C escapes as the resource compiler reads them.
  Token String(Token& t) {
    t.kind = Tok::kString;
    ++i_;
    std::u16string value;  // UTF-16, as the string table stores it
    for (;;) {
      if (i_ >= s_.size() || s_[i_] == '\n') Fail(t.line, "unterminated string");
      const char c = s_[i_];
      if (c == '"') {
        if (s_.substr(i_, 2) == "\"\"") {
          value += u'"', i_ += 2;
          continue;
        }
        ++i_;
        break;
      }
      if (c == '\\' && i_ + 1 < s_.size() && s_[i_ + 1] != '\n') {
        value += Escape();
        continue;
      }
      // Copy one UTF-8 character as it stands.
      std::size_t len = 1;
      while (i_ + len < s_.size() && (static_cast<unsigned char>(s_[i_ + len]) & 0xC0) == 0x80) ++len;
      value += text::Utf8ToUtf16(s_.substr(i_, len));
      i_ += len;
    }
    t.text = text::Utf16ToUtf8(value);
    return t;
  }

  char16_t Escape() {
    const char e = s_[i_ + 1];
    i_ += 2;
    switch (e) {
      case 'n': return u'\n';
      case 'r': return u'\r';
      case 't': return u'\t';
      case 'a': return u'\a';
      case '\\': return u'\\';
      case '"': return u'"';
      case 'x': case 'X': {
        char16_t v = 0;
        for (int k = 0; k < 4 && i_ < s_.size() && DigitValue(s_[i_]) >= 0; ++k, ++i_) {
          v = static_cast<char16_t>(v * 16 + DigitValue(s_[i_]));
        }
        return v;
      }
      default:
        if (e >= '0' && e <= '7') {
          auto v = static_cast<char16_t>(e - '0');
          for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k, ++i_) {
            v = static_cast<char16_t>(v * 8 + (s_[i_] - '0'));
          }
          return v;
        }
        i_ -= 1;  // an unknown escape keeps its backslash; the character follows
        return u'\\';
    }
  }

  std::string_view s_;
  const std::string& file_;
  std::size_t i_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  Parser(std::string_view text, const std::string& file) : lex_(text, file) { desc_.file_name = file; }

  PackageDescription Run() {
    Advance();
    while (tok_.kind != Tok::kEnd) Statement();
    return std::move(desc_);
  }

 private:
  void Advance() { tok_ = lex_.Next(); }
  [[noreturn]] void Fail(const std::string& what) { lex_.Fail(tok_.line, what); }
  bool IsWord(const char* w) const { return tok_.kind == Tok::kWord && text::UpperAscii(tok_.text) == w; }

  uint64_t ExpectNumber(const char* what) {
    if (tok_.kind != Tok::kNumber) Fail(std::string("expected ") + what);
    const uint64_t v = tok_.number;
    Advance();
    return v;
  }

  uint16_t Identifier() {
    const int line = tok_.line;
    const uint64_t v = ExpectNumber("a numeric identifier");
    if (v < 1 || v > 65535) lex_.Fail(line, "identifier " + std::to_string(v) + " is outside 1..65535");
    return static_cast<uint16_t>(v);
  }

  uint16_t LanguageStatement() {
    Advance();
    const uint64_t primary = ExpectNumber("a primary language");
    if (tok_.kind == Tok::kComma) Advance();
    const uint64_t sub = ExpectNumber("a sublanguage");
    if (primary > 0x3FF || sub > 0x3F) Fail("language out of range");
    return static_cast<uint16_t>(sub << 10 | primary);
  }

  void Statement() {
    if (IsWord("LANGUAGE")) {
      language_ = LanguageStatement();
    } else if (IsWord("STRINGTABLE")) {
      StringTable();
    } else if (tok_.kind == Tok::kNumber) {
      DataResource();
    } else {
      Fail("unknown statement '" + (tok_.kind == Tok::kWord ? tok_.text : std::string("?")) + "'");
    }
  }

  void StringTable() {
    Advance();
    uint16_t language = language_;
    while (!IsWord("BEGIN") && tok_.kind != Tok::kOpen) {
      if (IsWord("LANGUAGE")) {
        language = LanguageStatement();
      } else if (IsWord("CHARACTERISTICS") || IsWord("VERSION")) {
        Advance();
        ExpectNumber("a number");
      } else {
        Fail("expected BEGIN");
      }
    }
    Advance();
    while (!IsWord("END") && tok_.kind != Tok::kClose) {
      if (tok_.kind == Tok::kEnd) Fail("STRINGTABLE without END");
      StringEntry e;
      e.line = tok_.line;
      e.id = Identifier();
      e.language = language;
      if (tok_.kind == Tok::kComma) Advance();
      if (tok_.kind != Tok::kString) Fail("expected a quoted string");
      e.text = tok_.text;
      Advance();
      CheckDescriptorFileName(e);
      if (!strings_.insert({e.id, e.language}).second) {
        lex_.Fail(e.line, "duplicate string identifier " + std::to_string(e.id));
      }
      desc_.strings.push_back(std::move(e));
    }
    Advance();
  }

  void DataResource() {
    DataEntry e;
    e.line = tok_.line;
    e.id = Identifier();
    e.language = language_;
    if (!IsWord("CUSTOM")) Fail("unknown resource type (only CUSTOM is supported)");
    e.type = "CUSTOM";
    Advance();
    if (tok_.kind != Tok::kString && tok_.kind != Tok::kWord) Fail("expected a file name");
    e.file = tok_.text;
    Advance();
    if (!IsPlainFileName(e.file)) {
      lex_.Fail(e.line, "payload file name '" + e.file + "' must not hold a folder separator or '..'");
    }
    if (!data_.insert({e.type, e.id, e.language}).second) {
      lex_.Fail(e.line, "duplicate CUSTOM identifier " + std::to_string(e.id));
    }
    desc_.data.push_back(std::move(e));
  }

  static bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\") == std::string::npos &&
           name.find("..") == std::string::npos;
  }

  // Strings 101 and up are item descriptors; their first field is a file name.
  void CheckDescriptorFileName(const StringEntry& e) {
    if (e.id < 101) return;
    const std::string name = e.text.substr(0, e.text.find('|'));
    if (name.find_first_of("/\\") != std::string::npos || name.find("..") != std::string::npos) {
      lex_.Fail(e.line, "descriptor file name '" + name + "' must not hold a folder separator or '..'");
    }
  }

  Lexer lex_;
  Token tok_;
  uint16_t language_ = 0;
  PackageDescription desc_;
  std::set<std::pair<uint16_t, uint16_t>> strings_;
  std::set<std::tuple<std::string, uint16_t, uint16_t>> data_;
};

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

PackageDescription ReadPackageDescription(std::string_view text, const std::string& file_name) {
  return Parser(text, file_name).Run();
}

void ResolvePayloads(PackageDescription& desc, const std::string& base_dir,
                     const std::vector<std::string>& include_dirs) {
  for (auto& e : desc.data) {
    std::vector<std::string> dirs{base_dir.empty() ? "." : base_dir};
    dirs.insert(dirs.end(), include_dirs.begin(), include_dirs.end());
    for (const auto& d : dirs) {
      if (IsRegularFile(d + "/" + e.file)) {
        e.path = d + "/" + e.file;
        break;
      }
    }
    if (e.path.empty()) {
      throw PackError(desc.file_name + ":" + std::to_string(e.line) + ": error: payload file '" +
                      e.file + "' not found");
    }
  }
}

}  // namespace ttu::pack
