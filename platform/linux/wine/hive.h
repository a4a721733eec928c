// A registry hive in Wine's text format ("WINE REGISTRY Version 2"), as a
// Wine prefix keeps it in system.reg and user.reg.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ttu::platform {

// Real hives are a few MiB; a file past this is not read (as no hive).
inline constexpr long long kMaxHiveFile = 64LL << 20;

struct HiveValue {
  std::string folded_name;  // for matching, letter case ignored
  uint32_t type = 0;
  std::vector<uint8_t> data;  // as Windows stores it: strings in UTF-16LE with their NUL
};

class HiveKey {
 public:
  bool link = false;  // "#link": the key stands for the key its SymbolicLinkValue names
  // Its values are read from the file's text when one is first looked for:
  // a lookup needs a handful of the hive's tens of thousands.
  const HiveValue* Find(std::string_view folded_name) const;

 private:
  friend class Hive;
  std::vector<std::string_view> lines_;  // its value lines, continuation lines included
  mutable std::vector<HiveValue> values_;
  mutable bool parsed_ = false;
};

// Where a link key leads: a key of the machine's hive or of the user's.
struct LinkTarget {
  bool machine = true;
  std::string user;  // the user's key under HKEY_USERS (".DEFAULT", a SID), folded
  std::string folded_path;
};

class Hive {
 public:
  Hive() = default;
  Hive(Hive&&) = default;
  Hive& operator=(Hive&&) = default;
  // Parses the text; lines it cannot read are skipped. Text without the
  // format's first line gives an empty hive.
  static Hive Parse(std::string_view text);

  // Key paths are folded names joined by "\", relative to the hive's root ("" is the root).
  const HiveKey* Find(const std::string& folded_path) const;
  bool win64() const { return win64_; }
  // Where the hive's keys sit in the whole registry, from its header line
  // (";; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000"), folded.
  const std::string& relative_to() const { return relative_to_; }
  // The target of a link key; nothing for another key, or a link that names
  // no key of the machine or of a user.
  std::optional<LinkTarget> Link(const std::string& folded_path) const;
  std::size_t key_count() const { return keys_.size(); }

 private:
  HiveKey& Insert(const std::string& folded_path);
  std::unique_ptr<const std::string> text_;  // what the keys' value lines point into
  std::unordered_map<std::string, HiveKey> keys_;
  bool win64_ = false;
  std::string relative_to_;
};

// Key and value names compared without regard to letter case, as Windows does.
std::string FoldName(std::string_view utf8);

}  // namespace ttu::platform
