// The Linux files, paths and launcher, on real folders and processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/files.h"
#include "platform/linux/wine/path_mapping.h"
#include "platform/process.h"
#include "support/command_line.h"
#include "support/run_error.h"
#include "tests/fakes.h"
#include "tests/test_util.h"

namespace ttu::platform {
namespace {

using namespace test;
namespace fs = std::filesystem;

Blob Memory(const std::string& s) { return Blob{"", s.data(), 0, s.size(), nullptr}; }

// A prefix whose drive C: is a folder of its own, set as this process's WINEPREFIX.
class PrefixTest : public ::testing::Test {
 protected:
  PrefixTest() {
    fs::create_directories(prefix / "drive_c/Programmi/Kelmo/Tessiro");
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices/c:");
    ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
  }
  std::string DriveC(const std::string& rel) const { return prefix / ("drive_c/" + rel); }
  TempDir prefix;
  FileSystem& files = NativeFileSystem();
};

TEST_F(PrefixTest, WindowsPathsMapIntoThePrefixIgnoringLetterCase) {
  EXPECT_EQ(ToLinuxPath("C:\\PROGRAMMI\\kelmo\\Tessiro\\", prefix.path()),
            prefix / "dosdevices/c:/Programmi/Kelmo/Tessiro/");
  EXPECT_EQ(ToLinuxPath("c:/Programmi/Nuovo\\a.zip", prefix.path()),
            prefix / "dosdevices/c:/Programmi/Nuovo/a.zip");
  EXPECT_EQ(ToLinuxPath("\\Kelmo\\", prefix.path()), "/Kelmo/");
  EXPECT_EQ(ToLinuxPath(DriveC("Programmi"), prefix.path()), DriveC("Programmi"));
  EXPECT_EQ(ToLinuxPath("Dossaro.zip", prefix.path()), "Dossaro.zip");
  // ".." at a drive's root stays there, as Windows takes it: no path leaves its drive.
  const struct {
    const char* windows;
    std::string linux_path;
  } dots[] = {
      {"C:\\..\\..\\..\\..\\tmp\\x.dll", prefix / "dosdevices/c:/tmp/x.dll"},
      {"C:\\Programmi\\..\\..\\Programmi\\.\\Kelmo\\", prefix / "dosdevices/c:/Programmi/Kelmo/"},
      {"c:/a/b/../../../windows", prefix / "dosdevices/c:/windows"},
      {"\\..\\etc\\x", "/etc/x"},
      {"..\\x\\..\\y", "../y"},
  };
  for (const auto& d : dots) EXPECT_EQ(ToLinuxPath(d.windows, prefix.path()), d.linux_path) << d.windows;
  EXPECT_EQ(RunErrorNumberOf([&] { ToLinuxPath(std::string("C:\\a\0b", 6), prefix.path()); }), 52);
  EXPECT_EQ(RunErrorNumberOf([&] { ToLinuxPath("C:\\" + std::string(300, 'a'), prefix.path()); }), 52);
}

TEST_F(PrefixTest, ExistenceCountsFilesOnly) {
  WriteFile(DriveC("Programmi/Kelmo/Tessiro/Tessiro.exe"), "x");
  WriteFile(DriveC("Programmi/Kelmo/.Hidden.exe"), "x");
  EXPECT_TRUE(files.FileExists("C:\\Programmi\\Kelmo\\Tessiro\\Tessiro.exe"));
  EXPECT_TRUE(files.FileExists("c:\\programmi\\kelmo\\tessiro\\TESSIRO.EXE"));
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kelmo\\Tessiro"));
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kelmo\\Tessiro\\"));
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kelmo\\.Hidden.exe"));
  EXPECT_FALSE(files.FileExists("C:\\Nowhere\\Tessiro.exe"));
  EXPECT_EQ(RunErrorNumberOf([&] { files.FileExists(std::string("C:\\x\0", 5)); }), 52);
  // Wildcards match as a listing matches them: in the name only.
  EXPECT_TRUE(files.FileExists("C:\\Programmi\\Kelmo\\Tessiro\\tess*.EX?"));
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kelmo\\Tessiro\\*.dll"));
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kelmo\\*.exe")) << "hidden files and folders do not count";
  EXPECT_FALSE(files.FileExists("C:\\Programmi\\Kel*\\Tessiro\\Tessiro.exe"));
}

// Files staged together: nothing of them is seen in the folder until each is
// committed; one that goes uncommitted, or whose process is killed while it
// is staged, leaves the old file and no name behind.
TEST_F(PrefixTest, StagedFilesAppearOnlyWhenCommittedAndLeaveNothingOtherwise) {
  const std::string dir = DriveC("Programmi/Kelmo/Tessiro");
  const auto windows = [](int k) { return "C:\\Programmi\\Kelmo\\Tessiro\\f" + std::to_string(k); };
  for (int k = 0; k < 4; ++k) WriteFile(dir + "/f" + std::to_string(k), "vecchio");
  const auto listing = ListDir(dir);
  std::vector<std::unique_ptr<platform::StagedFile>> staged;
  for (int k = 0; k < 4; ++k) staged.push_back(files.Stage(windows(k), Memory("nuovo " + std::to_string(k))));
  EXPECT_EQ(ListDir(dir), listing) << "staged files have no name";
  std::vector<platform::StagedFile*> all;
  for (auto& f : staged) all.push_back(f.get());
  files.Flush(all);
  files.Commit(*staged[0]), files.Commit(*staged[2]);
  files.FlushFolders(std::vector<platform::StagedFile*>{staged[0].get(), staged[2].get()});
  staged.clear();  // 1 and 3 go uncommitted
  EXPECT_EQ(ListDir(dir), listing);
  const std::string expected[] = {"nuovo 0", "vecchio", "nuovo 2", "vecchio"};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(ReadFile(dir + "/f" + std::to_string(k)), expected[k]) << k;
  // Killed while staged: the old file, and nothing else.
  const pid_t child = ::fork();
  if (child == 0) {
    auto f = files.Stage(windows(1), Memory(std::string(1 << 20, 'x')));
    ::raise(SIGKILL);
  }
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(ListDir(dir), listing);
  EXPECT_EQ(ReadFile(dir + "/f1"), "vecchio");
}

TEST_F(PrefixTest, ReplacementWritesExactlyThePayloadAndKeepsTheMode) {
  const std::string target = DriveC("Programmi/Kelmo/Tessiro/Dossaro.zip");
  WriteFile(target, std::string(100000, 'o'));
  ::chmod(target.c_str(), 0640);
  files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("short"));
  EXPECT_EQ(ReadFile(target), "short");
  struct stat st {};
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // From a byte range of a file, as the updater's own payloads are.
  const std::string source = prefix / "source.bin";
  const std::string bytes = PseudoRandomBytes(3 * 4096 + 17, 7);
  WriteFile(source, "HEADER" + bytes + "TRAILER");
  files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Blob{source, nullptr, 6, bytes.size(), nullptr});
  EXPECT_EQ(ReadFile(target), bytes);
  EXPECT_EQ(ListDir(DriveC("Programmi/Kelmo/Tessiro")), std::vector<std::string>{"Dossaro.zip"});
}

