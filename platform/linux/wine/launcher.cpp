// Starting a registration program on Linux: the command line split by the
// Windows rules, the program found in the Wine prefix or on PATH, Windows
// executables started through wine, and never a shell.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "platform/linux/posix/file_trust.h"
#include "platform/linux/posix/search_path.h"
#include "platform/linux/wine/guard.h"
#include "platform/linux/wine/path_mapping.h"
#include "platform/linux/wine/session.h"
#include "platform/process.h"
#include "support/command_line.h"
#include "support/run_error.h"

extern char** environ;

namespace ttu::platform {
namespace {

bool IsRegularFile(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A program named with a folder must be there; a bare name is looked for in
// the prefix's windows\system32, then on PATH.
std::string FindProgram(const std::string& program) {
  if (program.find_first_of("\\/:") != std::string::npos) {
    const std::string p = ToLinuxPath(program, WinePrefix());
    return IsRegularFile(p) ? p : "";
  }
  const std::string in_system = ToLinuxPath("C:\\windows\\system32\\" + program, WinePrefix());
  if (IsRegularFile(in_system)) return in_system;
  return SearchPath(program);
}

bool IsWindowsExecutable(const std::string& p) {
  Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  char magic[2] = {};
  return fd && ReadFully(fd.get(), magic, 2, 0) && magic[0] == 'M' && magic[1] == 'Z';
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> p;
  for (const auto& t : texts) p.push_back(const_cast<char*>(t.c_str()));
  p.push_back(nullptr);
  return p;
}

// Starts argv detached (the child outlives the updater and leaves no zombie)
// in the folder `cwd` (the updater's own when empty) with the environment
// `env`, and waits only until exec has succeeded or failed. Returns 0 or an errno.
int SpawnDetached(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::vector<std::string>& env) {
  std::vector<char*> args = Pointers(argv), envp = Pointers(env);
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(pipefd[0]), ::close(pipefd[1]);
    return err;
  }
  if (child == 0) {
    ::close(pipefd[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    CloseDescriptorsFrom(3, true);  // only standard input, output and error go on
    ::signal(SIGXFSZ, SIG_DFL);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0 && ::chdir("/") != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    const int err = errno;
    (void)!::write(pipefd[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(pipefd[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = ::read(pipefd[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(pipefd[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return ECHILD;
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

// A discovered prefix is registered in only by its own Wine, and only while
// no other Wine serves it: any other would update it as a side effect.
void CheckPrefixWine(const WineSession& session, const std::string& wine) {
  if (!WineKeepsPrefix(session.prefix, wine)) {
    throw RunError::PrefixNeedsItsWine(session.prefix, wine, session.wine.empty() ? RecordedWine(session.prefix)
                                                                                 : "the Wine at " + wine);
  }
  if (OtherWineServes(session.prefix, wine)) throw RunError::Of(kErrPathFileAccess);  // held: retried
}

class LinuxLauncher final : public Launcher {
 public:
  void Launch(const std::string& command_line, int /*window_style: no meaning here*/) override {
    auto args = SplitCommandLine(command_line);
    if (args.empty()) throw RunError::Of(kErrFileNotFound);
    const std::string program = FindProgram(args[0]);
    if (program.empty()) throw RunError::Of(kErrFileNotFound);
    args[0] = program;
    // A Windows program runs in the prefix's system folder, as on Windows: a
    // library that a registered server imports is never looked for in the
    // updater's current folder (else in "/", where only root writes).
    const WineSession& session = CurrentWineSession();
    std::string cwd;
    if (IsWindowsExecutable(program)) {
      std::vector<std::string> wine = session.wine;
      if (wine.empty()) wine.push_back(SearchPath("wine"));
      if (wine[0].empty()) throw RunError::Of(kErrFileNotFound);
      if (session.discovered) CheckPrefixWine(session, wine[0]);
      args.insert(args.begin(), wine.begin(), wine.end());
      cwd = ToLinuxPath("C:\\windows\\system32", session.prefix);
    }
    // Nothing that another account could have put or changed is started
    // (a program in a system32 on a disk that all may write, a Wine under
    // another's folder): the program, and the Wine that runs it.
    const TrustPolicy trust = TrustPolicy::OfProcess();
    if (!IsTrusted(program, trust) || !IsTrusted(args[0], trust)) throw RunError::Of(kErrPermissionDenied);
    if (SpawnDetached(args, cwd, SessionEnvironment(session, environ)) != 0) throw RunError::Of(kErrFileNotFound);
  }
};

}  // namespace

Launcher& NativeLauncher() {
  static LinuxLauncher launcher;
  return launcher;
}

// The dynamic loader takes libraries from the system's folders and from
// those the environment names; the updater adds none.
void RestrictLibrarySearch() {}

}  // namespace ttu::platform
