// Reads registry values as the updater's registry module does: a path opened
// level by level with RegOpenKeyExA, then RegQueryValueExA, names converted to
// the ANSI code page first. The same code runs in a Windows probe program
// (reg-probe.exe) and, on Linux, over the Wine-prefix registry, so that their
// answers can be compared byte for byte.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace ttu::test {

// One line per case: "PATH<TAB>VALUE" (UTF-8; PATH begins with a root name),
// or "PATH<TAB>VALUE<TAB>whole" to open the path below the root in one call
// (a root alone with the empty name).
// The answer: "status type size hex-bytes", or "open N" when level N fails.
inline std::string ProbeRegistry(platform::RegistryApi& api, const std::string& path, const std::string& value,
                                 bool whole = false) {
  using namespace platform;
  std::vector<std::string> levels;
  for (std::size_t start = 0;;) {
    const auto end = path.find('\\', start);
    levels.push_back(path.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  static const std::pair<const char*, HKEY32> kRoots[] = {
      {"HKEY_CLASSES_ROOT", kHkeyClassesRoot},   {"HKEY_CURRENT_USER", kHkeyCurrentUser},
      {"HKEY_LOCAL_MACHINE", kHkeyLocalMachine}, {"HKEY_USERS", kHkeyUsers},
      {"HKEY_PERFORMANCE_DATA", kHkeyPerformanceData}, {"HKEY_CURRENT_CONFIG", kHkeyCurrentConfig},
      {"HKEY_DYN_DATA", kHkeyDynData}};
  HKEY32 key = kHkeyClassesRoot;
  for (const auto& [name, root] : kRoots) {
    if (levels[0] == name) key = root;
  }
  if (whole) {  // the root alone: opened with the empty sub-key name, as the registry module opens it
    const auto sep = path.find('\\');
    levels = {levels[0], sep == std::string::npos ? std::string() : path.substr(sep + 1)};
  }
  std::vector<HKEY32> opened;
  std::string answer;
  for (std::size_t k = 1; k < levels.size() && answer.empty(); ++k) {
    HKEY32 next = 0;
    const int32_t code = api.RegOpenKeyExA(key, Utf8ToAnsi(levels[k]), 0, kKeyRead, &next);
    if (code != kErrorSuccess) {
      answer = "open " + std::to_string(k) + " " + std::to_string(code);
    } else {
      opened.push_back(key = next);
    }
  }
  if (answer.empty()) {
    uint32_t type = 0, size = 0;
    const std::string name = Utf8ToAnsi(value);
    int32_t code = api.RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    std::vector<uint8_t> data(size + 16);
    if (code == kErrorSuccess || code == kErrorMoreData) {
      size = static_cast<uint32_t>(data.size());
      code = api.RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    }
    char head[64];
    std::snprintf(head, sizeof head, "query %d type %u size %u ", static_cast<int>(code), type, size);
    answer = head;
    for (uint32_t k = 0; code == kErrorSuccess && k < size; ++k) {
      std::snprintf(head, sizeof head, "%02x", data[k]);
      answer += head;
    }
  }
  for (HKEY32 h : opened) api.RegCloseKey(h);
  return answer;
}

}  // namespace ttu::test
