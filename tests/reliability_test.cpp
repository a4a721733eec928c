// Faults survived: killed writes, full disks, truncated executables, and no
// leak of memory, descriptors or registry handles over many failing passes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "app/form1.h"
#include "platform/files.h"
#include "platform/linux/wine/registry.h"
#include "registry/module2.h"
#include "support/grouped_payload.h"
#include "tests/fakes.h"
#include "tests/registry_fakes.h"
#include "tests/test_util.h"
#include "tests/word_text.h"
#include "tests/zip_maker.h"

namespace ttu::test {
namespace {

namespace fs = std::filesystem;

std::size_t OpenDescriptors() { return ListDir("/proc/self/fd").size(); }

// A Wine-style prefix with Kelmo installed, and a packed updater carrying
// `payload` as Dossaro.zip (or the files given, all into Tessiro\), both in
// temporary folders; `options` go to the packer.
class Installation {
 public:
  using Files = NamedFiles;
  explicit Installation(const std::string& payload) : Installation(Files{{"Dossaro.zip", payload}}) {}
  explicit Installation(const Files& files, const std::vector<std::string>& options = {}) {
    const auto r = RunProgram({"/bin/bash", std::string(TTU_SOURCE_DIR) + "/scripts/make-demo-prefix", prefix.path()});
    EXPECT_EQ(r.status, 0) << r.output;
    ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
    WritePackage(pkg.path(), files);
    std::vector<std::string> argv{TTU_PACK_EXE, "--stub", TTU_STUB_EXE};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {pkg / "p.rc", "-o", pkg / "updater"});
    const auto p = RunProgram(argv);
    EXPECT_EQ(p.status, 0) << p.output;
  }
  std::string Target(const std::string& name) const { return prefix / ("drive_c/Programmi/Kelmo/Tessiro/" + name); }
  std::string Target() const { return Target("Dossaro.zip"); }
  std::string TargetDir() const { return prefix / "drive_c/Programmi/Kelmo/Tessiro"; }
  std::string Updater() const { return pkg / "updater"; }

