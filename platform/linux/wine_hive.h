// A registry hive in Wine's text format ("WINE REGISTRY Version 2"), as a
// Wine prefix keeps it in system.reg and user.reg.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ttu::platform {

struct HiveValue {
  std::string folded_name;  // for matching, letter case ignored
  uint32_t type = 0;
  std::vector<uint8_t> data;  // as Windows stores it: strings in UTF-16LE with their NUL
};

struct HiveKey {
  std::vector<HiveValue> values;
  const HiveValue* Find(std::string_view folded_name) const;
};

class Hive {
 public:
  // Parses the text; lines it cannot read are skipped. Text without the
  // format's first line gives an empty hive.
  static Hive Parse(std::string_view text);

  // Key paths are folded names joined by "\", relative to the hive's root ("" is the root).
  const HiveKey* Find(const std::string& folded_path) const;
  bool win64() const { return win64_; }
  std::size_t key_count() const { return keys_.size(); }

 private:
  HiveKey& Insert(const std::string& folded_path);
  std::unordered_map<std::string, HiveKey> keys_;
  bool win64_ = false;
};

// Key and value names compared without regard to letter case, as Windows does.
std::string FoldName(std::string_view utf8);

}  // namespace ttu::platform
