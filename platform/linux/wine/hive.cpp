#include "platform/linux/wine/hive.h"

#include <algorithm>
#include <cstdlib>

#include "support/text.h"

namespace ttu::platform {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::string_view kRelativeTo = ";; All keys relative to ";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an escaped string up to `end` (not included) from s at i; i is left
// after the terminator. False when the terminator is missing.
bool ParseString(std::string_view s, std::size_t& i, char end, std::u16string& out) {
  std::string plain;  // UTF-8 run, converted when an escape or the end comes
  auto flush = [&] {
    out += text::Utf8ToUtf16(plain);
    plain.clear();
  };
  while (i < s.size()) {
    const char c = s[i++];
    if (c == end) return flush(), true;
    if (static_cast<unsigned char>(c) < 0x80 && c != '\\') {  // ASCII goes straight across
      if (!plain.empty()) flush();
      out += static_cast<char16_t>(c);
      continue;
    }
    if (c != '\\' || i >= s.size()) {
      plain += c;
      continue;
    }
    flush();
    const char e = s[i++];
    switch (e) {
      case 'a': out += u'\a'; break;
      case 'b': out += u'\b'; break;
      case 'e': out += u'\x1b'; break;
      case 'f': out += u'\f'; break;
      case 'n': out += u'\n'; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      case 'v': out += u'\v'; break;
      case 'x': {
        unsigned v = 0;
        for (int k = 0; k < 4 && i < s.size() && HexDigit(s[i]) >= 0; ++k) v = v * 16 + HexDigit(s[i++]);
        out += static_cast<char16_t>(v);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned v = static_cast<unsigned>(e - '0');
          for (int k = 0; k < 2 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k) v = v * 8 + (s[i++] - '0');
          out += static_cast<char16_t>(v);
        } else {
          plain += e;  // "\\", "\"" and any other character stand for themselves
        }
    }
  }
  return false;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& s, bool with_nul) {
  std::vector<uint8_t> b;
  b.reserve(2 * s.size() + 2);
  for (char16_t c : s) b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
  if (with_nul) b.push_back(0), b.push_back(0);
  return b;
}

// "xx,xx,..." with continuation already joined; false on anything else.
bool ParseHexBytes(std::string_view s, std::vector<uint8_t>& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    const int hi = HexDigit(s[i]);
    const int lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
    if (hi < 0) return false;
    if (lo < 0) {
      out.push_back(uint8_t(hi)), i += 1;
    } else {
      out.push_back(uint8_t(hi * 16 + lo)), i += 2;
    }
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && s[i] != ',') return false;
    ++i;
  }
  return true;
}

