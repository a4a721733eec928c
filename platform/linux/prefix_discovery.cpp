#include "platform/linux/prefix_discovery.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/linux/config_readers.h"
#include "platform/linux/prefix_managers.h"
#include "platform/linux/wine_hive.h"

namespace ttu::platform {
namespace {

constexpr std::string_view kHiveHeader = "WINE REGISTRY Version 2";
constexpr off_t kMaxHive = off_t(1) << 30;  // far beyond any prefix's, short of a hostile file's

std::string Variable(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A prefix as Wine leaves it, owned by this user.
bool IsOwnPrefix(const std::string& path, struct stat& st) {
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
  struct stat entry {};
  if (::stat((path + "/drive_c").c_str(), &entry) != 0 || !S_ISDIR(entry.st_mode)) return false;
  if (::lstat((path + "/dosdevices/c:").c_str(), &entry) != 0) return false;
  if (::stat((path + "/user.reg").c_str(), &entry) != 0 || !S_ISREG(entry.st_mode)) return false;
  FILE* f = std::fopen((path + "/system.reg").c_str(), "re");
  if (!f) return false;
  char head[64] = {};
  const bool ok = std::fgets(head, sizeof head, f) && std::string_view(head).substr(0, kHiveHeader.size()) == kHiveHeader;
  std::fclose(f);
  return ok;
}

int64_t LastUsed(const std::string& prefix) {
  struct stat st {};
  return ::stat((prefix + "/user.reg").c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

// Whether a line of the text ends a name with `tail` (lowercase ASCII, ending
// in "]"), letter case ignored: only the "]" that close key names are looked at.
bool EndsANameWith(std::string_view text, std::string_view tail) {
  for (std::size_t at = text.find(']'); at != std::string_view::npos; at = text.find(']', at + 1)) {
    if (at + 1 < tail.size()) continue;
    const std::string_view end = text.substr(at + 1 - tail.size(), tail.size());
    if (std::equal(end.begin(), end.end(), tail.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
        })) {
      return true;
    }
  }
  return false;
}

}  // namespace

DiscoveryPlaces DiscoveryPlaces::FromEnvironment() {
  DiscoveryPlaces p;
  p.home = Variable("HOME");
  if (p.home.empty()) {
    const passwd* pw = ::getpwuid(::getuid());
    p.home = pw && pw->pw_dir ? pw->pw_dir : "/";
  }
  p.xdg_data_home = Variable("XDG_DATA_HOME");
  if (p.xdg_data_home.empty() || p.xdg_data_home[0] != '/') p.xdg_data_home = p.home + "/.local/share";
  p.xdg_config_home = Variable("XDG_CONFIG_HOME");
  if (p.xdg_config_home.empty() || p.xdg_config_home[0] != '/') p.xdg_config_home = p.home + "/.config";
  p.wine_prefixes = Variable("WINE_PREFIXES");
  p.cx_bottle_path = Variable("CX_BOTTLE_PATH");
  return p;
}

std::vector<PrefixCandidate> FindPrefixes(const DiscoveryPlaces& places) {
  std::vector<PrefixCandidate> found;
  std::set<std::pair<dev_t, ino_t>> seen;
  auto take = [&](std::vector<PrefixCandidate> candidates) {
    for (auto& c : candidates) {
      struct stat st {};
      if (!IsOwnPrefix(c.path, st) || !seen.insert({st.st_dev, st.st_ino}).second) continue;
      c.last_used = LastUsed(c.path);
      found.push_back(std::move(c));
    }
  };
  take(ManagedPrefixes(places));
  take(PlainPrefixes(places));
  return found;
}

bool HoldsMakersKey(const std::string& prefix) {
  const auto text = ReadSettingsFile(prefix + "/system.reg", kMaxHive);
  // Most prefixes never had the maker's products: a scan for the key's last
  // two names (as the hive writes them) spares parsing theirs.
  if (!text || !EndsANameWith(*text, "\\\\kelmo\\\\installazione]")) return false;
  const Hive hive = Hive::Parse(*text);
  return hive.Find(FoldName("Software\\Kelmo\\Installazione")) ||
         hive.Find(FoldName("Software\\Wow6432Node\\Kelmo\\Installazione"));
}

std::vector<PrefixCandidate> FindMakersPrefixes(const DiscoveryPlaces& places) {
  std::vector<PrefixCandidate> found = FindPrefixes(places);
  found.erase(std::remove_if(found.begin(), found.end(), [](const auto& c) { return !HoldsMakersKey(c.path); }),
              found.end());
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.last_used > b.last_used; });
  return found;
}

}  // namespace ttu::platform
