#include "tools/pack/package_description.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "support/code_page.h"
#include "support/text.h"
#include "tools/pack/rc_lexer.h"

namespace ttu::pack {
namespace {

constexpr std::size_t kMaxStringUnits = 65535;  // a string-table length is 16 bits

// Resource types that the resource compiler knows by name; none belongs in a package.
const std::set<std::string> kPredefinedTypes = {
    "ACCELERATORS", "ANICURSOR", "ANIICON", "BITMAP", "CURSOR", "DIALOG", "DIALOGEX",
    "DLGINCLUDE", "DLGINIT", "FONT", "FONTDIR", "HTML", "ICON", "MANIFEST", "MENU",
    "MENUEX", "MESSAGETABLE", "PLUGPLAY", "RCDATA", "TOOLBAR", "VERSIONINFO", "VXD"};
const std::set<std::string> kKeywords = {"BEGIN", "CHARACTERISTICS", "END", "LANGUAGE", "STRINGTABLE", "VERSION"};
// Memory flags: accepted and meaningless on the platforms the updater runs on.
const std::set<std::string> kMemoryFlags = {"DISCARDABLE", "FIXED", "IMPURE", "LOADONCALL",
                                            "MOVEABLE", "PRELOAD", "PURE", "SHARED", "NONSHARED"};

class Parser {
  static constexpr int kMaxNesting = 256;

 public:
  Parser(std::string_view text, const std::string& file) : lex_(text, file) { desc_.file_name = file; }

  PackageDescription Run() {
    Advance();
    while (tok_.kind != Tok::kEnd) Statement();
    if (desc_.strings.empty() && desc_.data.empty()) Fail("the script holds no resources");
    return std::move(desc_);
  }

 private:
  void Advance() { tok_ = lex_.Next(); }
  [[noreturn]] void Fail(const std::string& what) const { FailAt(tok_, what); }
  // A keyword in the wrong letter case is the likelier cause of any failure on it.
  [[noreturn]] void FailAt(const Token& at, const std::string& what) const {
    if (IsMisspelledKeyword(at)) {
      lex_.Fail(at.file, at.line, "'" + at.text + "' must be written '" + text::UpperAscii(at.text) +
                                      "': the resource compiler reads keywords in capitals only");
    }
    lex_.Fail(at.file, at.line, what);
  }
  static bool IsMisspelledKeyword(const Token& t) {
    const std::string upper = text::UpperAscii(t.text);
    return t.kind == Tok::kWord && upper != t.text && (kKeywords.count(upper) || kMemoryFlags.count(upper));
  }
  // Keywords are read in capitals only, as the resource compiler reads them.
  bool IsWord(const char* w) const { return tok_.kind == Tok::kWord && tok_.text == w; }
  bool IsPunct(char c) const { return tok_.kind == Tok::kPunct && tok_.text[0] == c; }
  std::string Describe() const {
    switch (tok_.kind) {
      case Tok::kEnd: return "the end of the file";
      case Tok::kString: return "a string";
      default: return "'" + tok_.text + "'";
    }
  }

  // --- numeric expressions, with the resource compiler's operators -----------
  int64_t Expression() { return Binary(0); }

  int64_t Binary(int level) {
    static constexpr const char* kLevels[] = {"|", "^", "&", "+-", "*/%"};
    if (level == 5) return Unary();
    int64_t v = Binary(level + 1);
    while (tok_.kind == Tok::kPunct && std::string_view(kLevels[level]).find(tok_.text[0]) != std::string_view::npos) {
      const char op = tok_.text[0];
      Advance();
      const int64_t r = Binary(level + 1);
      if ((op == '/' || op == '%') && r == 0) Fail("division by zero");
      v = Apply(op, v, r);
    }
    return v;
  }

  static int64_t Apply(char op, int64_t a, int64_t b) {
    // 32-bit arithmetic, as the resource compiler's; the result stays signed.
    const auto x = static_cast<uint32_t>(a), y = static_cast<uint32_t>(b);
    uint32_t r = 0;
    switch (op) {
      case '|': r = x | y; break;
      case '^': r = x ^ y; break;
      case '&': r = x & y; break;
      case '+': r = x + y; break;
      case '-': r = x - y; break;
      case '*': r = x * y; break;
      case '/': r = x / y; break;
      default: r = x % y; break;
    }
    return static_cast<int32_t>(r);
  }

