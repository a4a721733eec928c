// Helpers for tests that work with real files and processes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ttu::test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string output;  // standard output and error together
};

// The status of a run stopped at its time limit.
inline constexpr int kTimedOut = 124;

// Runs a program (no shell; in `cwd` when given) and waits for it: at most
// `timeout_ms` when that is given, after which it is killed and the status is
// kTimedOut (what it started is left to the caller: a Wine session to
// `wineserver -k`).
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "", int timeout_ms = 0);

// Makes a new prefix with Wine's own wineboot. Now and then Wine's first start
// fails on a busy machine ("ShellExecuteEx failed: Internal error", "could not
// load kernel32.dll"), and a prefix left half made (its .update-timestamp
// written) fails every later start: the session is ended, the prefix emptied,
// and the boot made again, up to three times. `wine` runs a command line in
// the prefix's environment.
RunResult BootPrefix(const std::string& prefix, const std::function<RunResult(std::vector<std::string>)>& wine);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);
// Deterministic bytes for payloads.
std::string PseudoRandomBytes(std::size_t n, unsigned seed);

// Writes each (name, bytes) into `dir` and a package script `dir`/p.rc that
// carries them all, in order, into <APPPATH>Tessiro/.
using NamedFiles = std::vector<std::pair<std::string, std::string>>;
void WritePackage(const std::string& dir, const NamedFiles& files);

// Where `text` (as UTF-16 when `wide`) first stands in `file`, or its last
// copy with `last`; npos when it is not there.
std::size_t FindText(const std::string& file, const std::string& text, bool wide, bool last = false);

// One way of damaging an updater after it was packed.
struct Damage {
  const char* what;
  std::size_t offset;  // the byte whose bit 0 is flipped; or, with `cut`, where the file ends
  bool cut = false;
};
std::string Damaged(std::string file, const Damage& damage);

}  // namespace ttu::test

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace ttu::test {

// A child process that holds `path` open (as a running program holds its
// files) until it is killed; -1 when it could not be started.
pid_t HoldOpen(const std::string& path);

// Starts a program in `cwd` (no shell), without waiting for it, as the
// leader of a process group of its own.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd,
            const std::vector<std::string>& env = {});
// Waits up to `timeout_ms` for the process to end: its exit status, 128 +
// signal, or -1 when it is still running.
int WaitExit(pid_t pid, int timeout_ms);
// Kills a spawned program and everything it started that is still in its
// group (a stuck helper would otherwise outlive the test, holding its output).
void Stop(pid_t pid);

// Starts an X server of this process's own (Xvfb, which picks a free display
// number) and points DISPLAY at it, so that tests run side by side each have
// their own screen; it ends with the process. False when none starts.
bool StartPrivateDisplay();

// Why the window's front end this test is to run on (TTU_TOOLKIT=gtk) cannot
// be used here; empty when it can.
std::string MissingFrontEnd();

}  // namespace ttu::test
