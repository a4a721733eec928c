#include "platform/linux/wine/guard.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/linux/wine/config_readers.h"

namespace ttu::platform {
namespace {

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? real.get() : "";
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string Link(const std::string& path) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

}  // namespace

std::string WineInfOf(const std::string& wine) {
  // bin/wine and share/wine/wine.inf side by side, in a runner's folder as
  // in /usr; the loader and server under lib/wine (or lib/ARCH/wine/…) sit deeper.
  const std::string real = RealPath(wine);
  for (const std::string& from : {Folder(wine), Folder(real)}) {
    for (const char* up : {"/../share/wine/wine.inf", "/../../share/wine/wine.inf", "/../../../share/wine/wine.inf"}) {
      const std::string inf = RealPath(from + up);
      if (!inf.empty()) return inf;
    }
  }
  return "";
}

bool WineKeepsPrefix(const std::string& prefix, const std::string& wine) {
  const auto stamp = ReadSettingsFile(prefix + "/.update-timestamp", 64);
  if (!stamp) return true;  // never updated by a Wine: nothing recorded to keep
  if (stamp->rfind("disable", 0) == 0) return true;
  const std::string inf = WineInfOf(wine);
  struct stat st {};
  if (inf.empty() || ::stat(inf.c_str(), &st) != 0) return false;
  char* end = nullptr;
  const long long recorded = std::strtoll(stamp->c_str(), &end, 10);
  return end != stamp->c_str() && recorded == static_cast<long long>(st.st_mtime);
}

std::string RecordedWine(const std::string& prefix) {
  const auto stamp = ReadSettingsFile(prefix + "/.update-timestamp", 64);
  const std::time_t when = stamp ? static_cast<std::time_t>(std::strtoll(stamp->c_str(), nullptr, 10)) : 0;
  std::tm tm {};
  char date[32] = "?";
  if (when > 0 && ::gmtime_r(&when, &tm)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &tm);
  return std::string("the Wine whose wine.inf dates from ") + date;
}

bool OtherWineServes(const std::string& prefix, const std::string& wine, const std::string& proc) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return false;
  char folder[64];
  std::snprintf(folder, sizeof folder, "/server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string ours = WineInfOf(wine);
  struct Closer {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, Closer> dir(::opendir(proc.c_str()));
  if (!dir) return false;
  while (const dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const std::string pid = proc + "/" + e->d_name;
    const std::string cwd = Link(pid + "/cwd");
    if (cwd.size() < std::strlen(folder) || cwd.compare(cwd.size() - std::strlen(folder), std::string::npos, folder) != 0) {
      continue;
    }
    // A process of this prefix's server: the server itself, or a Wine
    // process that sits in its folder. Its Wine is the one whose wine.inf
    // lies beside its program; an unknown one is another Wine.
    const std::string theirs = WineInfOf(Link(pid + "/exe"));
    if (ours.empty() || theirs.empty() || !SameFile(ours, theirs)) return true;
  }
  return false;
}

}  // namespace ttu::platform
