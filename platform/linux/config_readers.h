// The settings files that Wine prefix managers write, read as far as finding
// a prefix and its Wine needs: YAML, JSON, Valve's KeyValues text and
// KEY=value lines. Unreadable or malformed files read as empty.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ttu::platform {

// The whole regular file, up to a size no settings file reaches; nothing when
// it cannot be read or is larger.
std::optional<std::string> ReadSettingsFile(const std::string& path, long long max_size = 4 << 20);

// The scalar at a path of mapping keys ("game", "prefix") in a YAML document.
std::optional<std::string> YamlScalar(std::string_view text, std::initializer_list<std::string_view> keys);

// The string at a path of object keys in a JSON document; the key "*" stands
// for the first member whose value is an object (a per-game file keeps its
// settings under the game's id).
std::optional<std::string> JsonString(std::string_view text, std::initializer_list<std::string_view> keys);

// Every value, at any depth, of the key `key` (letter case ignored) in a
// KeyValues text ("key" "value" pairs and "key" { ... } blocks).
std::vector<std::string> KeyValuesStrings(std::string_view text, std::string_view key);

// The value of KEY in KEY=value lines (quotes around it removed).
std::optional<std::string> LineSetting(std::string_view text, std::string_view key);

}  // namespace ttu::platform
