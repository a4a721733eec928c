// The packed updater in a real window (under Xvfb in CI), driven the way a
// person drives it: the pointer, clicks and keys of xdotool.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "support/linux_package.h"
#include "tests/test_util.h"
#include "tests/x11_client.h"

namespace ttu::test {
namespace {

const std::string kUpdater = TTU_UPDATER_EXE;
const std::string kPayload = TTU_DOSSARO_ZIP;
constexpr const char* kTitle = "Tessiro Tiny Updater";
constexpr const char* kDoneTitle = "Kelmo S.r.l.";

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto r = RunProgram(argv);
  ASSERT_EQ(r.status, 0) << r.output;
}

void ClickCentre(const WindowInfo& w) { ASSERT_TRUE(ClickAt(w.x + w.width / 2, w.y + w.height / 2)); }

// Keys go to the window under the pointer (no window manager).
void TypeInto(const WindowInfo& w, const std::string& text) {
  Xdotool({"mousemove", std::to_string(w.x + w.width / 2), std::to_string(w.y + 10)});
  Sleep(100);
  Xdotool({"type", "--delay", "20", text});
  Xdotool({"key", "Return"});
}

bool SameBytes(const std::string& a, const std::string& b) {
  return RunProgram({"/usr/bin/cmp", "-s", a, b}).status == 0;
}

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
    if (const std::string missing = MissingFrontEnd(); !missing.empty()) GTEST_SKIP() << missing;
    const auto r = RunProgram({"/bin/bash", std::string(TTU_SOURCE_DIR) + "/scripts/make-demo-prefix", prefix.path()});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  void TearDown() override {
    if (pid > 0 && WaitExit(pid, 0) == -1) Stop(pid);
    for (pid_t h : holders) ::kill(h, SIGKILL), ::waitpid(h, nullptr, 0);
  }
  // Kills the updater and waits until its windows have gone: the X server
  // keeps them a moment, and the next run in a test must not find them.
  void StopUpdater() {
    Stop(pid);
    pid = -1;
    WaitWindowsGone();
  }
  void WaitWindowsGone() {
    for (int k = 0; k < 200; ++k) {
      if (!x.WaitForWindow(kTitle, 0) && !x.WaitForWindow("Setup", 0) && !x.WaitForWindow("Prefisso Wine", 0)) return;
      Sleep(25);
    }
  }
  WindowInfo Start(const std::string& updater = kUpdater) {
    pid = Spawn({updater}, cwd.path(), {"WINEPREFIX=" + prefix.path()});
    auto w = x.WaitForWindow(kTitle, 10000);
    if (!w) ADD_FAILURE() << "the window did not appear";
    return w.value_or(WindowInfo{});
  }
  // Another program keeps the file open until it is killed.
  pid_t Hold(const std::string& path) {
    const pid_t h = HoldOpen(path);
    holders.push_back(h);
    return h;
  }
  void Release(pid_t h) {
    ::kill(h, SIGKILL);
    ::waitpid(h, nullptr, 0);
    holders.erase(std::remove(holders.begin(), holders.end(), h), holders.end());
  }
  std::string Tessiro(const std::string& name) const {
    return prefix / ("drive_c/Programmi/Kelmo/Tessiro/" + name);
  }
  // No maker key, and the program-files fallback holds no Tessiro either:
  // Tessiro is where only the user knows, C:\Altrove\Tessiro.
  void TessiroElsewhere() {
    WriteFile(prefix / "system.reg", "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n"
                                     "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n");
    std::filesystem::create_directories(prefix / "drive_c/Altrove/Tessiro");
    WriteFile(prefix / "drive_c/Altrove/Tessiro/Tessiro.exe", "MZ");
  }
  // The "Setup" box comes after the press; the folder typed there gets the file.
  void TypeTheFolderAndComplete() {
    const auto setup = x.WaitForWindow("Setup", 10000);
    ASSERT_TRUE(setup.has_value()) << "no \"Setup\" box";
    TypeInto(*setup, "C:\\Altrove\\Tessiro");
    ExpectCompletion(60000);
    EXPECT_TRUE(SameBytes(prefix / "drive_c/Altrove/Tessiro/Dossaro.zip", kPayload));
  }
  void ExpectCompletion(int timeout_ms) {
    const auto done = x.WaitForWindow(kDoneTitle, timeout_ms);
    ASSERT_TRUE(done.has_value()) << "no \"Aggiornamento terminato!\"";
    EXPECT_EQ(WaitExit(pid, 300), -1) << "the process waits for the message to be closed";
    // A key that comes while the new box is still being set up is lost; a
    // person presses again.
    int status = -1;
    for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
      Sleep(200);  // where the box has settled
      if (const auto now = x.WaitForWindow(kDoneTitle, 1000)) PressReturnIn(*now);
      status = WaitExit(pid, 2000);
    }
    if (status != 0) {  // what the screen showed, for the report
      WindowInfo root{DefaultRootWindow(XOpenDisplay(nullptr)), 0, 0, 1024, 768};
      x.SavePng(root, std::string(TTU_SCREENSHOT_DIR) + "/failed-completion.png");
    }
    EXPECT_EQ(status, 0);
  }

  X11Client x;
  TempDir cwd, prefix;
  pid_t pid = -1;
  std::vector<pid_t> holders;
};

