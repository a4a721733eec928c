#include "platform/linux/wine/path_mapping.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <vector>

#include "support/run_error.h"
#include "support/text.h"

namespace ttu::platform {
namespace {

constexpr int32_t kErrBadFileName = 52;
constexpr std::size_t kMaxName = NAME_MAX;

RunError BadFileName() { return RunError(kErrBadFileName, "Bad file name or number"); }

bool Exists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

// The entry of `dir` whose name equals `name` but for letter case, if any.
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return "";
  const std::string wanted = text::FoldCase(name);
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (text::FoldsTo(e->d_name, wanted)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

std::string ToLinuxPath(std::string_view windows_path, const std::string& prefix) {
  if (windows_path.find('\0') != std::string_view::npos || windows_path.size() >= PATH_MAX) {
    throw BadFileName();
  }
  std::string p(windows_path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  std::string base;  // the part that is taken as it is
  if (p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    base = prefix + "/dosdevices/" + static_cast<char>(p[0] | 0x20) + ":";
    p.erase(0, 2);
  } else if (!p.empty() && p[0] == '/') {
    base = "";
  }
  const bool absolute = !base.empty() || (!p.empty() && p[0] == '/');
  // "." and ".." are taken as Windows takes them, by the text: ".." at a
  // drive's root (or at "/") stays there, so no path leaves its drive.
  std::vector<std::string> names;
  for (std::size_t start = 0, i = 0; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/') continue;
    std::string name = p.substr(start, i - start);
    start = i + 1;
    if (name.empty() || name == ".") continue;
    if (name == ".." && !names.empty() && names.back() != "..") {
      names.pop_back();
    } else if (name != ".." || !absolute) {
      names.push_back(std::move(name));
    }
  }
  std::string out = base;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (names[k].size() > kMaxName) throw BadFileName();
    std::string name = names[k];
    const std::string dir = out.empty() && !absolute ? "" : out;
    const std::string exact = (out.empty() && !absolute ? "" : out + "/") + name;
    if (name != "." && name != ".." && !Exists(exact)) {
      const std::string other = FindIgnoringCase(absolute && out.empty() ? "/" : dir, name);
      if (!other.empty()) name = other;
    }
    out = (out.empty() && !absolute ? "" : out + "/") + name;
  }
  if (out.empty()) return absolute ? std::string("/") : std::string(".");  // no names at all
  if (!names.empty() && p.back() == '/') out += '/';
  if (out.size() >= PATH_MAX) throw BadFileName();
  return out;
}

}  // namespace ttu::platform