  TempDir prefix, pkg;
};

// The updater's window logic over the real Linux services (but the dialogs).
struct Updater {
  explicit Updater(const std::string& exe, const std::string& prefix)
      : resources(platform::ResourcesOfFile(exe)), registry(prefix), module2(registry, dialogs),
        form({*resources, platform::NativeFileSystem(), platform::NativeLauncher(), dialogs, module2},
             [this](const platform::WindowLayout&, platform::WindowEvents) {
               auto w = std::make_unique<FakeWindow>();
               window = w.get();
               return w;
             }) {}
  bool Press() { return EndsProcess([this] { form.cmdAvviaConTimer_Click(); }); }
  bool Tick() { return EndsProcess([this] { form.Timer_Timer(); }); }
  FakeDialogs dialogs;
  std::unique_ptr<platform::Resources> resources;
  platform::WineRegistry registry;
  registry::Module2 module2;
  FakeWindow* window = nullptr;
  app::Form1 form;
};

TEST(Reliability, HundredFailingPassesLeakNothing) {
  Installation inst(PseudoRandomBytes(300000, 1));
  WriteFile(inst.Target(), "old");
  const pid_t holder = HoldOpen(inst.Target());
  Updater u(inst.Updater(), inst.prefix.path());
  ASSERT_FALSE(u.Press());  // warms up: the tables, the hive, the resources
  const std::size_t fds = OpenDescriptors();
#if !defined(__SANITIZE_ADDRESS__)
  const std::size_t heap = mallinfo2().uordblks;
#endif
  int failed = 0;
  for (int k = 0; k < 100; ++k) {
    // Presses resolve the folder afresh (registry reads); ticks retry the write.
    failed += !(k % 2 ? u.Tick() : u.Press());
  }
  EXPECT_EQ(failed, 100);
  EXPECT_EQ(OpenDescriptors(), fds) << "descriptors leaked";
  EXPECT_EQ(u.registry.open_handles(), 0u) << "registry handles leaked";
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024) << "the heap grew";
#endif
  EXPECT_EQ(ReadFile(inst.Target()), "old");
  EXPECT_EQ(ListDir(inst.TargetDir()), (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(u.Tick()) << "released: the next tick completes";
  EXPECT_EQ(u.dialogs.shown.back().prompt, "Aggiornamento terminato!");
}

TEST(Reliability, KilledWritesLeaveTheOldFileOrTheNewOneAndTheNextPassCleansUp) {
  const std::string payload = PseudoRandomBytes(48 << 20, 2);
  Installation inst(payload);
  const std::string old = "old contents";
  int old_seen = 0, new_seen = 0;
  // Kills from 0 to 100 ms into the write, then (should a loaded machine write
  // slower) further out until the whole file has been seen once.
  constexpr int kPoints = 40, kLatePoints = 20;
  for (int k = 0; k < kPoints + kLatePoints && !(k >= kPoints && new_seen > 0); ++k) {
    WriteFile(inst.Target(), old);
    const pid_t child = ::fork();
    if (child == 0) {
      Updater u(inst.Updater(), inst.prefix.path());
      u.Press();
      ::_exit(0);
    }
    const int late = k < kPoints ? 0 : k - kPoints + 1;
    std::this_thread::sleep_for(std::chrono::microseconds(2500 * std::min(k, kPoints) + 100000 * late));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string now = ReadFile(inst.Target());
    ASSERT_TRUE(now == old || now == payload) << "point " << k << ": " << now.size() << " bytes";
    (now == old ? old_seen : new_seen)++;
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
  Updater u(inst.Updater(), inst.prefix.path());
  EXPECT_TRUE(u.Press());
  EXPECT_EQ(ReadFile(inst.Target()), payload);
  EXPECT_EQ(ListDir(inst.TargetDir()), (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}))
      << "a temporary file a killed run left is gone";
}

TEST(Reliability, AFullFileSystemFailsThePassAndKeepsTheOldFile) {
  Installation inst(PseudoRandomBytes(3 << 20, 3));
  const std::string dir = inst.TargetDir();
  fs::rename(dir, dir + ".real");
  fs::create_directories(dir);
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=2m") != 0) {
    fs::remove(dir);
    fs::rename(dir + ".real", dir);
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  WriteFile(dir + "/Tessiro.exe", "MZ");
  WriteFile(inst.Target(), "old");
  {
    Updater u(inst.Updater(), inst.prefix.path());
    EXPECT_FALSE(u.Press());
    EXPECT_TRUE(u.window->timer_on);
    EXPECT_TRUE(u.dialogs.shown.empty()) << "a silent failed pass";
  }
  EXPECT_EQ(ReadFile(inst.Target()), "old");
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}));
  ::umount(dir.c_str());
}

// Any cut that leaves a program's header is a damaged package, whether it
// cuts the program, the payload or the package's directory (3,000 bytes is
// a download cut short at the end); only nothing at all is no package.
TEST(Reliability, ATruncatedUpdaterIsReportedAsDamagedAndWritesNothing) {
  Installation inst(PseudoRandomBytes(200000, 4));
  const std::string whole = ReadFile(inst.Updater());
  std::vector<std::size_t> cuts = {whole.size() - 3000, whole.size() - 1};
  for (std::size_t cut = 0; cut < whole.size(); cut += whole.size() / 50 + 1) cuts.push_back(cut);
  for (std::size_t cut : cuts) {
    WriteFile(inst.pkg / "cut", whole.substr(0, cut));
    Updater u(inst.pkg / "cut", inst.prefix.path());
    EXPECT_FALSE(u.Press());
    ASSERT_EQ(u.dialogs.shown.size(), 1u) << cut;
    const std::string expected = cut < 64 ? "Error 326 (Resource with identifier '100' not found)"
                                          : "Error 31037 (The package is damaged: ";
    EXPECT_EQ(u.dialogs.shown[0].prompt.rfind(expected, 0), 0u) << cut << ": " << u.dialogs.shown[0].prompt;
    EXPECT_FALSE(Exists(inst.Target()));
  }
  // Cut after the updater started: the payload's byte range has gone.
  Updater u(inst.Updater(), inst.prefix.path());
  u.resources->String(100);  // the resources are read
  ::truncate(inst.Updater().c_str(), static_cast<off_t>(whole.size() / 2));
  EXPECT_FALSE(u.Press());
  EXPECT_FALSE(Exists(inst.Target()));
  EXPECT_EQ(ListDir(inst.TargetDir()), std::vector<std::string>{"Tessiro.exe"});
  EXPECT_GT(cuts.size(), 40u);
}