TEST_F(E2eTest, WindowAppearsAndClosingItEndsTheProcessWithNothingWritten) {
  const WindowInfo w = Start();
  EXPECT_EQ(w.width, 557);
  EXPECT_EQ(w.height, 137);
  Sleep(500);  // drawn, not just mapped
  std::filesystem::create_directories(TTU_SCREENSHOT_DIR);
  EXPECT_TRUE(x.SavePng(w, std::string(TTU_SCREENSHOT_DIR) + "/main-window.png"));
  EXPECT_EQ(WaitExit(pid, 200), -1) << "the updater stays up until closed";
  x.Close(w.id);
  EXPECT_EQ(WaitExit(pid, 5000), 0);
  EXPECT_TRUE(ListDir(cwd.path()).empty());
  EXPECT_FALSE(Exists(Tessiro("Dossaro.zip")));
}

// The window and the "Setup" box at the desktop's scale, from each place a
// desktop sets it: sizes and the caption's text height against 96 dpi.
TEST_F(E2eTest, TheWindowAndTheSetupBoxFollowTheDesktopScale) {
  TessiroElsewhere();
  struct Row {
    const char* why;
    std::vector<std::string> env;
    std::string resources;
    std::vector<std::pair<std::string, int>> xsettings;
    double factor;
  } rows[] = {
      {"96 dpi", {}, "", {}, 1.0},
      {"Xft.dpi 144", {}, "Xft.antialias:\t1\nXft.dpi:\t144\n", {}, 1.5},
      {"Xft.dpi 192", {}, "Xft.dpi:\t192\n", {}, 2.0},
      {"GDK_SCALE=2", {"GDK_SCALE=2"}, "", {}, 2.0},
      {"XSETTINGS Xft/DPI 144", {}, "", {{"Xft/DPI", 144 * 1024}}, 1.5},
      {"XSETTINGS scale 2", {}, "", {{"Gdk/WindowScalingFactor", 2}, {"Xft/DPI", 192 * 1024},
                                     {"Gdk/UnscaledDPI", 96 * 1024}}, 2.0},
  };
  int text96 = 0, setup_w96 = 0, setup_h96 = 0;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    x.SetResources(r.resources);
    if (r.xsettings.empty()) {
      x.StopXSettings();
    } else {
      ASSERT_TRUE(x.PublishXSettings(XSettingsProperty(r.xsettings)));
    }
    std::vector<std::string> env = {"WINEPREFIX=" + prefix.path()};
    env.insert(env.end(), r.env.begin(), r.env.end());
    pid = Spawn({kUpdater}, cwd.path(), env);
    const auto w = x.WaitForWindow(kTitle, 10000);
    ASSERT_TRUE(w);
    EXPECT_NEAR(w->width, 557 * r.factor, 2);
    EXPECT_NEAR(w->height, 137 * r.factor, 2);
    Sleep(500);
    const int text = x.InkHeight(*w, 0.25);
    if (r.factor == 1.0) text96 = text;
    EXPECT_NEAR(text, text96 * r.factor, text96 * r.factor * 0.2) << "the caption's text height";
    if (r.factor == 2.0) x.SavePng(*w, std::string(TTU_SCREENSHOT_DIR) + "/main-window-192.png");
    ClickCentre(*w);
    const auto setup = x.WaitForWindow("Setup", 10000);
    ASSERT_TRUE(setup);
    if (r.factor == 1.0) setup_w96 = setup->width, setup_h96 = setup->height;
    EXPECT_NEAR(setup->width, setup_w96 * r.factor, setup_w96 * r.factor * 0.06);
    EXPECT_NEAR(setup->height, setup_h96 * r.factor, setup_h96 * r.factor * 0.06);
    StopUpdater();
  }
  x.SetResources("");
}

