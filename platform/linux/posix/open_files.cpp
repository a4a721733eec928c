#include "platform/linux/posix/open_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ttu::platform {
namespace {

bool IsNumber(const char* s) {
  if (!*s) return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

bool HasOpenDescriptor(const std::string& proc, dev_t device, ino_t inode) {
  const std::string fd_dir = proc + "/fd";
  DIR* d = ::opendir(fd_dir.c_str());
  if (!d) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    if (!IsNumber(e->d_name)) continue;
    struct stat st {};
    if (::stat((fd_dir + "/" + e->d_name).c_str(), &st) == 0 && st.st_ino == inode &&
        st.st_dev == device) {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

bool HasMapping(const std::string& proc, dev_t device, ino_t inode) {
  FILE* f = std::fopen((proc + "/maps").c_str(), "re");
  if (!f) return false;
  bool found = false;
  char line[4096 + 256];
  while (!found && std::fgets(line, sizeof line, f)) {
    unsigned major = 0, minor = 0;
    unsigned long long ino = 0;
    if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major, &minor, &ino) == 3 && ino == inode &&
        makedev(major, minor) == device) {
      found = true;
    }
  }
  std::fclose(f);
  return found;
}

}  // namespace

bool HeldOpenByAnotherProcess(dev_t device, ino_t inode) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const std::string self = std::to_string(::getpid());
  bool found = false;
  while (!found) {
    const dirent* e = ::readdir(proc);
    if (!e) break;
    if (!IsNumber(e->d_name) || self == e->d_name) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    found = HasOpenDescriptor(dir, device, inode) || HasMapping(dir, device, inode);
  }
  ::closedir(proc);
  return found;
}

}  // namespace ttu::platform