TEST(Reliability, GarbageHiveMeansNoKnownFolderNotACrash) {
  Installation inst(PseudoRandomBytes(1000, 5));
  WriteFile(inst.prefix / "system.reg", PseudoRandomBytes(100000, 6));
  Updater u(inst.Updater(), inst.prefix.path());
  u.dialogs.input_answers = {""};
  EXPECT_FALSE(u.Press());
  ASSERT_EQ(u.dialogs.shown.size(), 1u);
  EXPECT_EQ(u.dialogs.shown[0].kind, "input");
  EXPECT_EQ(u.dialogs.shown[0].default_text, "\\Kelmo\\Tessiro\\");
}

TEST(Reliability, PlantedLinksNeverRedirectTheWrite) {
  Installation inst(PseudoRandomBytes(5000, 7));
  TempDir outside;
  WriteFile(outside / "victim", "victim");
  fs::create_symlink(outside / "victim", inst.TargetDir() + "/.Dossaro.zip.tessiro-update-planted");
  fs::create_symlink(outside / "victim", inst.Target());
  Updater u(inst.Updater(), inst.prefix.path());
  EXPECT_TRUE(u.Press());
  EXPECT_EQ(ReadFile(outside / "victim"), "victim");
  EXPECT_FALSE(fs::is_symlink(inst.Target()));
  EXPECT_EQ(ListDir(inst.TargetDir()), (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}));
}