TEST_F(E2eTest, PressingTheButtonDeploysThePackageAndSaysSo) {
  ClickCentre(Start());
  ExpectCompletion(60000);
  EXPECT_TRUE(SameBytes(Tessiro("Dossaro.zip"), kPayload));
  EXPECT_TRUE(ListDir(cwd.path()).empty());
}

TEST_F(E2eTest, TheTessiroFolderIsTypedWhenTheRegistryDoesNotKnowIt) {
  TessiroElsewhere();
  ClickCentre(Start());
  TypeTheFolderAndComplete();
}

TEST_F(E2eTest, AFileHeldOpenIsRetriedOnTheTimerUntilReleased) {
  WriteFile(Tessiro("Dossaro.zip"), "old");
  const pid_t holder = Hold(Tessiro("Dossaro.zip"));
  ClickCentre(Start());
  Sleep(2000);
  EXPECT_FALSE(x.WaitForWindow(kDoneTitle, 0).has_value()) << "the first pass must fail";
  EXPECT_EQ(ReadFile(Tessiro("Dossaro.zip")), "old");
  Release(holder);
  ExpectCompletion(30000);  // the next tick, 20 s after the press
  EXPECT_TRUE(SameBytes(Tessiro("Dossaro.zip"), kPayload));
}

TEST_F(E2eTest, ClosingTheWindowWhileRetriesArePendingEndsAtOnce) {
  WriteFile(Tessiro("Dossaro.zip"), "old");
  Hold(Tessiro("Dossaro.zip"));
  const WindowInfo w = Start();
  ClickCentre(w);
  Sleep(1500);
  x.Close(w.id);
  EXPECT_EQ(WaitExit(pid, 5000), 0);
  EXPECT_EQ(ReadFile(Tessiro("Dossaro.zip")), "old");
  EXPECT_EQ(ListDir(prefix / "drive_c/Programmi/Kelmo/Tessiro"),
            (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}));
}