TEST_F(PrefixTest, MissingOrUnwritableFolderAndFolderTargetsFail) {
  EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Nuovo\\a.zip", Memory("a")); }), kErrPathNotFound);
  fs::create_directories(DriveC("Programmi/Kelmo/Tessiro/sub"));
  EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\sub", Memory("a")); }),
            kErrPathFileAccess);
  EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\", Memory("a")); }),
            kErrPathFileAccess);
  if (::geteuid() != 0) {  // root writes anywhere
    ::chmod(DriveC("Programmi/Kelmo/Tessiro").c_str(), 0555);
    EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\a", Memory("a")); }),
              kErrPermissionDenied);
  }
}

// A read-only target (no write permission: how Wine shows the attribute) is
// refused as Windows refuses it, even to root; nothing is written.
TEST_F(PrefixTest, ReadOnlyTargetIsNotReplaced) {
  const std::string target = DriveC("Programmi/Kelmo/Tessiro/Dossaro.zip");
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0444);
  EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("new")); }),
            kErrPermissionDenied);
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(ListDir(DriveC("Programmi/Kelmo/Tessiro")), std::vector<std::string>{"Dossaro.zip"});
  ::chmod(target.c_str(), 0644);
  files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("new"));
  EXPECT_EQ(ReadFile(target), "new");
}

