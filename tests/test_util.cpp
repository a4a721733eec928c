#include "tests/test_util.h"

#include <dlfcn.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ttu::test {

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd, int timeout_ms) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 1);
    ::dup2(pipefd[1], 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  RunResult r;
  // The output is read to its end, which comes once everything the program
  // started that holds it has ended too (a Wine session's processes): a
  // caller goes on when all of that is over. Past the time limit the
  // program is killed and the rest is not waited for.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[4096];
  bool open = true;
  int st = 0;
  for (;;) {
    if (open) {
      pollfd pfd{pipefd[0], POLLIN, 0};
      if (::poll(&pfd, 1, 50) > 0) {
        const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
        if (n > 0) r.output.append(buf, static_cast<std::size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) open = false;
      }
    } else if (::waitpid(pid, &st, WNOHANG) == pid) {
      r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (timeout_ms > 0 && std::chrono::steady_clock::now() > end) {
      Stop(pid);
      r.status = kTimedOut;
      r.output += "\n[stopped after " + std::to_string(timeout_ms / 1000) + " s]\n";
      break;
    }
  }
  ::close(pipefd[0]);
  return r;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "ttu-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WritePackage(const std::string& dir, const NamedFiles& files) {
  std::string strings = "STRINGTABLE { 100 \"" + std::to_string(files.size()) + "\"", data;
  for (std::size_t k = 0; k < files.size(); ++k) {
    WriteFile(dir + "/" + files[k].first, files[k].second);
    strings += " " + std::to_string(101 + k) + " \"" + files[k].first + "|<APPPATH>Tessiro/|N|\"";
    data += std::to_string(101 + k) + " CUSTOM " + files[k].first + "\n";
  }
  WriteFile(dir + "/p.rc", strings + " }\n" + data);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string PseudoRandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

std::size_t FindText(const std::string& file, const std::string& text, bool wide, bool last) {
  std::string pattern;
  for (char c : text) pattern += wide ? std::string{c, '\0'} : std::string{c};
  return last ? file.rfind(pattern) : file.find(pattern);
}

std::string Damaged(std::string file, const Damage& damage) {
  if (damage.cut) {
    file.resize(damage.offset);
  } else {
    file[damage.offset] = static_cast<char>(file[damage.offset] ^ 0x01);
  }
  return file;
}

}  // namespace ttu::test

#include <chrono>
#include <csignal>
#include <thread>

namespace ttu::test {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd,
            const std::vector<std::string>& env) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
    ::setpgid(0, 0);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, pid);  // before anyone may signal the group
  return pid;
}

bool StartPrivateDisplay() {
  int fds[2];
  if (::pipe(fds) != 0) return false;  // the write end is the server's, inherited
  const pid_t pid = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1920x1200x24",
                           "-noreset", "-nolisten", "tcp"},
                          "/");
  ::close(fds[1]);
  std::string number;
  char c = 0;
  pollfd p{fds[0], POLLIN, 0};
  // The server writes its display's number and a new line once it listens.
  while (pid > 0 && ::poll(&p, 1, 30000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (c != '\n' || number.empty()) {
    Stop(pid);
    return false;
  }
  return ::setenv("DISPLAY", (":" + number).c_str(), 1) == 0;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  WaitExit(pid, 2000);
}

int WaitExit(pid_t pid, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int st = 0;
    const pid_t r = ::waitpid(pid, &st, WNOHANG);
    if (r == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (r < 0 || std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace ttu::test

#include "support/run_error.h"

namespace ttu::test {

pid_t HoldOpen(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    (void)!::write(ready[1], "r", 1);
    ::pause();
    ::_exit(fd < 0);
  }
  char c;
  (void)!::read(ready[0], &c, 1);
  ::close(ready[0]);
  ::close(ready[1]);
  return holder;
}

std::string MissingFrontEnd() {
  const char* toolkit = std::getenv("TTU_TOOLKIT");
  if (!toolkit || std::string(toolkit) != "gtk") return "";
  return ::dlopen("libgtk-3.so.0", RTLD_LAZY) ? "" : "no GTK 3 (libgtk-3.so.0) here";
}

RunResult BootPrefix(const std::string& prefix, const std::function<RunResult(std::vector<std::string>)>& wine) {
  RunResult boot;
  std::string failures;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (attempt > 1) {
      wine({"/usr/bin/wineserver", "-k"});
      wine({"/usr/bin/wineserver", "-w"});
      for (const auto& entry : std::filesystem::directory_iterator(prefix)) std::filesystem::remove_all(entry.path());
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    boot = wine({"/usr/bin/wine", "wineboot", "-i"});
    if (boot.status == 0) return boot;
    failures += "[boot " + std::to_string(attempt) + ": status " + std::to_string(boot.status) + "]\n" + boot.output;
  }
  boot.output = failures;
  return boot;
}

}  // namespace ttu::test