  // Signs are taken in a loop, parentheses by recursion with a bound, so that
  // no script can exhaust the stack.
  int64_t Unary() {
    std::string signs;
    while (IsPunct('-') || IsPunct('~')) {
      signs += tok_.text[0];
      Advance();
    }
    auto v = static_cast<uint32_t>(Operand());
    for (auto op = signs.rbegin(); op != signs.rend(); ++op) v = *op == '-' ? 0u - v : ~v;
    return static_cast<int32_t>(v);
  }

  int64_t Operand() {
    if (IsPunct('(')) {
      if (++nesting_ > kMaxNesting) Fail("parentheses nested more than " + std::to_string(kMaxNesting) + " deep");
      Advance();
      const int64_t v = Expression();
      if (!IsPunct(')')) Fail("expected ')' instead of " + Describe());
      Advance();
      --nesting_;
      return v;
    }
    if (tok_.kind == Tok::kNumber) {
      const int64_t v = static_cast<uint32_t>(tok_.number);
      Advance();
      return v;
    }
    if (tok_.kind == Tok::kWord) {
      Fail("'" + tok_.text + "' is not a number (a name for a number needs a #define)");
    }
    Fail("expected a number instead of " + Describe());
  }

  uint16_t Identifier(const char* what) {
    const Token at = tok_;
    const int64_t v = Expression();
    if (v < 0 || v > 65535) {
      FailAt(at, std::string(what) + " identifier " + std::to_string(v) + " is outside 0..65535");
    }
    return static_cast<uint16_t>(v);
  }

  // --- statements --------------------------------------------------------------
  uint16_t LanguageArguments() {
    const Token at = tok_;
    Advance();
    const int64_t primary = Expression();
    if (!IsPunct(',')) Fail("expected ',' and a sublanguage after the language");
    Advance();
    const int64_t sub = Expression();
    if (primary < 0 || primary > 0x3FF || sub < 0 || sub > 0x3F) {
      FailAt(at, "language " + std::to_string(primary) + ", " + std::to_string(sub) +
           " is out of range (primary 0..0x3FF, sublanguage 0..0x3F)");
    }
    return static_cast<uint16_t>(sub << 10 | primary);
  }

  // LANGUAGE, CHARACTERISTICS, VERSION and memory flags, before a resource's body.
  bool ResourceOption(uint16_t& language) {
    if (IsWord("LANGUAGE")) {
      language = LanguageArguments();
    } else if (IsWord("CHARACTERISTICS") || IsWord("VERSION")) {
      Advance();
      Expression();
    } else if (tok_.kind == Tok::kWord && kMemoryFlags.count(tok_.text)) {
      Advance();
    } else {
      return false;
    }
    return true;
  }

  void Statement() {
    if (IsWord("LANGUAGE")) {
      language_ = LanguageArguments();
    } else if (IsWord("STRINGTABLE")) {
      StringTable();
    } else if (tok_.kind == Tok::kNumber || IsPunct('(') || IsPunct('-') || IsPunct('~')) {
      Resource();
    } else if (tok_.kind == Tok::kWord) {
      const Token name = tok_;
      Advance();
      if (tok_.kind == Tok::kWord || tok_.kind == Tok::kNumber) {
        FailAt(name, "resource name '" + name.text +
                         "' is not a number: the updater finds resources by number (a name for a "
                         "number needs a #define)");
      }
      FailAt(name, "unknown statement '" + name.text + "'");
    } else {
      Fail("unknown statement: " + Describe());
    }
  }

