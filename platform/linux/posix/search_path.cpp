#include "platform/linux/posix/search_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace ttu::platform {
namespace {

bool IsExecutableFile(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

}  // namespace

std::string SearchPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0, i = 0; i <= dirs.size(); ++i) {
    if (i < dirs.size() && dirs[i] != ':') continue;
    const std::string dir = dirs.substr(start, i - start);
    start = i + 1;
    if (dir.empty() || dir[0] != '/') continue;
    if (IsExecutableFile(dir + "/" + name)) return dir + "/" + name;
  }
  return "";
}

}  // namespace ttu::platform