// An updater damaged after it was packed, in a payload byte, in the checksum
// recorded for it, in its item count or a descriptor (which the seal covers),
// in its package's directory, or cut short as a download can be: the press
// shows the error box (the application's title, beside the window), nothing is
// written and the window stays. The same updater untouched completes.
// Two prefixes of a home folder hold the maker's products and no WINEPREFIX
// is set: at the press the list offers them, the most recently used first and
// selected, and keys alone answer it. The answer decides whose registry is
// read (each names another folder) and where the file goes; Escape writes
// nothing, as cancelling the "Setup" box does.
TEST_F(E2eTest, SeveralPrefixesAreChosenFromAListByKeys) {
  const struct {
    const char* what;
    std::vector<std::string> keys;
    int gets;  // which prefix gets the file: 0 the older, 1 the newer; -1 none
  } rows[] = {
      {"Enter takes the most recently used", {"Return"}, 1},
      {"Down and Enter take the other", {"Down", "Return"}, 0},
      {"Escape cancels the press", {"Escape"}, -1},
  };
  const char* display = std::getenv("DISPLAY");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir home;
    std::vector<std::string> folders;
    for (int k = 0; k < 2; ++k) {
      const std::string p = home / (".wine-" + std::to_string(k));
      ASSERT_EQ(RunProgram({"/bin/bash", std::string(TTU_SOURCE_DIR) + "/scripts/make-demo-prefix", p}).status, 0);
      const std::string folder = "Kelmo" + std::to_string(k);
      std::string reg = ReadFile(p + "/system.reg");
      const std::string kelmo = "C:\\\\Programmi\\\\Kelmo";
      reg.replace(reg.find(kelmo), kelmo.size(), "C:\\\\" + folder);
      WriteFile(p + "/system.reg", reg);
      std::filesystem::create_directories(p + "/drive_c/" + folder + "/Tessiro");
      WriteFile(p + "/drive_c/" + folder + "/Tessiro/Tessiro.exe", "MZ");
      WriteFile(p + "/user.reg", "WINE REGISTRY Version 2\n");
      const timespec used[2] = {{1700000000 + k * 1000, 0}, {1700000000 + k * 1000, 0}};
      ::utimensat(AT_FDCWD, (p + "/user.reg").c_str(), used, 0);
      folders.push_back(p + "/drive_c/" + folder + "/Tessiro/Dossaro.zip");
    }
    pid = Spawn({"/usr/bin/env", "-i", "HOME=" + home.path(), std::string("DISPLAY=") + (display ? display : ""),
                 "PATH=/usr/bin:/bin", kUpdater}, cwd.path());
    const auto w = x.WaitForWindow(kTitle, 10000);
    ASSERT_TRUE(w.has_value());
    ClickCentre(*w);
    const auto list = x.WaitForWindow("Prefisso Wine", 10000);
    ASSERT_TRUE(list.has_value()) << "no list of prefixes";
    Xdotool({"mousemove", std::to_string(list->x + list->width / 2), std::to_string(list->y + 10)});
    Sleep(300);
    for (const auto& key : r.keys) Xdotool({"key", key});
    if (r.gets >= 0) {
      ExpectCompletion(60000);
    } else {
      Sleep(1500);
      EXPECT_FALSE(x.WaitForWindow(kDoneTitle, 0).has_value());
      EXPECT_FALSE(x.WaitForWindow("Prefisso Wine", 0).has_value()) << "the list stays open";
      Stop(pid);
    }
    pid = -1;
    WaitWindowsGone();
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(Exists(folders[static_cast<std::size_t>(k)]), k == r.gets) << "prefix " << k;
    }
  }
}