  void StringTable() {
    const Token at = tok_;
    Advance();
    uint16_t language = language_;
    while (ResourceOption(language)) {
    }
    if (!IsWord("BEGIN") && !IsPunct('{')) Fail("expected BEGIN or '{' instead of " + Describe());
    Advance();
    while (!IsWord("END") && !IsPunct('}')) {
      if (tok_.kind == Tok::kEnd) FailAt(at, "STRINGTABLE without END");
      StringEntry e;
      e.file = tok_.file;
      e.line = tok_.line;
      e.id = Identifier("string");
      e.language = language;
      if (IsPunct(',')) Advance();
      e.text = StringValue(std::to_string(e.id));
      CheckDescriptorFileName(e);
      const auto [it, fresh] = strings_.insert({{e.id, e.language}, e.line});
      if (!fresh) {
        lex_.Fail(e.file, e.line, "duplicate string identifier " + std::to_string(e.id) +
                                      " (first on line " + std::to_string(it->second) + ")");
      }
      desc_.strings.push_back(std::move(e));
    }
    Advance();
  }

  // Adjacent strings join: narrow ones as bytes, decoded together in the code
  // page in force; a wide one keeps its UTF-16 units.
  std::u16string StringValue(const std::string& id) {
    if (tok_.kind != Tok::kString) Fail("expected a quoted string for string " + id + " instead of " + Describe());
    const Token first = tok_;
    std::vector<Token> pieces;
    bool any_wide = false;
    for (; tok_.kind == Tok::kString; Advance()) {
      if (tok_.raw_non_ascii) {
        Fail("a wide string L\"...\" holds non-ASCII text, which the resource compiler garbles: "
             "write it as a narrow string \"...\" or with \\x escapes");
      }
      any_wide |= tok_.wide;
      if (!pieces.empty() && !tok_.wide && !pieces.back().wide && !any_wide) {
        pieces.back().bytes += tok_.bytes;  // narrow strings join before decoding
        if (pieces.back().high_escape.empty()) pieces.back().high_escape = tok_.high_escape;
      } else {
        pieces.push_back(tok_);
      }
    }
    std::u16string out;
    for (const auto& p : pieces) {
      if (p.wide) {
        out += p.units;
        continue;
      }
      const auto decoded = text::DecodeCodePage(p.bytes, p.code_page);
      if (!decoded && !p.high_escape.empty()) {
        FailAt(p, "string " + id + ": the escape " + p.high_escape +
                      (p.code_page == 65001 ? " gives a byte that is not UTF-8 text"
                                            : " gives a byte that has no character in code page 1252") +
                      ": write the character itself, or its code in a wide string (L\"\\x00..\")");
      }
      if (!decoded) {
        FailAt(p, p.code_page == 65001
                      ? "string " + id + " is not valid UTF-8 (the script is read as UTF-8: save it as UTF-8, "
                                         "or declare its code page with #pragma code_page(1252))"
                      : "string " + id + " holds a byte that has no character in code page 1252");
      }
      out += *decoded;
    }
    if (out.size() > kMaxStringUnits) {
      FailAt(first, "string " + id + " is " + std::to_string(out.size()) +
                        " UTF-16 units long; a string table holds at most 65535");
    }
    return out;
  }

  void Resource() {
    DataEntry e;
    e.source = tok_.file;
    e.line = tok_.line;
    e.id = Identifier("resource");
    e.language = language_;
    // The type is a name of the script's own, which the resource compiler upper-cases.
    if (tok_.kind != Tok::kWord || text::UpperAscii(tok_.text) != "CUSTOM") {
      const std::string type = tok_.kind == Tok::kWord ? text::UpperAscii(tok_.text) : "";
      if (kPredefinedTypes.count(type)) {
        Fail("resource type " + type + " cannot be packed: a package holds a STRINGTABLE and CUSTOM data");
      }
      Fail("resource type " + Describe() + " cannot be packed: the updater reads CUSTOM data only");
    }
    e.type = "CUSTOM";
    Advance();
    while (ResourceOption(e.language)) {
    }
    if (IsWord("BEGIN") || IsPunct('{')) Fail("inline data cannot be packed: name the payload's file");
    e.file = FileName();
    const auto [it, fresh] = data_.insert({{e.type, e.id, e.language}, e.line});
    if (!fresh) {
      lex_.Fail(e.source, e.line, "duplicate CUSTOM identifier " + std::to_string(e.id) + " (first on line " +
                                      std::to_string(it->second) + ")");
    }
    desc_.data.push_back(std::move(e));
  }

