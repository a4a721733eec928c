#include "tools/pack/preprocessor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/fd.h"
#include "tools/pack/package_description.h"

extern char** environ;

namespace ttu::pack {
namespace {

constexpr const char* kPreprocessor = "cpp";

// The arguments: no host macros (-undef) or host headers (-nostdinc), so that
// a script means on Linux what it means to the Windows resource compiler.
std::vector<std::string> Arguments(const std::string& script, const std::vector<std::string>& include_dirs) {
  std::vector<std::string> args{kPreprocessor, "-xc", "-undef", "-nostdinc", "-DRC_INVOKED", "-D_WIN32", "-DWIN32"};
  for (const auto& d : include_dirs) args.push_back("-I" + d);
  args.push_back(script);
  return args;
}

}  // namespace

std::string Preprocess(const std::string& script, const std::vector<std::string>& include_dirs) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw PackError(script + ": error: cannot run the C preprocessor");
  platform::Fd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  auto args = Arguments(script, include_dirs);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int err = ::posix_spawnp(&pid, kPreprocessor, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  write_end.Reset();
  if (err != 0) {
    throw PackError(script + ": error: the script has preprocessor lines and the C preprocessor '" +
                    kPreprocessor + "' cannot be run (" + std::strerror(err) +
                    "): install it (Debian package cpp)");
  }
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::read(read_end.get(), buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw PackError(script + ": error: the C preprocessor refused the script (its messages are above)");
  }
  return out;
}

}  // namespace ttu::pack
