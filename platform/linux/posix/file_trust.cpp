#include "platform/linux/posix/file_trust.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <vector>

namespace ttu::platform {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

bool OwnedWell(const struct stat& st, const TrustPolicy& p) { return st.st_uid == p.user || st.st_uid == 0; }

bool WritableByNoOneElse(const struct stat& st, const TrustPolicy& p, bool last) {
  const bool sticky_folder = !last && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
  if ((st.st_mode & S_IWOTH) && !sticky_folder) return false;
  if ((st.st_mode & S_IWGRP) && !sticky_folder && !(p.own_group && st.st_gid == *p.own_group)) return false;
  return true;
}

std::deque<std::string> Names(const std::string& path) {
  std::deque<std::string> names;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) names.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return names;
}

std::string Parent(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "" : folder.substr(0, slash);
}

}  // namespace

TrustPolicy TrustPolicy::OfProcess() {
  TrustPolicy p;
  p.user = ::getuid();
  if (p.user == 0) return p;
  std::vector<char> buf(16384);
  passwd pw{}, *pw_found = nullptr;
  if (::getpwuid_r(p.user, &pw, buf.data(), buf.size(), &pw_found) != 0 || !pw_found) return p;
  const gid_t gid = pw.pw_gid;
  const std::string name = pw.pw_name ? pw.pw_name : "";
  group gr{}, *gr_found = nullptr;
  std::vector<char> gbuf(65536);
  if (::getgrgid_r(gid, &gr, gbuf.data(), gbuf.size(), &gr_found) != 0 || !gr_found) return p;
  const bool alone = !gr.gr_mem || !gr.gr_mem[0] || (std::strcmp(gr.gr_mem[0], name.c_str()) == 0 && !gr.gr_mem[1]);
  if (gr.gr_name && name == gr.gr_name && alone) p.own_group = gid;
  return p;
}

bool IsTrusted(const std::string& path, const TrustPolicy& policy) {
  if (path.empty() || path[0] != '/') return false;
  struct stat st {};
  if (::lstat("/", &st) != 0 || !OwnedWell(st, policy) || !WritableByNoOneElse(st, policy, false)) return false;
  std::deque<std::string> names = Names(path);
  std::string at;  // the folder reached so far, links resolved; "" is "/"
  int links = 0;
  while (!names.empty()) {
    const std::string name = std::move(names.front());
    names.pop_front();
    if (name == ".") continue;
    if (name == "..") {  // the folder above was checked on the way down
      at = Parent(at);
      continue;
    }
    const std::string next = at + "/" + name;
    if (::lstat(next.c_str(), &st) != 0 || !OwnedWell(st, policy)) return false;
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) return false;
      char target[PATH_MAX];
      const ssize_t n = ::readlink(next.c_str(), target, sizeof target);
      if (n <= 0 || n >= static_cast<ssize_t>(sizeof target)) return false;
      const std::string to(target, static_cast<std::size_t>(n));
      std::deque<std::string> more = Names(to);
      names.insert(names.begin(), more.begin(), more.end());
      if (to[0] == '/') at.clear();
      continue;
    }
    if (!WritableByNoOneElse(st, policy, names.empty())) return false;
    at = next;
  }
  return true;
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name.find("..") == std::string::npos &&
         name != "." && name.find('\0') == std::string::npos;
}

}  // namespace ttu::platform