  // A payload's file name, quoted (with escapes) or bare; "\" separates folders too.
  std::string FileName() {
    std::string name;
    const Token at = tok_;
    if (tok_.kind == Tok::kString) {
      name = text::Utf16ToUtf8(StringValue("file name"));
    } else if (tok_.kind == Tok::kWord) {
      if (IsMisspelledKeyword(tok_)) FailAt(tok_, "");
      name = tok_.text;
      Advance();
    } else {
      Fail("expected the payload's file name instead of " + Describe());
    }
    for (char& c : name) c = c == '\\' ? '/' : c;
    if (name.empty()) FailAt(at, "empty payload file name");
    return name;
  }

  // Strings 101 and up are item descriptors; their first field is a file name
  // that the updater writes into the target folder, so it may hold no folder.
  void CheckDescriptorFileName(const StringEntry& e) const {
    if (e.id < 101) return;
    const std::string text = text::Utf16ToUtf8(e.text);
    const std::string name = text.substr(0, text.find('|'));
    if (name.find_first_of("/\\") != std::string::npos || name.find("..") != std::string::npos) {
      lex_.Fail(e.file, e.line, "descriptor file name '" + name + "' must not hold a folder separator or '..'");
    }
  }

  Lexer lex_;
  Token tok_;
  int nesting_ = 0;  // open parentheses
  uint16_t language_ = kDefaultLanguage;
  PackageDescription desc_;
  std::map<std::pair<uint16_t, uint16_t>, int> strings_;  // -> first line
  std::map<std::tuple<std::string, uint16_t, uint16_t>, int> data_;
};

int LineOf(std::string_view text, std::size_t pos) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
}

}  // namespace

void CheckScriptEncoding(std::string_view text, const std::string& file_name) {
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    throw PackError(file_name + ":1: error: the script is saved as UTF-16: save it as UTF-8");
  }
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
    throw PackError(file_name + ":" + std::to_string(LineOf(text, nul)) +
                    ": error: the script holds a NUL byte: save it as UTF-8 text");
  }
}

bool NeedsPreprocessor(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    const auto first = line.find_first_not_of(" \t\f\v");
    if (first == std::string_view::npos || line[first] != '#') continue;
    line.remove_prefix(first + 1);
    line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
    if (line.substr(0, 6) != "pragma") return true;
  }
  return false;
}

PackageDescription ReadPackageDescription(std::string_view text, const std::string& file_name) {
  CheckScriptEncoding(text, file_name);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  return Parser(text, file_name).Run();
}

void ResolvePayloads(PackageDescription& desc, const std::string& base_dir,
                     const std::vector<std::string>& include_dirs) {
  for (auto& e : desc.data) {
    std::vector<std::string> candidates;
    if (!e.file.empty() && e.file[0] == '/') {
      candidates.push_back(e.file);
    } else {
      candidates.push_back((base_dir.empty() ? "." : base_dir) + "/" + e.file);
      for (const auto& d : include_dirs) candidates.push_back(d + "/" + e.file);
    }
    std::string other;  // what stands where a payload was looked for
    for (const auto& c : candidates) {
      struct stat st {};
      if (::stat(c.c_str(), &st) != 0) continue;
      if (!S_ISREG(st.st_mode)) {  // a folder, a FIFO, a device: nothing to copy
        other = S_ISDIR(st.st_mode) ? "' is a folder, not a file" : "' is not a regular file";
        continue;
      }
      e.path = c;
      break;
    }
    if (e.path.empty()) {
      const std::string why = other.empty() ? "' not found" : other;
      std::string looked;
      for (const auto& c : candidates) looked += (looked.empty() ? "" : ", ") + c;
      throw PackError(e.source + ":" + std::to_string(e.line) + ": error: payload file '" + e.file + why +
                      " (looked for " + looked + ")");
    }
  }
}

}  // namespace ttu::pack