// The data after "=": a string, str(N):, dword:, hex: or hex(N):.
bool ParseData(std::string_view s, HiveValue& v) {
  std::size_t i = 0;
  std::u16string str;
  if (s.substr(0, 1) == "\"") {
    ++i;
    if (!ParseString(s, i, '"', str)) return false;
    v.type = 1;
    v.data = Utf16Bytes(str, true);
    return true;
  }
  if (s.substr(0, 4) == "str(") {
    const auto close = s.find("):\"");
    if (close == std::string_view::npos) return false;
    v.type = static_cast<uint32_t>(std::strtoul(std::string(s.substr(4, close - 4)).c_str(), nullptr, 10));
    i = close + 3;
    if (!ParseString(s, i, '"', str)) return false;
    v.data = Utf16Bytes(str, true);
    return true;
  }
  if (s.substr(0, 6) == "dword:") {
    const auto digits = s.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t d = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return false;
      d = d * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    v.type = 4;
    v.data = {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
    return true;
  }
  if (s.substr(0, 4) == "hex:") {
    v.type = 3;
    return ParseHexBytes(s.substr(4), v.data);
  }
  if (s.substr(0, 4) == "hex(") {
    const auto close = s.find("):");
    if (close == std::string_view::npos || close == 4) return false;
    uint32_t t = 0;
    for (char c : s.substr(4, close - 4)) {
      if (HexDigit(c) < 0) return false;
      t = t * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    v.type = t;
    return ParseHexBytes(s.substr(close + 2), v.data);
  }
  return false;
}

std::string FoldedPath(const std::u16string& key_name) {
  std::string path;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= key_name.size(); ++i) {
    if (i < key_name.size() && key_name[i] != u'\\') continue;
    if (i > start) {
      if (!path.empty()) path += '\\';
      path += FoldName(text::Utf16ToUtf8(key_name.substr(start, i - start)));
    }
    start = i + 1;
  }
  return path;
}

// The folded path of a key line's name ("[A\\\\B] 123") that is plain ASCII,
// its levels separated by "\\\\" and nothing else escaped, as nearly every
// key name is; nothing for any other, which takes the general way.
std::optional<std::string> PlainKeyPath(std::string_view line) {
  std::string path;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ']') return path.empty() || path.back() == '\\' ? std::nullopt : std::optional(FoldName(path));
    if (c == '\\') {
      if (i + 1 >= line.size() || line[i + 1] != '\\' || path.empty() || path.back() == '\\') return std::nullopt;
      path += '\\';
      ++i;
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80) {
      return std::nullopt;
    } else {
      path += c;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string FoldName(std::string_view utf8) { return text::FoldCase(utf8); }

namespace {

// A logical line: a line that ends with "\\" goes on, after the next line's
// leading blanks; line ends may be "\r\n".
std::string JoinLines(std::string_view raw) {
  std::string joined;
  while (!raw.empty()) {
    const std::size_t eol = std::min(raw.find('\n'), raw.size());
    std::string_view line = raw.substr(0, eol);
    raw.remove_prefix(std::min(eol + 1, raw.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!joined.empty()) {
      const auto first = line.find_first_not_of(" \t");
      line.remove_prefix(first == std::string_view::npos ? line.size() : first);
    }
    if (!raw.empty() && !line.empty() && line.back() == '\\') line.remove_suffix(1);
    joined.append(line);
  }
  return joined;
}

// One value line ("name"=data, or @=data for the default value); false for
// one that cannot be read, which is skipped.
bool ParseValue(std::string_view line, HiveValue& v) {
  std::size_t i = 1;
  std::u16string name;
  const bool named = line[0] == '"';
  if ((named && !ParseString(line, i, '"', name)) || i >= line.size() || line[i] != '=' ||
      !ParseData(line.substr(i + 1), v)) {
    return false;
  }
  v.folded_name = FoldName(text::Utf16ToUtf8(name));
  return true;
}

}  // namespace

const HiveValue* HiveKey::Find(std::string_view folded_name) const {
  if (!parsed_) {
    parsed_ = true;
    for (const auto raw : lines_) {
      HiveValue v;
      if (!ParseValue(JoinLines(raw), v)) continue;
      auto same = std::find_if(values_.begin(), values_.end(), [&](const auto& o) { return o.folded_name == v.folded_name; });
      if (same != values_.end()) {
        *same = std::move(v);  // a name given twice: the later one holds
      } else {
        values_.push_back(std::move(v));
      }
    }
  }
  for (const auto& v : values_) {
    if (v.folded_name == folded_name) return &v;
  }
  return nullptr;
}

const HiveKey* Hive::Find(const std::string& folded_path) const {
  auto it = keys_.find(folded_path);
  return it == keys_.end() ? nullptr : &it->second;
}

std::optional<LinkTarget> Hive::Link(const std::string& folded_path) const {
  const HiveKey* key = Find(folded_path);
  const HiveValue* v = key && key->link ? key->Find(FoldName("SymbolicLinkValue")) : nullptr;
  if (!v || v->type != 6) return std::nullopt;
  std::u16string target(v->data.size() / 2, u'\0');
  for (std::size_t k = 0; k < target.size(); ++k) target[k] = static_cast<char16_t>(v->data[2 * k] | v->data[2 * k + 1] << 8);
  // "\Registry\Machine\..." or "\Registry\User\<SID>\...".
  std::string path = FoldedPath(target);
  LinkTarget t;
  if (path == "REGISTRY\\MACHINE" || path.rfind("REGISTRY\\MACHINE\\", 0) == 0) {
    path.erase(0, std::min(path.size(), std::string("REGISTRY\\MACHINE\\").size()));
  } else if (path.rfind("REGISTRY\\USER\\", 0) == 0) {
    const std::size_t user = std::string("REGISTRY\\USER\\").size();
    const auto sid_end = path.find('\\', user);
    t.user = path.substr(user, sid_end == std::string::npos ? std::string::npos : sid_end - user);
    path.erase(0, sid_end == std::string::npos ? path.size() : sid_end + 1);
    t.machine = false;
  } else {
    return std::nullopt;
  }
  t.folded_path = path;
  return t;
}


HiveKey& Hive::Insert(const std::string& folded_path) {
  // Every ancestor exists too, listed or not; a key's parent is there once
  // any key below it is.
  const auto it = keys_.find(folded_path);
  if (it != keys_.end()) return it->second;
  const std::size_t up = folded_path.rfind('\\');
  Insert(up == std::string::npos ? std::string() : folded_path.substr(0, up));
  return keys_[folded_path];
}

Hive Hive::Parse(std::string_view original) {
  Hive h;
  h.keys_.try_emplace("");
  if (original.substr(0, kHeader.size()) != kHeader) return h;
  h.text_ = std::make_unique<const std::string>(original);
  const std::string_view text = *h.text_;
  HiveKey* key = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    std::size_t eol = std::min(text.find('\n', pos), text.size());
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && (line[0] == '"' || line[0] == '@')) {
      // A value, kept as text until it is looked for; its hex data may go
      // on, on the lines that follow.
      while (!line.empty() && line.back() == '\\' && pos < text.size()) {
        eol = std::min(text.find('\n', pos), text.size());
        line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      }
      if (key) key->lines_.push_back(text.substr(start, std::min(eol, text.size()) - start));
    } else if (line.substr(0, 11) == "#arch=win64") {
      h.win64_ = true;
    } else if (line.substr(0, kRelativeTo.size()) == kRelativeTo) {
      std::size_t i = kRelativeTo.size();
      std::u16string name;
      if (ParseString(std::string(line) + '\n', i, '\n', name)) h.relative_to_ = FoldedPath(name);
    } else if (key && line == "#link") {
      key->link = true;
    } else if (!line.empty() && line[0] == '[') {
      if (auto plain = PlainKeyPath(line)) {
        key = &h.Insert(*plain);
        continue;
      }
      std::size_t i = 1;
      std::u16string name;
      key = ParseString(line, i, ']', name) ? &h.Insert(FoldedPath(name)) : nullptr;
    }
  }
  return h;
}

}  // namespace ttu::platform
