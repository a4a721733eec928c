#include "bench/bench_util.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "tests/test_util.h"

namespace ttu::bench {

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double TimeProgram(const std::vector<std::string>& argv) {
  const auto t0 = Clock::now();
  const auto r = test::RunProgram(argv);
  const auto t1 = Clock::now();
  if (r.status != 0) std::fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), r.output.c_str());
  return Seconds(t0, t1);
}

long StatusKib(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return 0;
}

std::string Fmt(const char* f, double v) {
  char b[64];
  std::snprintf(b, sizeof b, f, v);
  return b;
}

Run RunMeasured(const std::vector<std::string>& argv) {
  const auto t0 = Clock::now();
  const pid_t pid = test::Spawn(argv, ".");
  int status = 0;
  rusage ru{};
  const pid_t reaped = ::wait4(pid, &status, 0, &ru);
  Run r{Seconds(t0, Clock::now()), static_cast<double>(ru.ru_maxrss) / 1024.0};
  if (reaped != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || ru.ru_maxrss <= 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    r.peak_mib = -1;
  }
  return r;
}

std::string Machine(const std::string& work) {
  utsname u{};
  ::uname(&u);
  std::string cpu = "?";
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("model name", 0) == 0) {
      cpu = line.substr(line.find(':') + 2);
      break;
    }
  }
  struct statfs sf {};
  ::statfs(work.c_str(), &sf);
  static const std::map<long, std::string> kFs = {{0xEF53, "ext4"}, {0x9123683E, "btrfs"}, {0x58465342, "xfs"},
                                                  {0x01021994, "tmpfs"}, {0x794C7630, "overlayfs"}};
  const auto it = kFs.find(static_cast<long>(sf.f_type));
  return std::string(u.sysname) + " " + u.release + ", " + cpu + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) +
         " cores, work folder on " + (it == kFs.end() ? Fmt("fs 0x%.0f", static_cast<double>(sf.f_type)) : it->second);
}

void Print(const std::vector<Row>& rows, const std::string& machine, int runs) {
  std::printf("\nTessiro Tiny Updater benchmark (medians of %d runs)\nMachine: %s\n\n", runs, machine.c_str());
  std::printf("| %-34s | %-36s | %-24s | %-6s | %-10s | %-4s |\n", "what", "reference", "measured", "ratio", "target", "met");
  std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(38, '-').c_str(),
              std::string(26, '-').c_str(), std::string(8, '-').c_str(), std::string(12, '-').c_str(),
              std::string(6, '-').c_str());
  for (const auto& r : rows) {
    std::printf("| %-34s | %-36s | %-24s | %-6s | %-10s | %-4s |\n", r.what.c_str(), r.reference.c_str(),
                r.ours.c_str(), r.ratio.c_str(), r.target.c_str(), r.met ? "yes" : "NO");
  }
}

}  // namespace ttu::bench
