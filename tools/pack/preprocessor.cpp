// The C preprocessor, run as the Windows resource compiler (windres) runs it:
// the MinGW compiler's ("gcc -E -xc -DRC_INVOKED"), whose Windows headers give
// a script's <windows.h> the meaning it has there; where no MinGW compiler is
// installed, the system's cpp, with no host macros or headers and with this
// program's own Windows headers, which define what resource scripts take from
// them (tools/pack/rc_header.inc). Either runs with an empty environment (so
// that CPATH and the like change nothing), reads nothing from standard input,
// and is waited for: its exit status decides.
#include "tools/pack/preprocessor.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/linux/posix/fd.h"
#include "platform/linux/posix/search_path.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {
namespace {

constexpr const char* kMinGwCompilers[] = {"x86_64-w64-mingw32-gcc", "i686-w64-mingw32-gcc"};
constexpr const char* kOwnHeaders[] = {"windows.h", "winresrc.h", "winres.h", "winver.h", "winnt.h", "verrsrc.h"};
constexpr const char kRcHeader[] =
#include "tools/pack/rc_header.inc"
    ;

// This program's Windows headers, in a temporary folder for the time of a run.
class OwnHeaders {
 public:
  OwnHeaders() {
    char dir[] = "/tmp/tessiro-pack-headers.XXXXXX";
    if (!::mkdtemp(dir)) throw PackError(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    dir_ = dir;
    for (const char* name : kOwnHeaders) {
      std::ofstream(dir_ + "/" + name) << kRcHeader;
    }
  }
  ~OwnHeaders() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  OwnHeaders(const OwnHeaders&) = delete;
  OwnHeaders& operator=(const OwnHeaders&) = delete;
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// As windres runs the MinGW compiler.
std::vector<std::string> MinGwCommand(const std::string& compiler, const std::string& script,
                                      const std::vector<std::string>& include_dirs) {
  std::vector<std::string> args = {compiler, "-E", "-xc", "-DRC_INVOKED"};
  for (const auto& d : include_dirs) args.push_back("-I" + d);
  args.push_back(script);
  return args;
}

// The system's cpp: no host macros (-undef) or host headers (-nostdinc); the
// script's own include folders first, then this program's Windows headers.
std::vector<std::string> CppCommand(const std::string& script, const std::vector<std::string>& include_dirs,
                                    const OwnHeaders& own) {
  const std::string cpp = platform::SearchPath("cpp");
  if (cpp.empty()) {
    throw PackError(script + ": error: the script has preprocessor lines and no C preprocessor is installed: "
                             "install cpp (or the MinGW-w64 compiler, whose Windows headers it then reads)");
  }
  std::vector<std::string> args = {cpp, "-xc", "-undef", "-nostdinc", "-DRC_INVOKED", "-D_WIN32", "-DWIN32"};
  for (const auto& d : include_dirs) args.push_back("-I" + d);
  args.push_back("-I" + own.dir());
  args.push_back(script);
  return args;
}

// SIGCHLD as the system has it by default while a child runs: ignored, the
// child would be reaped unseen and its exit status lost.
class DefaultChildSignal {
 public:
  DefaultChildSignal() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &dfl, &saved_);
  }
  ~DefaultChildSignal() { ::sigaction(SIGCHLD, &saved_, nullptr); }

 private:
  struct sigaction saved_ {};
};

std::string Run(const std::vector<std::string>& command, const std::string& script) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw PackError(script + ": error: cannot run the C preprocessor");
  platform::Fd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> args = command;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string path = "PATH=/usr/bin:/bin", locale = "LC_ALL=C";
  char* envp[] = {path.data(), locale.data(), nullptr};
  const DefaultChildSignal child_signal;
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  write_end.Reset();
  if (err != 0) {
    throw PackError(script + ": error: the C preprocessor '" + args[0] + "' cannot be run: " + std::strerror(err));
  }
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::read(read_end.get(), buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  int status = 0;
  pid_t waited;
  while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited != pid) throw PackError(script + ": error: the C preprocessor's end could not be awaited");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw PackError(script + ": error: the C preprocessor refused the script (its messages are above)");
  }
  return out;
}

}  // namespace

std::string Preprocess(const std::string& script, const std::vector<std::string>& include_dirs) {
  for (const char* compiler : kMinGwCompilers) {
    const std::string path = platform::SearchPath(compiler);
    if (!path.empty()) return Run(MinGwCommand(path, script, include_dirs), script);
  }
  const OwnHeaders own;
  return Run(CppCommand(script, include_dirs, own), script);
}

}  // namespace ttu::pack
