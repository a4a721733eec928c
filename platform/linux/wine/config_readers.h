// The settings files that Wine prefix managers write, read as far as finding
// a prefix and its Wine needs: YAML, JSON, Valve's KeyValues text and
// KEY=value lines. Unreadable or malformed files read as empty.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ttu::platform {

// Settings files are a few KiB; a larger one is not read.
inline constexpr long long kMaxSettingsFile = 1 << 20;

// The whole regular file, up to a size no settings file reaches; nothing when
// it cannot be read, is larger or is no regular file (opened without
// blocking: a FIFO or a device never stops the caller).
std::optional<std::string> ReadSettingsFile(const std::string& path, long long max_size = kMaxSettingsFile);

// A YAML document, parsed once, asked for the scalars at paths of mapping
// keys ("game", "prefix").
class YamlSettings {
 public:
  explicit YamlSettings(std::string_view text);
  ~YamlSettings();
  YamlSettings(const YamlSettings&) = delete;
  YamlSettings& operator=(const YamlSettings&) = delete;
  std::optional<std::string> Scalar(std::initializer_list<std::string_view> keys) const;

 private:
  class Document;
  std::unique_ptr<Document> doc_;
};

// A JSON document, parsed once, asked for the strings at paths of object
// keys; the key "*" stands for the first member whose value is an object (a
// per-game file keeps its settings under the game's id).
class JsonSettings {
 public:
  explicit JsonSettings(std::string_view text);
  ~JsonSettings();
  JsonSettings(const JsonSettings&) = delete;
  JsonSettings& operator=(const JsonSettings&) = delete;
  std::optional<std::string> String(std::initializer_list<std::string_view> keys) const;

 private:
  class Document;
  std::unique_ptr<Document> doc_;
};

// One value of a document read for it alone.
std::optional<std::string> YamlScalar(std::string_view text, std::initializer_list<std::string_view> keys);
std::optional<std::string> JsonString(std::string_view text, std::initializer_list<std::string_view> keys);

// Every value, at any depth, of the key `key` (letter case ignored) in a
// KeyValues text ("key" "value" pairs and "key" { ... } blocks).
std::vector<std::string> KeyValuesStrings(std::string_view text, std::string_view key);

// The value of KEY in KEY=value lines (quotes around it removed).
std::optional<std::string> LineSetting(std::string_view text, std::string_view key);

}  // namespace ttu::platform
