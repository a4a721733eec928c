// A registry over hive text written by the test, with failures injected on demand.
#pragma once

#include <deque>
#include <map>
#include <string>

#include "platform/linux/wine/registry.h"
#include "tests/test_util.h"

namespace ttu::test {

// A Wine prefix in a temporary folder.
class TempPrefix {
 public:
  void WriteSystem(const std::string& body, bool win64 = false) {
    WriteFile(dir_ / "system.reg", Header("Machine", win64) + body);
  }
  void WriteUser(const std::string& body) { WriteFile(dir_ / "user.reg", Header("User\\\\S-1-5-21-0-0-0-1000", false) + body); }
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& n) const { return dir_ / n; }

  static std::string Header(const std::string& rel, bool win64) {
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\" + rel + "\n\n" +
           (win64 ? "#arch=win64\n" : "#arch=win32\n") + "\n";
  }

 private:
  TempDir dir_;
};

// Passes every call to a real registry, except the failures a test asks for.
class ScriptedRegistry : public platform::RegistryApi {
 public:
  explicit ScriptedRegistry(platform::RegistryApi& real) : real_(real) {}
  std::map<std::string, int32_t> fail_open;  // sub-key name -> code
  std::deque<int32_t> query_codes;           // forced results of the next queries (0: pass on)
  int32_t close_code = 0;
  int opens = 0, closes = 0;

  int32_t RegOpenKeyExA(platform::HKEY32 key, const std::string& sub, uint32_t o, uint32_t sam,
                        platform::HKEY32* result) override {
    ++opens;
    if (auto it = fail_open.find(sub); it != fail_open.end()) return it->second;
    return real_.RegOpenKeyExA(key, sub, o, sam, result);
  }
  int32_t RegQueryValueExA(platform::HKEY32 key, const std::string& name, uint32_t* r,
                           uint32_t* type, uint8_t* data, uint32_t* size) override {
    const int32_t forced = query_codes.empty() ? 0 : query_codes.front();
    if (!query_codes.empty()) query_codes.pop_front();
    const int32_t code = real_.RegQueryValueExA(key, name, r, type, data, size);
    return forced ? forced : code;
  }
  int32_t RegCloseKey(platform::HKEY32 key) override {
    ++closes;
    const int32_t code = real_.RegCloseKey(key);
    return close_code ? close_code : code;
  }

 private:
  platform::RegistryApi& real_;
};

}  // namespace ttu::test