TEST_F(E2eTest, ADamagedUpdaterWritesNothing) {
  const std::string payload = PseudoRandomBytes(3 << 20, 21);
  WriteFile(cwd / "Dossaro.zip", payload);
  WriteFile(cwd / "Secondo.bin", "second");
  WriteFile(cwd / "p.rc", "STRINGTABLE { 100 \"2\" 101 \"Dossaro.zip|<APPPATH>Tessiro/|N|\"\n"
                          "102 \"Secondo.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM Dossaro.zip\n102 CUSTOM Secondo.bin\n");
  const auto packed = RunProgram({TTU_PACK_EXE, "--stub", TTU_STUB_EXE, cwd / "p.rc", "-o", cwd / "intact"});
  ASSERT_EQ(packed.status, 0) << packed.output;
  const std::string intact = ReadFile(cwd / "intact");
  const std::vector<uint8_t> bytes(intact.begin(), intact.end());
  const auto package = resfmt::FindLinuxPackage(MemorySource(bytes));
  ASSERT_TRUE(package);
  uint64_t at = 0, sum = 0;
  for (const auto& d : package->dir.data) {
    if (d.id == 101 && d.type == "CUSTOM") at = d.offset;
    if (d.id == 101 && d.type == "XXH3_128") sum = d.offset;
  }
  const std::size_t descriptor = FindText(intact, "Dossaro.zip|", true), tessiro = FindText(intact, "Tessiro/", true),
                    custom = FindText(intact, "CUSTOM", false, true), mark = FindText(intact, "TTUDIR01", false, true);
  ASSERT_TRUE(descriptor != std::string::npos && tessiro != std::string::npos && custom != std::string::npos &&
              mark != std::string::npos);
  ASSERT_EQ(intact.substr(descriptor - 4, 2), std::string("2\0", 2)) << "the count stands before descriptor 101";
  const Damage rows[] = {
      {"first payload byte", at}, {"middle payload byte", at + payload.size() / 2},
      {"last payload byte", at + payload.size() - 1}, {"recorded checksum", sum + 7},
      {"item count 2 made 3", descriptor - 4}, {"template Tessiro/ made Tessirn/", tessiro + 12},
      {"a type in the package's directory", custom + 5}, {"the package's directory's mark", mark},
      {"cut short by 3,000 bytes", intact.size() - 3000, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    WriteFile(cwd / "damaged", Damaged(intact, r));
    ::chmod((cwd / "damaged").c_str(), 0755);
    WriteFile(Tessiro("Dossaro.zip"), "old");
    ClickCentre(Start(cwd / "damaged"));
    const auto boxes = x.WaitForWindows(kTitle, 2, 10000);
    ASSERT_EQ(boxes.size(), 2u) << "no error box";
    EXPECT_FALSE(x.WaitForWindow(kDoneTitle, 0).has_value());
    EXPECT_EQ(ReadFile(Tessiro("Dossaro.zip")), "old");
    EXPECT_EQ(ListDir(prefix / "drive_c/Programmi/Kelmo/Tessiro"),
              (std::vector<std::string>{"Dossaro.zip", "Tessiro.exe"}));
    EXPECT_EQ(WaitExit(pid, 300), -1) << "the window stays";
    StopUpdater();
  }
  ClickCentre(Start(cwd / "intact"));
  ExpectCompletion(60000);
  EXPECT_EQ(ReadFile(Tessiro("Dossaro.zip")), payload);
  EXPECT_EQ(ReadFile(Tessiro("Secondo.bin")), "second");
}

// The updater as a distribution ships it: stripped by elfutils (which removes
// more than binutils does), it still carries its package and completes a run.
TEST_F(E2eTest, AStrippedUpdaterCompletesARun) {
  const std::string stripped = cwd / "tessiro-tiny-updater";
  const auto r = RunProgram({"/usr/bin/eu-strip", "-o", stripped, kUpdater});
  ASSERT_EQ(r.status, 0) << r.output;
  ClickCentre(Start(stripped));
  ExpectCompletion(60000);
  EXPECT_TRUE(SameBytes(Tessiro("Dossaro.zip"), kPayload));
}

// The Linux updater as it ships (built against Debian 11's C library, the C++
// runtime linked in) on the systems people have: inside a Debian 11 and a
// Debian 13 root that hold only the libraries a desktop has, it shows the
// "Setup" box for a product the registry does not know, takes the folder
// typed there, and completes the run.
class OtherSystemsTest : public E2eTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    if (IsSkipped()) return;
    if (!Exists(kPortable)) GTEST_SKIP() << "no portable build (scripts/build portable)";
    const auto made = RunProgram({kSource + "/scripts/make-root", GetParam(), "run"});
    if (made.status == 77) GTEST_SKIP() << made.output;
    ASSERT_EQ(made.status, 0) << made.output;
    // Its last line names the root; what it did comes before.
    const std::string out = made.output.substr(0, made.output.find_last_not_of('\n') + 1);
    root_ = out.substr(out.find_last_of('\n') + 1);
  }
  // Inside the root, with this test's folders and the portable build where they are here.
  WindowInfo StartInRoot() {
    const std::string portable_dir = kPortable.substr(0, kPortable.rfind('/'));
    pid = Spawn({kSource + "/scripts/in-root", root_, "--bind", prefix.path(), "--bind", cwd.path(), "--bind",
                 portable_dir, "--", "/usr/bin/env", "WINEPREFIX=" + prefix.path(), kPortable},
                cwd.path(), {"WINEPREFIX=" + prefix.path()});
    auto w = x.WaitForWindow(kTitle, 20000);
    if (!w) ADD_FAILURE() << "the window did not appear";
    return w.value_or(WindowInfo{});
  }
  const std::string kSource = TTU_SOURCE_DIR;
  const std::string kPortable = kSource + "/build-portable/tessiro-tiny-updater";
  std::string root_;
};

TEST_P(OtherSystemsTest, TheSetupBoxIsAnsweredAndTheRunCompletes) {
  TessiroElsewhere();
  ClickCentre(StartInRoot());
  TypeTheFolderAndComplete();
}

INSTANTIATE_TEST_SUITE_P(Debian, OtherSystemsTest, ::testing::Values("bullseye", "trixie"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace ttu::test
