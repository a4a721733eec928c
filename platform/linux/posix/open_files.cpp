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

void AddOpenDescriptors(const std::string& proc, std::set<std::pair<dev_t, ino_t>>& held) {
  const std::string fd_dir = proc + "/fd";
  DIR* d = ::opendir(fd_dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    if (!IsNumber(e->d_name)) continue;
    struct stat st {};
    if (::stat((fd_dir + "/" + e->d_name).c_str(), &st) == 0) held.insert({st.st_dev, st.st_ino});
  }
  ::closedir(d);
}

void AddMappings(const std::string& proc, std::set<std::pair<dev_t, ino_t>>& held) {
  FILE* f = std::fopen((proc + "/maps").c_str(), "re");
  if (!f) return;
  char line[4096 + 256];
  while (std::fgets(line, sizeof line, f)) {
    unsigned major = 0, minor = 0;
    unsigned long long ino = 0;
    if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major, &minor, &ino) == 3 && ino != 0) {
      held.insert({makedev(major, minor), static_cast<ino_t>(ino)});
    }
    // A line longer than the buffer goes on in the next read: its rest is no mapping's start.
    while (!std::strchr(line, '\n') && std::fgets(line, sizeof line, f)) {
    }
  }
  std::fclose(f);
}

}  // namespace

HeldFiles HeldFiles::Now() {
  HeldFiles h;
  DIR* proc = ::opendir("/proc");
  if (!proc) return h;
  const std::string self = std::to_string(::getpid());
  while (const dirent* e = ::readdir(proc)) {
    if (!IsNumber(e->d_name) || self == e->d_name) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    AddOpenDescriptors(dir, h.held_);
    AddMappings(dir, h.held_);
  }
  ::closedir(proc);
  return h;
}

}  // namespace ttu::platform
