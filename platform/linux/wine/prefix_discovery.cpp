#include "platform/linux/wine/prefix_discovery.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/linux/posix/fd.h"
#include "platform/linux/wine/config_readers.h"
#include "platform/linux/wine/discovery_tasks.h"
#include "platform/linux/wine/hive.h"
#include "platform/linux/wine/prefix_managers.h"

namespace ttu::platform {
namespace {

constexpr std::string_view kHiveHeader = "WINE REGISTRY Version 2";

std::string Variable(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Whether the regular file starts with `head` (opened without blocking: a
// FIFO or a device is no prefix's file).
bool StartsWith(const std::string& path, std::string_view head) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string got(head.size(), '\0');
  return ReadFully(fd.get(), got.data(), got.size(), 0) && got == head;
}

// A prefix as Wine leaves it, owned by this user, that no other account
// could have made or put on the way to it.
bool IsOwnPrefix(const std::string& path, const TrustPolicy& trust, struct stat& st) {
  if (!IsTrusted(path, trust)) return false;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != trust.user) return false;
  struct stat entry {};
  if (::stat((path + "/drive_c").c_str(), &entry) != 0 || !S_ISDIR(entry.st_mode)) return false;
  if (::lstat((path + "/dosdevices/c:").c_str(), &entry) != 0) return false;
  if (::stat((path + "/user.reg").c_str(), &entry) != 0 || !S_ISREG(entry.st_mode)) return false;
  return StartsWith(path + "/system.reg", kHiveHeader);
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

namespace {

// A prefix found and checked, with what tells it apart when two ways lead to it.
struct Found {
  PrefixCandidate candidate;
  dev_t device;
  ino_t inode;
  bool makers;
};
using Tasks = TaskGroup<Found>;

// The searches, each checking on its own thread what it found.
class CheckedSearch final : public PrefixSearch {
 public:
  CheckedSearch(Tasks::Spawner& spawner, const TrustPolicy& trust) : spawner_(spawner), trust_(trust) {}
  void Start(Search search) override {
    spawner_.Spawn([search = std::move(search), trust = trust_](Tasks::Spawner& inner) {
      CheckedSearch followers(inner, trust);
      std::vector<Found> checked;
      for (auto& c : search(followers)) {
        struct stat st {};
        if (!IsOwnPrefix(c.path, trust, st)) continue;
        c.last_used = LastUsed(c.path);
        const bool makers = HoldsMakersKey(c.path);
        checked.push_back({std::move(c), st.st_dev, st.st_ino, makers});
      }
      return checked;
    });
  }

 private:
  Tasks::Spawner& spawner_;
  TrustPolicy trust_;
};

std::vector<Found> Search(const DiscoveryPlaces& places) {
  const auto deadline = std::chrono::steady_clock::now() + places.patience;
  Tasks tasks;
  CheckedSearch search(tasks.spawner(), places.trust);
  StartManagedSearches(places, search);
  search.Start([places](PrefixSearch&) { return PlainPrefixes(places); });
  std::vector<Found> found;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (auto& f : tasks.Collect(deadline)) {
    if (seen.insert({f.device, f.inode}).second) found.push_back(std::move(f));
  }
  return found;
}

}  // namespace

std::vector<PrefixCandidate> FindPrefixes(const DiscoveryPlaces& places) {
  std::vector<PrefixCandidate> all;
  for (auto& f : Search(places)) all.push_back(std::move(f.candidate));
  return all;
}

bool HoldsMakersKey(const std::string& prefix) {
  const auto text = ReadSettingsFile(prefix + "/system.reg", kMaxHiveFile);
  // Most prefixes never had the maker's products: a scan for the key's last
  // two names (as the hive writes them) spares parsing theirs.
  if (!text || !EndsANameWith(*text, "\\\\kelmo\\\\installazione]")) return false;
  const Hive hive = Hive::Parse(*text);
  return hive.Find(FoldName("Software\\Kelmo\\Installazione")) ||
         hive.Find(FoldName("Software\\Wow6432Node\\Kelmo\\Installazione"));
}

std::vector<PrefixCandidate> FindMakersPrefixes(const DiscoveryPlaces& places) {
  std::vector<PrefixCandidate> found;
  for (auto& f : Search(places)) {
    if (f.makers) found.push_back(std::move(f.candidate));
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.last_used > b.last_used; });
  return found;
}

}  // namespace ttu::platform
