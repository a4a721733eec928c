#include "platform/linux/wine/config_readers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <yaml.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/linux/posix/fd.h"
#include "support/text.h"

namespace ttu::platform {

// A YAML document, loaded whole (settings files are small) and freed on exit.
class YamlSettings::Document {
 public:
  explicit Document(std::string_view text) {
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser)) return;
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    loaded_ = yaml_parser_load(&parser, &doc_) != 0;
    yaml_parser_delete(&parser);
  }
  ~Document() {
    if (loaded_) yaml_document_delete(&doc_);
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  yaml_node_t* Root() { return loaded_ ? yaml_document_get_root_node(&doc_) : nullptr; }
  yaml_node_t* Child(yaml_node_t* map, std::string_view key) {
    if (!map || map->type != YAML_MAPPING_NODE) return nullptr;
    for (auto* pair = map->data.mapping.pairs.start; pair < map->data.mapping.pairs.top; ++pair) {
      if (Scalar(yaml_document_get_node(&doc_, pair->key)) == key) return yaml_document_get_node(&doc_, pair->value);
    }
    return nullptr;
  }
  static std::optional<std::string> Scalar(yaml_node_t* node) {
    if (!node || node->type != YAML_SCALAR_NODE) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(node->data.scalar.value), node->data.scalar.length);
  }

 private:
  yaml_document_t doc_{};
  bool loaded_ = false;
};

class JsonSettings::Document {
 public:
  explicit Document(std::string_view text)
      // Settings nest a few levels: deeper parts are dropped as they are
      // read, so no file builds a tree that takes the stack to take apart.
      : json(nlohmann::json::parse(
            text.begin(), text.end(),
            [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) { return depth <= 16; }, false)) {}
  const nlohmann::json json;
};

namespace {

// KeyValues tokens: quoted strings (with \" and \\), bare words, braces;
// "//" starts a comment.
class KeyValuesLexer {
 public:
  explicit KeyValuesLexer(std::string_view text) : text_(text) {}
  enum Kind { kEnd, kString, kOpen, kClose };
  Kind Next(std::string& out) {
    for (;;) {
      while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (text_.compare(pos_, 2, "//") != 0) break;
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    }
    if (pos_ >= text_.size()) return kEnd;
    const char c = text_[pos_++];
    if (c == '{') return kOpen;
    if (c == '}') return kClose;
    out.clear();
    if (c != '"') {
      out += c;
      while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
             text_[pos_] != '{' && text_[pos_] != '}' && text_[pos_] != '"')
        out += text_[pos_++];
      return kString;
    }
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
      out += text_[pos_++];
    }
    if (pos_ < text_.size()) ++pos_;  // the closing quote, when there is one
    return kString;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The YAML reader's time grows with the square of the nesting of [ ] and { };
// settings nest a few levels. Counted over the whole text, quotes or not:
// the deepest it could be.
constexpr int kMaxFlowDepth = 64;

int DeepestFlow(std::string_view text) {
  int depth = 0, deepest = 0;
  for (const char c : text) {
    if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
    if ((c == ']' || c == '}') && depth > 0) --depth;
  }
  return deepest;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> ReadSettingsFile(const std::string& path, long long max_size) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > max_size) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  if (!ReadFully(fd.get(), text.data(), text.size(), 0)) return std::nullopt;
  return text;
}

YamlSettings::YamlSettings(std::string_view text) {
  if (DeepestFlow(text) <= kMaxFlowDepth) doc_ = std::make_unique<Document>(text);
}
YamlSettings::~YamlSettings() = default;

std::optional<std::string> YamlSettings::Scalar(std::initializer_list<std::string_view> keys) const {
  if (!doc_) return std::nullopt;
  yaml_node_t* node = doc_->Root();
  for (const auto key : keys) node = doc_->Child(node, key);
  return Document::Scalar(node);
}

std::optional<std::string> YamlScalar(std::string_view text, std::initializer_list<std::string_view> keys) {
  return YamlSettings(text).Scalar(keys);
}

JsonSettings::JsonSettings(std::string_view text) : doc_(std::make_unique<Document>(text)) {}
JsonSettings::~JsonSettings() = default;

std::optional<std::string> JsonString(std::string_view text, std::initializer_list<std::string_view> keys) {
  return JsonSettings(text).String(keys);
}

std::optional<std::string> JsonSettings::String(std::initializer_list<std::string_view> keys) const {
  const nlohmann::json* node = &doc_->json;
  for (const auto key : keys) {
    if (!node->is_object()) return std::nullopt;
    const nlohmann::json* next = nullptr;
    for (const auto& [name, value] : node->items()) {
      if (key == "*" ? value.is_object() : name == key) {
        next = &value;
        break;
      }
    }
    if (!next) return std::nullopt;
    node = next;
  }
  if (!node->is_string()) return std::nullopt;
  return node->get<std::string>();
}

std::vector<std::string> KeyValuesStrings(std::string_view text, std::string_view key) {
  std::vector<std::string> found;
  KeyValuesLexer lexer(text);
  std::string name, value;
  const std::string wanted = text::FoldCase(key);
  for (auto kind = lexer.Next(name); kind != KeyValuesLexer::kEnd; kind = lexer.Next(name)) {
    if (kind != KeyValuesLexer::kString) continue;
    const auto after = lexer.Next(value);
    if (after == KeyValuesLexer::kString && text::FoldCase(name) == wanted) found.push_back(value);
    if (after == KeyValuesLexer::kEnd) break;
  }
  return found;
}

std::optional<std::string> LineSetting(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || Trim(line.substr(0, eq)) != key) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace ttu::platform