// Stored, compressed and grouped payloads, alone and mixed in one package,
// are written whole; a compressed payload or a group damaged by one bit
// writes nothing.
TEST(Reliability, EveryKindOfPayloadIsWrittenAndADamagedOneWritesNothing) {
  const std::string text = "riga di testo\n", random = PseudoRandomBytes(300000, 9);
  std::string big;
  while (big.size() < (12u << 20)) big += text + std::to_string(big.size());  // past the long-distance threshold
  const Installation::Files mixed = {{"a.txt", big}, {"r.bin", random}, {"e.txt", ""}};
  // Small files in groups of 8 MiB: two groups, a random file between them stored.
  Installation::Files small;
  for (int k = 0; k < 14; ++k) {
    small.push_back({"s" + std::to_string(k) + ".txt", big.substr(static_cast<std::size_t>(k) * 5000, 900000)});
    if (k == 4) small.push_back({"r.bin", random});
  }
  const char* small_kinds = "ZPART ZPART ZPART ZPART ZPART CUSTOM ZPART ZPART ZPART ZPART ZPART ZPART ZPART ZPART ZPART";
  // A file compressed alone ends the group before it (its decoder takes a window of its own).
  Installation::Files around_large;
  for (int k = 0; k < 8; ++k) {
    around_large.push_back({"t" + std::to_string(k) + ".txt", big.substr(static_cast<std::size_t>(k) * 7000, 900000)});
    if (k == 3) around_large.push_back({"large.txt", big.substr(0, 3u << 20)});
  }
  struct Row {
    const char* what;
    Installation::Files files;
    std::vector<std::string> options;
    const char* kinds;  // the payloads' types, in item order
    std::pair<const char*, uint32_t> damage = {"", 0};  // a bit flipped in this resource
    const char* groups = "";  // where given: each item's group, "-" for none
  } rows[] = {
      {"stored", {{"a.txt", big}}, {}, "CUSTOM"},
      {"compressed", {{"a.txt", big}}, {"--compress"}, "ZSTD"},
      {"compressed at level 1", {{"a.txt", big}}, {"--compress=1"}, "ZSTD"},
      {"mixed: what compression does not shrink stays stored", mixed, {"--compress=3"}, "ZSTD CUSTOM CUSTOM"},
      {"compressed, one bit of its frame flipped", mixed, {"--compress=3"}, "ZSTD CUSTOM CUSTOM", {"ZSTD", 101}},
      {"small files in groups", small, {"--compress=3"}, small_kinds},
      {"small files, one bit of the second group flipped", small, {"--compress=3"}, small_kinds, {"ZGROUP", 2}},
      {"small files around a large one", around_large, {"--compress=3"},
       "ZPART ZPART ZPART ZPART ZSTD ZPART ZPART ZPART ZPART", {"", 0}, "1 1 1 1 - 2 2 2 2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Installation inst(row.files, row.options);
    std::string kinds, groups;
    {
      const auto res = platform::ResourcesOfFile(inst.Updater());
      for (std::size_t k = 0; k < row.files.size(); ++k) {
        const auto id = static_cast<uint32_t>(101 + k);
        kinds += std::string(k ? " " : "") +
                 (res->Data(id, "ZSTD") ? "ZSTD" : res->Data(id, "ZPART") ? "ZPART" : "CUSTOM");
        uint8_t part[gpayload::kPartSize];
        const auto blob = res->Data(id, "ZPART");
        if (blob) platform::ReadBlob(*blob, 0, part, sizeof part);
        const auto decoded = blob ? gpayload::DecodePart(part) : std::nullopt;
        groups += std::string(k ? " " : "") + (decoded ? std::to_string(decoded->group) : "-");
      }
      if (*row.damage.first) {
        const auto blob = res->Data(row.damage.second, row.damage.first);
        ASSERT_TRUE(blob);
        std::string bytes = ReadFile(inst.Updater());
        bytes[blob->offset + blob->size / 2] ^= 1;
        WriteFile(inst.Updater(), bytes);
      }
    }
    const bool damaged = *row.damage.first;
    EXPECT_EQ(kinds, row.kinds);
    if (*row.groups) {
      EXPECT_EQ(groups, row.groups);
    }
    Updater u(inst.Updater(), inst.prefix.path());
    EXPECT_EQ(u.Press(), !damaged);
    for (const auto& [name, bytes] : row.files) {
      if (damaged) {
        EXPECT_FALSE(Exists(inst.Target(name))) << name;
      } else {
        EXPECT_TRUE(ReadFile(inst.Target(name)) == bytes) << name;
      }
    }
    ASSERT_FALSE(u.dialogs.shown.empty());
    EXPECT_EQ(u.dialogs.shown.back().prompt.rfind(damaged ? "Error 31037 (The package is damaged: " : "Aggiornamento", 0), 0u)
        << u.dialogs.shown.back().prompt;
    EXPECT_EQ(ListDir(inst.TargetDir()).size(), damaged ? 1u : 1u + row.files.size());  // no temporary left
  }
}

// What a power cut may leave, from a trace of a press's system calls (strace
// -f -y): at every call, each target names its old file or a new one whose
// bytes reached the disk first (fsync, fdatasync, syncfs or sync since its
// last write; starting the writeback is not enough), no old file is opened
// for writing, and "Aggiornamento terminato!" comes after each renamed file's
// folder reached the disk.
class CutModel {
 public:
  explicit CutModel(std::set<std::string> targets) : targets_(std::move(targets)) {}

  // One line of the trace, put together where strace split it between threads.
  void Line(const std::string& raw) {
    const auto space = raw.find(' ');
    if (space == std::string::npos || raw.find_first_not_of(' ', space) == std::string::npos) return;
    const std::string pid = raw.substr(0, space);
    std::string call = raw.substr(raw.find_first_not_of(' ', space));  // strace pads the number
    if (call.ends_with("<unfinished ...>")) {
      pending_[pid] = call.substr(0, call.size() - 16);
      return;
    }
    if (call.starts_with("<... ")) {
      call = pending_[pid] + call.substr(call.find("resumed>") + 8);
      pending_.erase(pid);
    }
    if (call.starts_with("+++") || call.starts_with("---")) return;
    Call(call);
  }

  std::vector<std::string> faults;
  int renames = 0, flushes = 0;

 private:

  // "5</a/b>" -> 5; "AT_FDCWD</a>" -> -100.
  static int FdOf(const std::string& arg) { return arg.starts_with("AT_FDCWD") ? -100 : std::atoi(arg.c_str()); }
  static std::string PathOf(const std::string& arg) {
    const auto open = arg.find('<');
    return open == std::string::npos ? "" : arg.substr(open + 1, arg.rfind('>') - open - 1);
  }
  static std::string Unquote(const std::string& arg) { return arg.size() >= 2 ? arg.substr(1, arg.size() - 2) : arg; }
  // The arguments, split at the commas outside quotes and brackets.
  static std::vector<std::string> Args(const std::string& text) {
    std::vector<std::string> out(1);
    int depth = 0;
    bool quoted = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const char c = text[k];
      if (quoted && c == '\\') {
        out.back() += {c, text[++k]};
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (!quoted && (c == '<' || c == '[' || c == '{')) ++depth;
      if (!quoted && (c == '>' || c == ']' || c == '}')) --depth;
      if (!quoted && depth == 0 && c == ',') {
        out.emplace_back();
        if (k + 1 < text.size() && text[k + 1] == ' ') ++k;
        continue;
      }
      out.back() += c;
    }
    return out;
  }
  std::string Named(const std::string& dir_arg, const std::string& name_arg) const {
    const std::string name = Unquote(name_arg);
    return name.starts_with("/") ? name : PathOf(dir_arg) + "/" + name;
  }
  void Wrote(int fd) {
    if (const auto it = fds_.find(fd); it != fds_.end()) on_disk_[it->second] = false;
  }

  void Call(const std::string& call) {
    const auto open = call.find('('), eq = call.rfind(") = ");
    if (open == std::string::npos || eq == std::string::npos || eq < open) return;
    const std::string name = call.substr(0, open), result = call.substr(eq + 4);
    const auto a = Args(call.substr(open + 1, eq - open - 1));
    if (result.starts_with("-1")) return;  // failed: changed nothing
    if (name == "openat") {  // (the C library opens, renames and unlinks through the *at calls)
      const std::string& flags = a[2];
      const std::string path = Named(a[0], a[1]);
      const int fd = std::atoi(result.c_str());
      fds_.erase(fd);
      if (targets_.count(path) && (flags.find("O_WRONLY") != std::string::npos || flags.find("O_RDWR") != std::string::npos ||
                                   flags.find("O_TRUNC") != std::string::npos)) {
        faults.push_back("an installed file opened for writing: " + call);
      }
      if (flags.find("O_TMPFILE") != std::string::npos || flags.find("O_CREAT") != std::string::npos) {
        on_disk_.push_back(true);  // nothing written yet
        fds_[fd] = on_disk_.size() - 1;
        if (flags.find("O_CREAT") != std::string::npos) names_[path] = on_disk_.size() - 1;
      }
    } else if (name == "close") {
      fds_.erase(FdOf(a[0]));
    } else if (name == "write" || name == "pwrite64" || name == "writev" || name == "pwritev" || name == "ftruncate" ||
               name == "fallocate") {
      if (FdOf(a[0]) == 1 && a[1].find("Aggiornamento terminato!") != std::string::npos) Finished();
      Wrote(FdOf(a[0]));
    } else if (name == "copy_file_range") {
      Wrote(FdOf(a[2]));
    } else if (name == "ioctl") {
      Wrote(FdOf(a[0]));  // a shared extent
    } else if (name == "fsync" || name == "fdatasync") {
      if (const auto it = fds_.find(FdOf(a[0])); it != fds_.end()) on_disk_[it->second] = true;
      if (name == "fsync") unflushed_dirs_.erase(PathOf(a[0]));
    } else if (name == "syncfs" || name == "sync") {
      on_disk_.assign(on_disk_.size(), true);
      unflushed_dirs_.clear();
      ++flushes;
    } else if (name == "linkat") {
      const std::string from = Unquote(a[1]);
      if (from.starts_with("/proc/self/fd/")) {
        if (const auto it = fds_.find(std::atoi(from.c_str() + 14)); it != fds_.end()) names_[Named(a[2], a[3])] = it->second;
      }
    } else if (name == "renameat" || name == "renameat2") {
      const std::string from = Named(a[0], a[1]), to = Named(a[2], a[3]);
      if (const auto it = names_.find(from); it != names_.end()) names_[to] = it->second, names_.erase(it);
      unflushed_dirs_.insert(to.substr(0, to.rfind('/')));
      renames += targets_.count(to) > 0;
    } else if (name == "unlinkat") {
      names_.erase(Named(a[0], a[1]));
    } else {
      return;
    }
    // A cut here: a target that names a new file must have its bytes.
    for (const auto& [path, file] : names_) {
      if (targets_.count(path) && !on_disk_[file]) faults.push_back(path + " names unflushed bytes after " + call);
    }
  }

  void Finished() {
    for (const auto& dir : unflushed_dirs_) faults.push_back("finished before the folder reached the disk: " + dir);
  }

  std::set<std::string> targets_;
  std::map<std::string, std::string> pending_;  // by thread
  std::vector<bool> on_disk_;                   // of each file the press made: flushed since written
  std::map<int, std::size_t> fds_;              // open on them
  std::map<std::string, std::size_t> names_;    // that name them
  std::set<std::string> unflushed_dirs_;        // renamed in since their last flush
};

// A press traced call by call: a new installation, one over installed files,
// and one stopped by a file held open in the middle. At a cut anywhere each
// file is old or new, and once the end is announced, new.
TEST(Reliability, APowerCutAtAnyCallOfAPressLeavesEachFileOldOrNew) {
  ASSERT_EQ(RunProgram({"/usr/bin/strace", "-V"}).status, 0) << "strace is needed (scripts/deps installs it)";
  const std::string big = PseudoRandomBytes(1 << 20, 4) + std::string(20u << 20, 'x');  // past a writeback piece
  Installation::Files files = {{"big.bin", big}, {"random.bin", PseudoRandomBytes(300000, 5)}};
  for (int k = 0; k < 6; ++k) files.push_back({"s" + std::to_string(k) + ".txt", std::string(5000 + k, 'a' + k)});
  const struct {
    const char* what;
    bool installed;       // old versions there
    const char* held;     // a file held open by another program
  } rows[] = {{"a new installation", false, ""}, {"over installed files", true, ""}, {"held in the middle", true, "s2.txt"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Installation inst(files, {"--compress=3"});
    std::set<std::string> targets;
    for (const auto& [name, bytes] : files) {
      targets.insert(fs::weakly_canonical(inst.Target(name)).string());
      if (row.installed) WriteFile(inst.Target(name), "old " + name);
    }
    const pid_t holder = *row.held ? HoldOpen(inst.Target(row.held)) : 0;
    const std::string trace = inst.pkg / "trace";
    const char* asan = std::getenv("ASAN_OPTIONS");  // LeakSanitizer cannot work traced
    const std::string untraced_leaks = "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0";
    const auto r = RunProgram({"/usr/bin/strace", "-f", "-y", "-qq", "-s", "64", "-E", untraced_leaks, "-o", trace,
                               "-e", "trace=%file,%desc,sync,syncfs,fsync,fdatasync,sync_file_range", TTU_PRESS_PROBE,
                               inst.Updater()});
    if (holder > 0) ::kill(holder, SIGKILL), ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(r.status, *row.held ? 1 : 0) << r.output;
    CutModel model(targets);
    std::istringstream lines(ReadFile(trace));
    for (std::string line; std::getline(lines, line);) model.Line(line);
    for (std::size_t k = 0; k < std::min<std::size_t>(model.faults.size(), 5); ++k) ADD_FAILURE() << model.faults[k];
    const int replaced = *row.held ? 4 : static_cast<int>(files.size());  // the items before the held one
    EXPECT_EQ(model.renames, replaced);
    EXPECT_EQ(model.flushes, 1) << "one flush for the files staged together";
    for (std::size_t k = 0; k < files.size(); ++k) {
      const std::string& name = files[k].first;
      const std::string expected = static_cast<int>(k) < replaced ? files[k].second : "old " + name;
      if (row.installed || static_cast<int>(k) < replaced) {
        EXPECT_TRUE(ReadFile(inst.Target(name)) == expected) << name;
      }
    }
    EXPECT_EQ(ListDir(inst.TargetDir()).size(), 1 + (row.installed ? files.size() : replaced)) << "no temporary";
  }
}

// Deltas against the installed version: applied where it is there, the
// unchanged file left alone; where an installed file is missing, of another
// version or changed by one byte, nothing at all is written and the person is
// told which file the update needs — unless the file also comes whole.
TEST(Reliability, ADeltaIsAppliedOnlyToTheVersionItWasMadeFor) {
  std::string old_a = PseudoRandomBytes(200000, 3), added;
  for (int k = 0; k < 20000; ++k) old_a += "riga " + std::to_string(k) + "\n", added += "nuovo " + std::to_string(k);
  const std::string same = "testo uguale\n";
  std::string new_a = old_a;
  new_a.insert(5000, "inserted bytes");
  for (std::size_t k = 100000; k < new_a.size(); k += 7001) new_a[k] ^= 0x20;
  std::string one_byte = old_a;
  one_byte[123456] ^= 1;
  // An archive whose text member changed: rebuilt through its members, byte for byte.
  const std::string words = WordText(300000, 8);
  const std::string old_zip = MakeZip({{"testo.txt", words, {}}, {"dati.bin", old_a.substr(0, 50000), {9}}});
  const std::string new_zip = MakeZip({{"testo.txt", words.substr(0, 150000) + "nuovo" + words.substr(150000), {}},
                                       {"dati.bin", old_a.substr(0, 50000), {9}}});
  std::string zip_one_byte = old_zip;
  zip_one_byte[1000] ^= 1;
  const Installation::Files files = {{"a.bin", new_a}, {"u.txt", same}, {"n.txt", added}, {"z.zip", new_zip}};
  TempDir old;
  WriteFile(old / "a.bin", old_a);
  WriteFile(old / "u.txt", same);
  WriteFile(old / "z.zip", old_zip);
  using Installed = std::map<std::string, std::string>;
  const Installed previous = {{"a.bin", old_a}, {"u.txt", same}, {"z.zip", old_zip}};
  struct Row {
    const char* what;
    std::vector<std::string> options;
    Installed installed;
    const char* kinds;  // each item's payloads
    int error;          // 0: done
    std::vector<std::pair<std::string, std::string>> named;  // files the error names, and why
    bool damage_delta = false;
  } rows[] = {
      {"the previous version installed", {}, previous, "DELTA DELTA CUSTOM DELTA", 0, {}},
      {"compressed too", {"--compress=3"}, previous, "DELTA DELTA ZSTD DELTA", 0, {}},
      {"a file missing", {}, {{"u.txt", same}}, "DELTA DELTA CUSTOM DELTA", 31039,
       {{"a.bin", "it is missing"}, {"z.zip", "it is missing"}}},
      {"another version", {}, {{"a.bin", "1.0"}, {"u.txt", same}, {"z.zip", old_zip}}, "DELTA DELTA CUSTOM DELTA", 31039,
       {{"a.bin", "it has 3 bytes"}}},
      {"one byte changed", {}, {{"a.bin", one_byte}, {"u.txt", "testo uguale!!"}, {"z.zip", zip_one_byte}},
       "DELTA DELTA CUSTOM DELTA", 31039,
       {{"a.bin", "it has other content"}, {"u.txt", "it has 14 bytes"}, {"z.zip", "it has other content"}}},
      {"a damaged delta", {}, previous, "DELTA DELTA CUSTOM DELTA", 31037, {}, true},
      {"whole beside: the previous version", {"--with-full"}, previous,
       "CUSTOM+DELTA CUSTOM+DELTA CUSTOM CUSTOM+DELTA", 0, {}},
      {"whole beside: missing and changed", {"--with-full", "--compress=3"}, {{"u.txt", "x"}},
       "ZPART+DELTA CUSTOM+DELTA ZPART CUSTOM+DELTA", 0, {}},  // the two texts in one group
      {"whole beside: a damaged delta", {"--with-full"}, previous, "CUSTOM+DELTA CUSTOM+DELTA CUSTOM CUSTOM+DELTA",
       31037, {}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"--delta-from", old.path()});
    Installation inst(files, options);
    for (const auto& [name, bytes] : row.installed) WriteFile(inst.Target(name), bytes);
    std::string kinds;
    {
      const auto res = platform::ResourcesOfFile(inst.Updater());
      for (std::size_t k = 0; k < files.size(); ++k) {
        std::string item;
        for (const char* type : {"CUSTOM", "ZSTD", "ZPART", "DELTA"}) {
          if (res->Data(static_cast<uint32_t>(101 + k), type)) item += (item.empty() ? "" : "+") + std::string(type);
        }
        kinds += (k ? " " : "") + item;
      }
      if (const auto zip_delta = res->Data(104, "DELTA")) {  // the archive's, through its members
        char magic[4] = {};
        platform::ReadBlob(*zip_delta, 0, magic, 4);
        EXPECT_EQ(std::string(magic, 4), "TDZ1");
      }
      if (row.damage_delta) {
        const auto blob = res->Data(101, "DELTA");
        ASSERT_TRUE(blob);
        std::string bytes = ReadFile(inst.Updater());
        bytes[blob->offset + blob->size - 3] ^= 1;
        WriteFile(inst.Updater(), bytes);
      }
    }
    EXPECT_EQ(kinds, row.kinds);
    struct stat kept {};
    ::stat(inst.Target("u.txt").c_str(), &kept);
    Updater u(inst.Updater(), inst.prefix.path());
    EXPECT_EQ(u.Press(), row.error == 0);
    ASSERT_FALSE(u.dialogs.shown.empty());
    const std::string& said = u.dialogs.shown.back().prompt;
    if (row.error == 0) {
      EXPECT_EQ(said, "Aggiornamento terminato!");
      for (const auto& [name, bytes] : files) EXPECT_TRUE(ReadFile(inst.Target(name)) == bytes) << name;
      struct stat now {};
      ::stat(inst.Target("u.txt").c_str(), &now);
      if (row.installed.count("u.txt") && row.installed.at("u.txt") == same) {
        EXPECT_EQ(now.st_ino, kept.st_ino) << "an unchanged file is not written again";
      }
      continue;
    }
    EXPECT_EQ(said.rfind("Error " + std::to_string(row.error) + " (", 0), 0u) << said;
    for (const auto& [name, why] : row.named) {
      EXPECT_NE(said.find("C:\\Programmi\\Kelmo\\Tessiro\\" + name + " (the update needs "), std::string::npos) << said;
      EXPECT_NE(said.find(why + ")"), std::string::npos) << said;
    }
    for (const auto& [name, bytes] : files) {  // nothing written
      const auto it = row.installed.find(name);
      if (it == row.installed.end()) {
        EXPECT_FALSE(Exists(inst.Target(name))) << name;
      } else {
        EXPECT_TRUE(ReadFile(inst.Target(name)) == it->second) << name;
      }
    }
    EXPECT_EQ(ListDir(inst.TargetDir()).size(), 1 + row.installed.size());  // no temporary left
  }
}

}  // namespace
}  // namespace ttu::test