TEST_F(PrefixTest, FileHeldOpenByAnotherProcessIsNotReplaced) {
  const std::string target = DriveC("Programmi/Kelmo/Tessiro/Dossaro.zip");
  WriteFile(target, "old");
  const pid_t holder = HoldOpen(target);
  ASSERT_GT(holder, 0);
  EXPECT_EQ(RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("new")); }),
            kErrPermissionDenied);
  EXPECT_EQ(ReadFile(target), "old");
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("new"));
  EXPECT_EQ(ReadFile(target), "new");
}

TEST_F(PrefixTest, WriteFailingHalfWayLeavesTheOldFileAndNoTemporary) {
  const std::string dir = DriveC("Programmi/Kelmo/Tessiro");
  WriteFile(dir + "/Dossaro.zip", "old bytes");
  const std::string big = PseudoRandomBytes(1 << 20, 3);
  const pid_t child = ::fork();
  if (child == 0) {  // a file-size limit below the payload's size
    rlimit lim{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const int32_t err = RunErrorNumberOf([&] { files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory(big)); });
    ::_exit(err == kErrDiskFull ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(dir + "/Dossaro.zip"), "old bytes");
  EXPECT_EQ(ListDir(dir), std::vector<std::string>{"Dossaro.zip"});
}

TEST_F(PrefixTest, LinksAreReplacedNotFollowedAndStaleTemporariesGo) {
  const std::string dir = DriveC("Programmi/Kelmo/Tessiro");
  const std::string elsewhere = prefix / "elsewhere";
  WriteFile(elsewhere, "untouched");
  fs::create_symlink(elsewhere, dir + "/Dossaro.zip");
  WriteFile(dir + "/.Dossaro.zip.tessiro-update-123", "left by a killed run");
  files.ReplaceFile("C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip", Memory("new"));
  EXPECT_EQ(ReadFile(elsewhere), "untouched");
  EXPECT_FALSE(fs::is_symlink(dir + "/Dossaro.zip"));
  EXPECT_EQ(ReadFile(dir + "/Dossaro.zip"), "new");
  EXPECT_EQ(ListDir(dir), std::vector<std::string>{"Dossaro.zip"});
}

TEST(CommandLine, SplitsByTheWindowsRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("regsvr32.exe \"C:\\a b\\x.dll\" /s"), (V{"regsvr32.exe", "C:\\a b\\x.dll", "/s"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\P F\\regasm.exe\" /nologo \"C:\\K\\a.dll\" /tlb:my lib.tlb"),
            (V{"C:\\P F\\regasm.exe", "/nologo", "C:\\K\\a.dll", "/tlb:my", "lib.tlb"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b \"c\\\\\" d\\e \"x\"\"y\""),
            (V{"p", "a\\\"b", "c\\", "d\\e", "x\"y"}));
  EXPECT_EQ(SplitCommandLine("  \"C:\\dir\\\"rest  "), (V{"C:\\dir\\", "rest"}));
  EXPECT_EQ(SplitCommandLine(""), V{});
  EXPECT_EQ(SplitCommandLine("p \"\""), (V{"p", ""}));
}

class LauncherTest : public PrefixTest {
 protected:
  LauncherTest() {
    ::setenv("TTU_RECORD", record.c_str(), 1);
    fs::create_directories(DriveC("windows/system32"));
    fs::create_directories(DriveC("windows/Microsoft.NET/Framework/v4.0.30319"));
  }
  void Install(const std::string& rel) {
    fs::copy_file(TTU_RECORD_ARGS, DriveC(rel), fs::copy_options::overwrite_existing);
  }
  // What the stand-in recorded, once `runs` runs have finished.
  std::string Recorded(int runs) {
    for (int k = 0; k < 500; ++k) {
      if (Exists(record)) {
        const std::string r = ReadFile(record);
        int ends = 0;
        for (std::size_t p = 0; (p = r.find("end\n", p)) != std::string::npos; ++p) ++ends;
        if (ends >= runs) return r;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "<timeout>";
  }
  std::string record = prefix / "record.txt";
  Launcher& launcher = NativeLauncher();
};

TEST_F(LauncherTest, BareProgramIsFoundInSystem32AndGetsItsArgumentsVerbatim) {
  Install("windows/system32/regsvr32.exe");
  const std::string nasty = "C:\\K K\\a;b $(touch pwned) `id` 'q'.dll";
  launcher.Launch("regsvr32.exe \"" + nasty + "\" /s", kHide);
  const std::string r = Recorded(1);
  EXPECT_NE(r.find("argc 3\n"), std::string::npos) << r;
  EXPECT_NE(r.find("arg " + nasty + "\narg /s\n"), std::string::npos) << r;
  EXPECT_NE(r.find("fds 0 1 2 3 \n"), std::string::npos) << "only stdio (and its listing) inherited: " << r;
  EXPECT_FALSE(Exists("pwned"));
  // The launch leaves no child of ours behind, not even a zombie.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(LauncherTest, ProgramWithAFolderMustBeThereLetterCaseIgnored) {
  Install("windows/Microsoft.NET/Framework/v4.0.30319/regasm.exe");
  launcher.Launch("\"C:\\WINDOWS\\microsoft.net\\Framework\\v4.0.30319\\regasm.exe\" /codebase \"C:\\K\\a.dll\"", kHide);
  EXPECT_NE(Recorded(1).find("arg /codebase\narg C:\\K\\a.dll\n"), std::string::npos);
  EXPECT_EQ(RunErrorNumberOf([&] {
              launcher.Launch("\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v2.0.50727\\regasm.exe\" /nologo", 2);
            }),
            kErrFileNotFound);
  EXPECT_EQ(RunErrorNumberOf([&] { launcher.Launch("no-such-program-anywhere.exe /s", kHide); }), kErrFileNotFound);
}

TEST_F(LauncherTest, WindowsExecutableNeedsWine) {
  WriteFile(DriveC("windows/system32/regsvr32.exe"), "MZ\x90\x00 not really");
  ::chmod(DriveC("windows/system32/regsvr32.exe").c_str(), 0755);
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  ::setenv("PATH", prefix.path().c_str(), 1);  // no wine on it
  EXPECT_EQ(RunErrorNumberOf([&] { launcher.Launch("regsvr32.exe \"x.dll\" /s", kHide); }), kErrFileNotFound);
  ::setenv("PATH", saved.c_str(), 1);
}

// A Windows program (through wine) runs in the prefix's system folder, as
// Windows starts it, never in the updater's current folder, where a library
// that a registered server imports could have been planted; a native program
// keeps the updater's folder.
TEST_F(LauncherTest, AWindowsProgramRunsInThePrefixsSystemFolder) {
  TempDir bin, cwd;
  fs::copy_file(TTU_RECORD_ARGS, bin / "wine");  // records what wine would be asked to run, and where
  const char* saved_path = std::getenv("PATH");
  const std::string saved = saved_path ? saved_path : "";
  const auto saved_cwd = fs::current_path();
  const struct {
    const char* what;
    bool windows;
    std::string cwd;  // recorded
  } rows[] = {
      {"a Windows regsvr32", true, fs::canonical(DriveC("windows/system32")).string()},
      {"a native stand-in", false, fs::canonical(cwd.path()).string()},
  };
  int runs = 0;
  for (const auto& r : rows) {
    fs::remove(DriveC("windows/system32/regsvr32.exe"));
    if (r.windows) {
      WriteFile(DriveC("windows/system32/regsvr32.exe"), "MZ\x90\x00 a Windows program");
    } else {
      Install("windows/system32/regsvr32.exe");
    }
    ::setenv("PATH", bin.path().c_str(), 1);
    fs::current_path(cwd.path());
    launcher.Launch("regsvr32.exe \"C:\\K\\a.dll\" /s", kHide);
    fs::current_path(saved_cwd);
    ::setenv("PATH", saved.c_str(), 1);
    const std::string recorded = Recorded(++runs);
    const std::size_t last = recorded.rfind("argc ");
    EXPECT_NE(recorded.find("cwd " + r.cwd + "\n", last), std::string::npos) << r.what << ": " << recorded;
  }
}

// A program planted where anyone may put one (the current folder, which an
// empty or relative PATH entry names, or the updater's own folder) is never
// started in place of the system's: regsvr32.exe, and wine for a Windows one.
TEST_F(LauncherTest, PlantedProgramsAreNeverStarted) {
  const std::string own_folder = fs::canonical("/proc/self/exe").parent_path();
  const struct {
    const char* path;       // PATH while launching
    std::string planted;    // where the stand-in is put
    bool windows_regsvr32;  // a Windows regsvr32.exe in system32, which needs wine
  } rows[] = {
      {":/nonexistent", "regsvr32.exe", false}, {".", "regsvr32.exe", false},
      {"/nonexistent:", "regsvr32.exe", false}, {"bin:/nonexistent", "bin/regsvr32.exe", false},
      {"./bin", "bin/regsvr32.exe", false},     {"", own_folder + "/regsvr32.exe", false},
      {":/nonexistent", "wine", true},          {".", "wine", true},
      {"bin", "bin/wine", true},                {"", own_folder + "/wine", true},
  };
  const char* saved_path = std::getenv("PATH");
  const std::string saved = saved_path ? saved_path : "";
  const auto saved_cwd = fs::current_path();
  for (const auto& r : rows) {
    TempDir cwd;
    fs::current_path(cwd.path());
    fs::remove(DriveC("windows/system32/regsvr32.exe"));
    if (r.windows_regsvr32) WriteFile(DriveC("windows/system32/regsvr32.exe"), "MZ\x90\x00 a Windows program");
    const std::string planted = r.planted[0] == '/' ? r.planted : cwd / r.planted;
    fs::create_directories(fs::path(planted).parent_path());
    fs::copy_file(TTU_RECORD_ARGS, planted, fs::copy_options::overwrite_existing);
    ::setenv("PATH", r.path, 1);
    EXPECT_EQ(RunErrorNumberOf([&] { launcher.Launch("regsvr32.exe \"C:\\K\\a.dll\" /s", kHide); }), kErrFileNotFound)
        << "PATH=" << r.path << ", " << r.planted;
    ::setenv("PATH", saved.c_str(), 1);
    fs::current_path(saved_cwd);
    fs::remove(planted);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(Exists(record)) << "a planted program ran";
}

// Nothing that another account could have put or changed is started: a
// native regsvr32.exe in a system32 that all may write (a prefix on a disk
// mounted umask=000) or of another account's, and a wine likewise.
TEST_F(LauncherTest, ProgramsAnotherAccountCouldChangeAreNeverStarted) {
  const bool root = ::getuid() == 0;
  TempDir bin;
  const std::string system32 = DriveC("windows/system32"), wine = bin / "wine";
  const struct {
    const char* what;
    bool windows;  // a Windows regsvr32.exe, started through the wine on PATH
    std::function<void()> spoil;
    bool needs_root;
  } rows[] = {
      {"system32 that all may write", false, [&] { ::chmod(system32.c_str(), 0777); }, false},
      {"a regsvr32.exe that all may write", false, [&] { ::chmod((system32 + "/regsvr32.exe").c_str(), 0777); }, false},
      {"a regsvr32.exe of another account's", false, [&] { (void)!::lchown((system32 + "/regsvr32.exe").c_str(), 4343, 4343); }, true},
      {"a wine in a folder that all may write", true, [&] { ::chmod(bin.path().c_str(), 0777); }, false},
      {"a wine of another account's", true, [&] { (void)!::lchown(wine.c_str(), 4343, 4343); }, true},
  };
  const char* saved_path = std::getenv("PATH");
  const std::string saved = saved_path ? saved_path : "";
  for (const auto& r : rows) {
    if (r.needs_root && !root) {
      std::printf("skipped \"%s\": only root can give a file to another account\n", r.what);
      continue;
    }
    fs::remove(system32 + "/regsvr32.exe");
    if (r.windows) {
      WriteFile(system32 + "/regsvr32.exe", "MZ\x90\x00 a Windows program");
    } else {
      Install("windows/system32/regsvr32.exe");
    }
    fs::copy_file(TTU_RECORD_ARGS, wine, fs::copy_options::overwrite_existing);
    r.spoil();
    ::setenv("PATH", bin.path().c_str(), 1);
    EXPECT_EQ(RunErrorNumberOf([&] { launcher.Launch("regsvr32.exe \"C:\\K\\a.dll\" /s", kHide); }),
              kErrPermissionDenied)
        << r.what;
    ::setenv("PATH", saved.c_str(), 1);
    ::chmod(system32.c_str(), 0755);
    ::chmod(bin.path().c_str(), 0700);
    (void)!::lchown(wine.c_str(), ::getuid(), ::getgid());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(Exists(record)) << "a program another account could change ran";
}

}  // namespace
}  // namespace ttu::platform
