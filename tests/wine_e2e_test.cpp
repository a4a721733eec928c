// The Windows builds of the updater under Wine and Xvfb, driven the way a
// person drives them, against a 64-bit prefix whose registry Wine's own tools
// wrote: the 64-bit twin under wine64, and the shipped 32-bit updater under
// Wine's 32-bit loader (scripts/run-win32), which also answers, through a
// 32-bit probe, what the Linux updater's registry must answer too.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/linux/wine/registry.h"
#include "support/pe_resources.h"
#include "support/text.h"
#include "tests/registry_probe.h"
#include "tests/test_util.h"
#include "tests/word_text.h"
#include "tests/zip_maker.h"
#include "tests/x11_client.h"

namespace ttu::test {
namespace {

namespace fs = std::filesystem;
const std::string kSource = TTU_SOURCE_DIR;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Bits {
  const char* name;
  const char* build;                // the Windows build's folder
  std::vector<std::string> runner;  // what starts a Windows program of this kind
};

void PrintTo(const Bits& b, std::ostream* os) { *os << b.name << "-bit"; }

// With TTU_PRIVATE_DISPLAY set (as ctest runs these tests, several at once),
// each test process draws on an X server of its own: the windows it waits for
// and clicks are its program's alone.
class PrivateDisplay : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("TTU_PRIVATE_DISPLAY")) {
      ASSERT_TRUE(StartPrivateDisplay()) << "Xvfb did not start";
    }
  }
};
[[maybe_unused]] const auto* const kPrivateDisplay = ::testing::AddGlobalTestEnvironment(new PrivateDisplay);

const Bits kBits64{"64", "build-windows64", {"/usr/bin/wine"}};
const Bits kBits32{"32", "build-windows32", {kSource + "/scripts/run-win32"}};

class WineE2eTest : public ::testing::TestWithParam<Bits> {
 protected:
  // One prefix per kind (making one takes seconds), so that a 32-bit run finds
  // only what 32-bit programs wrote.
  static void TearDownTestSuite() {
    for (auto& [kind, dir] : prefixes_) {
      prefix_ = dir.get();
      Wineserver({"-k"});
    }
    prefixes_.clear();
  }
  void SetUp() override {
    auto& dir = prefixes_[GetParam().name];
    if (!dir) dir = std::make_unique<TempDir>();
    prefix_ = dir.get();
    if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
    if (!fs::exists(Build() + "/TessiroTinyUpdater.exe")) GTEST_SKIP() << "no Windows build in " << Build();
    if (std::string(GetParam().name) == "32") {
      static const RunResult setup = RunProgram({kSource + "/scripts/run-win32", "--setup"});
      if (setup.status == 77) GTEST_SKIP() << "32-bit Windows programs cannot run here: " << setup.output;
      ASSERT_EQ(setup.status, 0) << setup.output;
    }
    if (!fs::exists(prefix_->path() + "/system.reg")) {
      const auto boot = BootPrefix(prefix_->path(), [](std::vector<std::string> argv) { return Wine(argv); });
      ASSERT_EQ(boot.status, 0) << boot.output;
    }
    // The maker's key, written by a program of the updater's own kind: a
    // 32-bit reg.exe puts it under Wow6432Node.
    ASSERT_EQ(Run({"reg.exe", "add", "HKLM\\Software\\Kelmo\\Installazione", "/v", "strPath", "/d",
                   "C:\\Programmi\\Kelmo", "/f"}).status, 0);
    fs::create_directories(Tessiro(""));
    WriteFile(Tessiro("Tessiro.exe"), "MZ");
  }
  void TearDown() override { Wineserver({"-k"}); }

  std::string Build() const { return kSource + "/" + GetParam().build; }
  static std::vector<std::string> WineEnv() {
    return {"WINEPREFIX=" + prefix_->path(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  }
  // A Wine program run to its end. Now and then, on a busy machine, a Wine
  // session (more often a 32-bit one under emulation) stops answering: a run
  // that takes more than a few minutes is ended, the session with it, and the
  // run is made once more in a new one.
  static RunResult Wine(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    std::vector<std::string> full{"/usr/bin/env"};
    for (const auto& e : WineEnv()) full.push_back(e);
    full.insert(full.end(), env.begin(), env.end());
    full.insert(full.end(), argv.begin(), argv.end());
    constexpr int kLimitMs = 240000;
    RunResult r = RunProgram(full, "", kLimitMs);
    if (r.status != kTimedOut) return r;
    std::fprintf(stderr, "[wine] %s stopped answering; run again in a new session\n", argv.back().c_str());
    RunProgram({"/usr/bin/env", "WINEPREFIX=" + prefix_->path(), "/usr/bin/wineserver", "-k"}, "", 60000);
    return RunProgram(full, "", kLimitMs);
  }
  static void Wineserver(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/wineserver"};
    argv.insert(argv.end(), args.begin(), args.end());
    Wine(argv);
  }
  // A Windows program of this test's kind, run to its end.
  RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    std::vector<std::string> full = GetParam().runner;
    full.insert(full.end(), argv.begin(), argv.end());
    return Wine(full, env);
  }
  pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    std::vector<std::string> full = GetParam().runner;
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<std::string> all = WineEnv();
    all.insert(all.end(), env.begin(), env.end());
    return Spawn(full, prefix_->path(), all);
  }
  // A folder that anyone may write to, as a downloaded updater sits in.
  static std::string Downloads() { return prefix_->path() + "/drive_c/users/Public/Downloads"; }
  // A copy of one of the build's programs there.
  std::string Downloaded(const std::string& name) {
    const std::string to = Downloads() + "/" + fs::path(name).filename().string();
    fs::create_directories(Downloads());
    fs::copy_file(Build() + "/" + (name.find('/') == std::string::npos ? "tests/windows/" + name : name), to,
                  fs::copy_options::overwrite_existing);
    return to;
  }
  static void Plant(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::remove(to + ".ran");
  }
  // What the screen shows, for the report of a failure.
  void SaveScreen(const std::string& name) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    const WindowInfo root{DefaultRootWindow(d), 0, 0, DisplayWidth(d, 0), DisplayHeight(d, 0)};
    fs::create_directories(std::string(TTU_BINARY_DIR) + "/screenshots");
    x.SavePng(root, std::string(TTU_BINARY_DIR) + "/screenshots/" + name + ".png");
    XCloseDisplay(d);
  }
  static std::string Tessiro(const std::string& name) {
    return prefix_->path() + "/drive_c/Programmi/Kelmo/Tessiro/" + name;
  }
  // Starts the program, presses its button, and closes "Aggiornamento
  // terminato!" when it comes (within `timeout_ms`); `pressed` runs after the press.
  // Starts `exe` and presses its button, which must show the error box (the
  // application's title, beside the window) and not the "done" box; then
  // closes both and waits for the updater to end.
  void PressExpectingTheErrorBox(const std::string& exe) {
    const pid_t pid = Start({exe});
    const auto w = x.WaitForWindow("Tessiro Tiny Updater", 60000);
    ASSERT_TRUE(w.has_value());
    Sleep(500);
    ClickAt(w->x + w->width / 2, w->y + w->height / 2);
    const auto windows = x.WaitForWindows("Tessiro Tiny Updater", 2, 30000);
    EXPECT_EQ(windows.size(), 2u) << "no error box";
    EXPECT_FALSE(x.WaitForWindow("Kelmo S.r.l.", 0).has_value());
    for (const auto& box : windows) {
      if (box.id != w->id) x.Close(box.id);
    }
    Sleep(500);
    x.Close(w->id);
    if (WaitExit(pid, 20000) == -1) Stop(pid);
  }

  int RunToCompletion(const std::string& exe, int timeout_ms = 60000, const std::function<void()>& pressed = {},
                      const std::vector<std::string>& env = {}) {
    const pid_t pid = Start({exe}, env);
    int status = -1;
    if (const auto w = x.WaitForWindow("Tessiro Tiny Updater", 60000)) {
      Sleep(500);
      ClickAt(w->x + w->width / 2, w->y + w->height / 2);
      if (pressed) pressed();
      if (const auto done = x.WaitForWindow("Kelmo S.r.l.", timeout_ms)) {
        Sleep(300);
        ClickAt(done->x + done->width / 2, done->y + done->height - 24);
        status = WaitExit(pid, 20000);
      }
    }
    if (status == -1) Stop(pid);
    return status;
  }

  X11Client x;
  static inline std::map<std::string, std::unique_ptr<TempDir>> prefixes_;
  static inline TempDir* prefix_ = nullptr;  // this test's
};

// The 64-bit updater runs as a release pipeline leaves it: stripped by binutils.
TEST_P(WineE2eTest, ThePackageIsDeployedAndTheProcessEndsWithStatusZero) {
  fs::remove(Tessiro("Dossaro.zip"));
  std::string updater = Build() + "/TessiroTinyUpdater.exe";
  if (std::string(GetParam().name) == "64") {
    const std::string stripped = prefix_->path() + "/TessiroTinyUpdater.exe";
    ASSERT_EQ(RunProgram({"/usr/bin/x86_64-w64-mingw32-strip", "-o", stripped, updater}).status, 0);
    updater = stripped;
  }
  EXPECT_EQ(RunToCompletion(updater), 0);
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("Dossaro.zip"), TTU_DOSSARO_ZIP}).status, 0);
}

// The 64-bit updater packed with compressed payloads beside stored ones, and
// small files compressed together: each file is decoded straight into place,
// whole.
class WineCompressedTest : public WineE2eTest {};

TEST_P(WineCompressedTest, CompressedAndStoredPayloadsAreWrittenWhole) {
  TempDir pkg;
  std::string big;
  while (big.size() < (9u << 20)) big += "riga " + std::to_string(big.size()) + "\n";
  const NamedFiles files = {
      {"grande.txt", big}, {"casuale.bin", PseudoRandomBytes(200000, 5)}, {"vuoto.txt", ""},
      {"programma.dll", ReadFile(Build() + "/TessiroTinyUpdater-stub.exe")},
      {"piccolo.txt", big.substr(0, 300000)}, {"altro.txt", big.substr(100000, 200000)}};
  WritePackage(pkg.path(), files);
  const std::string updater = Downloads() + "/Compresso.exe";
  fs::create_directories(Downloads());
  const auto packed = RunProgram({TTU_PACK_EXE, "--stub", Build() + "/TessiroTinyUpdater-stub.exe", "--compress=9",
                                  pkg / "p.rc", "-o", updater});
  ASSERT_EQ(packed.status, 0) << packed.output;
  const auto listed = RunProgram({TTU_PACK_EXE, "--list", updater});
  EXPECT_NE(listed.output.find("payload ZSTD 101"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("payload CUSTOM 102"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("payload ZPART 104"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("(in group 1 of "), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("payload ZPART 106"), std::string::npos) << listed.output;
  EXPECT_EQ(RunToCompletion(updater), 0);
  for (const auto& [name, bytes] : files) EXPECT_TRUE(ReadFile(Tessiro(name)) == bytes) << name;
}

// The 64-bit updater carrying the changes to the installed version only: a
// program patched and grown, a file unchanged (not written again), a new one.
// On the installed version it rebuilds each file; on another (one byte
// changed), it shows its error box and writes nothing, unless the package also
// carries the files whole.
TEST_P(WineCompressedTest, DeltasRebuildTheInstalledVersionAndNoOther) {
  TempDir old, pkg;
  const std::string program = ReadFile(Build() + "/TessiroTinyUpdater-stub.exe");
  std::string patched = program;
  patched.insert(10000, std::string(37, '\x90'));
  for (std::size_t k = 20000; k < patched.size(); k += 4099) patched[k] ^= 0x01;
  // An archive with a member changed: rebuilt through its members, byte for byte.
  const std::string words = WordText(200000, 3);
  const std::string old_zip = MakeZip({{"a.txt", words, {}}, {"b.dll", program.substr(0, 100000), {9}}}),
                    new_zip = MakeZip({{"a.txt", words.substr(0, 9000) + "nuovo" + words.substr(9000), {}},
                                       {"b.dll", program.substr(0, 100000), {9}}});
  // Members at every level and strategy of this zlib, deflated again by the Windows updater's own.
  std::vector<ZipEntry> old_levels, new_levels;
  for (int level = 1; level <= 9; ++level) {
    for (const auto strategy : {deflater::Strategy::kDefault, deflater::Strategy::kFiltered, deflater::Strategy::kHuffmanOnly,
                                deflater::Strategy::kRle, deflater::Strategy::kFixed}) {
      const bool odd = strategy == deflater::Strategy::kDefault;  // a larger memory, a smaller window
      const deflater::Settings at{level, strategy, odd && level == 4 ? 9 : 8, odd && level == 7 ? 12 : 15};
      const std::string name = "m" + std::to_string(old_levels.size()) + ".txt";
      const std::string text = WordText(6000, static_cast<uint32_t>(old_levels.size()));
      old_levels.push_back({name, text, at});
      new_levels.push_back({name, text.substr(0, 3000) + "cambiato" + text.substr(3000), at});
    }
  }
  // Members reordered, changed, stored, added, removed and renamed.
  const std::string r = WordText(30000, 7);
  const std::string old_moved = MakeZip({{"a.txt", words, {}}, {"s.txt", r.substr(0, 5000), {0}}, {"r.txt", r, {}},
                                         {"via.txt", "tolto", {}}, {"vecchio.txt", r.substr(100, 9000), {}}}),
                    new_moved = MakeZip({{"r.txt", r + "in coda", {}}, {"nuovo.txt", "aggiunto", {}},
                                         {"a.txt", "in testa" + words, {}}, {"s.txt", r.substr(10, 5000), {0}},
                                         {"rinominato.txt", r.substr(100, 9000), {}}});
  const NamedFiles previous = {{"programma.dll", program}, {"uguale.txt", "uguale"}, {"archivio.zip", old_zip},
                               {"livelli.zip", MakeZip(old_levels)}, {"riordinato.zip", old_moved}},
                   files = {{"programma.dll", patched}, {"uguale.txt", "uguale"}, {"nuovo.txt", "nuovo"},
                            {"archivio.zip", new_zip}, {"livelli.zip", MakeZip(new_levels)},
                            {"riordinato.zip", new_moved}};
  WritePackage(pkg.path(), files);
  for (const auto& [name, bytes] : previous) WriteFile(old / name, bytes);
  struct Row {
    const char* what;
    std::vector<std::string> options;
    bool one_byte_changed, written;
  } rows[] = {
      {"the installed version", {}, false, true},
      {"another version", {}, true, false},
      {"another version, the files whole beside", {"--with-full"}, true, true},
  };
  fs::create_directories(Downloads());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string updater = Downloads() + "/Delta.exe";
    std::vector<std::string> argv = {TTU_PACK_EXE, "--stub", Build() + "/TessiroTinyUpdater-stub.exe", "--compress=9",
                                     "--delta-from", old.path()};
    argv.insert(argv.end(), row.options.begin(), row.options.end());
    argv.insert(argv.end(), {pkg / "p.rc", "-o", updater});
    const auto packed = RunProgram(argv);
    ASSERT_EQ(packed.status, 0) << packed.output;
    const std::string listed = RunProgram({TTU_PACK_EXE, "--list", updater}).output;
    EXPECT_NE(listed.find("payload DELTA 101"), std::string::npos) << listed;
    EXPECT_NE(listed.find("delta (ZIP, 1 of 1 changed deflated members re-made"), std::string::npos) << listed;
    EXPECT_NE(listed.find("delta (ZIP, 45 of 45 changed deflated members re-made"), std::string::npos) << listed;
    for (const auto& [name, bytes] : previous) WriteFile(Tessiro(name), bytes);
    if (row.one_byte_changed) {
      std::string changed = program;
      changed[5000] ^= 0x01;
      WriteFile(Tessiro("programma.dll"), changed);
    }
    const std::string installed = ReadFile(Tessiro("programma.dll"));
    fs::remove(Tessiro("nuovo.txt"));
    if (row.written) {
      EXPECT_EQ(RunToCompletion(updater), 0);
      for (const auto& [name, bytes] : files) EXPECT_TRUE(ReadFile(Tessiro(name)) == bytes) << name;
      continue;
    }
    PressExpectingTheErrorBox(updater);
    EXPECT_TRUE(ReadFile(Tessiro("programma.dll")) == installed);
    EXPECT_FALSE(fs::exists(Tessiro("nuovo.txt")));
  }
}

// At 192 DPI (Wine's LogPixels) the window, the "Setup" box and the message
// box are twice as large as at 96 DPI, and so is their text: nothing is
// clipped. Measured on the screen, by size and by the pixels of the text.
// The 32-bit updater lays itself out with the same code.
class WineDpiTest : public WineE2eTest {};

TEST_P(WineDpiTest, TheWindowAndItsBoxesScaleWithTheDpi) {
  // Text pixels: dark ones inside the frames and borders (an inner part of each box).
  auto dark = [](int r, int g, int b) { return r + g + b < 200; };
  struct Seen {
    WindowInfo window, setup, done;
    int window_text = 0, setup_text = 0, done_text = 0;
  };
  auto measure = [&](int dpi) {
    Seen seen;
    Run({"reg.exe", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
         std::to_string(dpi), "/f"});
    Wineserver({"-w"});
    fs::remove(Tessiro("Tessiro.exe"));
    const pid_t pid = Start({Build() + "/tests/windows/TessiroTinyUpdaterComTest.exe"});
    if (const auto w = x.WaitForWindow("Tessiro Tiny Updater", 60000)) {
      Sleep(1000);
      seen.window = *w, seen.window_text = x.CountPixels(*w, dark, 0.2);
      ClickAt(w->x + w->width / 2, w->y + w->height / 2);
      const auto setup = x.WaitForWindow("Setup", 20000);
      if (!setup) SaveScreen("no-setup-box-" + std::to_string(dpi));
      if (setup) {
        Sleep(1000);
        seen.setup = *setup, seen.setup_text = x.CountPixels(*setup, dark, 0.1);
        WriteFile(Tessiro("Tessiro.exe"), "MZ");
        x.Close(setup->id);  // cancelled: the pass fails
        // Found now, the run completes; a press that lands while the cancelled
        // pass is still under way is dropped, and a person presses again.
        std::optional<WindowInfo> done;
        for (int attempt = 0; attempt < 4 && !done; ++attempt) {
          Sleep(1000);
          ClickAt(w->x + w->width / 2, w->y + w->height / 2);
          done = x.WaitForWindow("Kelmo S.r.l.", 8000);
        }
        if (!done) SaveScreen("no-done-box-" + std::to_string(dpi));
        if (done) {
          Sleep(1000);
          seen.done = *done, seen.done_text = x.CountPixels(*done, dark, 0.05);
          ClickAt(done->x + done->width / 2, done->y + done->height - 24 * dpi / 96);
        }
      }
    }
    if (WaitExit(pid, 20000) == -1) Stop(pid);
    WriteFile(Tessiro("Tessiro.exe"), "MZ");
    return seen;
  };
  const Seen at96 = measure(96), at192 = measure(192);
  Run({"reg.exe", "delete", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/f"});
  // The main window is laid out by the updater: exactly twice as large. The
  // boxes are laid out by the system, in dialog units and with its icons.
  const struct {
    const char* what;
    const WindowInfo &small, &large;
    int small_text, large_text;
    double tolerance;
  } rows[] = {{"main window", at96.window, at192.window, at96.window_text, at192.window_text, 0.01},
              {"Setup box", at96.setup, at192.setup, at96.setup_text, at192.setup_text, 0.2},
              {"message box", at96.done, at192.done, at96.done_text, at192.done_text, 0.4}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_GT(r.small.width, 0) << "not seen at 96 DPI";
    ASSERT_GT(r.large.width, 0) << "not seen at 192 DPI";
    EXPECT_NEAR(double(r.large.width) / r.small.width, 2.0, r.tolerance) << r.small.width << " -> " << r.large.width;
    EXPECT_NEAR(double(r.large.height) / r.small.height, 2.0, r.tolerance) << r.small.height << " -> " << r.large.height;
    // Text twice as high and wide has about four times the pixels; clipped, far fewer.
    EXPECT_GT(r.large_text, 3 * r.small_text) << r.small_text << " -> " << r.large_text;
  }
}

// A Windows program holds the target open: the first pass fails, the 20-second
// timer retries, and the run completes once the file is released.
TEST_P(WineE2eTest, AFileHeldOpenByAWindowsProgramIsRetriedUntilReleased) {
  WriteFile(Tessiro("Dossaro.zip"), "old");
  const std::string ready = prefix_->path() + "/ready", release = prefix_->path() + "/release";
  fs::remove(ready), fs::remove(release);
  const pid_t holder = Start({Build() + "/tests/windows/hold-open.exe", "C:\\Programmi\\Kelmo\\Tessiro\\Dossaro.zip",
                              "Z:" + ready, "Z:" + release});
  for (int k = 0; k < 300 && !fs::exists(ready); ++k) Sleep(100);
  ASSERT_TRUE(fs::exists(ready)) << "the holder did not open the file";
  const int status = RunToCompletion(Build() + "/TessiroTinyUpdater.exe", 90000, [&] {
    Sleep(3000);
    EXPECT_EQ(ReadFile(Tessiro("Dossaro.zip")), "old") << "written while held open";
    WriteFile(release, "");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("Dossaro.zip"), TTU_DOSSARO_ZIP}).status, 0);
  WaitExit(holder, 10000);
}

// An updater downloaded into a folder anyone may write to, started from
// another such folder: a regsvr32.exe planted in either never runs, and the
// system's own regsvr32 (of the server's kind) registers the server.
TEST_P(WineE2eTest, AComServerIsRegisteredByTheSystemsRegsvr32NotAPlantedOne) {
  Run({"reg.exe", "delete", "HKLM\\Software\\TessiroTest", "/f"});
  const std::string updater = Downloaded("TessiroTinyUpdaterComTest.exe");
  const std::vector<std::string> planted = {Downloads() + "/regsvr32.exe", prefix_->path() + "/regsvr32.exe"};
  for (const auto& p : planted) Plant(Build() + "/tests/windows/planted.exe", p);
  EXPECT_EQ(RunToCompletion(updater), 0);
  EXPECT_TRUE(fs::exists(Tessiro("LEGGIMI.txt")));
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("TessiroTestCom.dll"),
                        Build() + "/tests/windows/TessiroTestCom.dll"}).status, 0);
  // regsvr32 runs on after the updater has ended: wait for the key it writes,
  // in that kind's view.
  RunResult q;
  for (int k = 0; k < 60; ++k, Sleep(500)) {
    q = Run({"reg.exe", "query", "HKLM\\Software\\TessiroTest", "/v", "TessiroTestCom"});
    if (q.output.find("registered") != std::string::npos) break;
  }
  EXPECT_NE(q.output.find("registered"), std::string::npos) << q.output;
  for (const auto& p : planted) EXPECT_FALSE(fs::exists(p + ".ran")) << p << " ran";
}

// The system's regsvr32 is started in the system folder: a library that the
// registered server imports, and that is not beside it, is never taken from
// the folder the updater was downloaded to or started from, where anyone may
// have put one; a regsvr32 started from there takes it.
TEST_P(WineE2eTest, RegistrationNeverTakesALibraryFromTheUpdatersFolders) {
  Run({"reg.exe", "delete", "HKLM\\Software\\TessiroTest", "/f"});
  const std::string updater = Downloaded("TessiroTinyUpdaterComDepTest.exe");
  const std::vector<std::string> planted = {Downloads() + "/TessiroTestDep.dll",
                                            prefix_->path() + "/TessiroTestDep.dll"};
  for (const auto& p : planted) Plant(Build() + "/tests/windows/TessiroTestDep.dll", p);
  EXPECT_EQ(RunToCompletion(updater), 0);
  ASSERT_TRUE(fs::exists(Tessiro("TessiroTestComDep.dll")));
  Wineserver({"-w"});  // regsvr32 runs on after the updater: its end
  for (const auto& p : planted) EXPECT_FALSE(fs::exists(p + ".ran")) << p << " was loaded";
  EXPECT_EQ(Run({"reg.exe", "query", "HKLM\\Software\\TessiroTest"}).output.find("registered"), std::string::npos);
  // The check that counts: the same regsvr32 started from that folder takes the planted library.
  std::vector<std::string> argv{"/usr/bin/env"};
  for (const auto& e : WineEnv()) argv.push_back(e);
  argv.insert(argv.end(), GetParam().runner.begin(), GetParam().runner.end());
  argv.insert(argv.end(), {"regsvr32", "/s", "C:\\Programmi\\Kelmo\\Tessiro\\TessiroTestComDep.dll"});
  RunProgram(argv, prefix_->path());
  Wineserver({"-w"});
  EXPECT_TRUE(fs::exists(planted[1] + ".ran")) << "regsvr32 does not look in its current folder: the test shows nothing";
}

// Libraries of the tests' own under the names of those that the updater loads
// once it runs (its window's and its dialogs', found with WINEDEBUG=+loaddll),
// planted beside it and in the current folder, with Wine told to prefer such
// copies to its own: a program that does not restrict the search takes them,
// the updater never does. (Those that Wine's own user32 brings in before the
// program's first instruction are Wine's matter: Windows loads them from the
// system folder: imm32 and version.)
TEST_P(WineE2eTest, PlantedLibrariesAreNeverLoaded) {
  const std::vector<std::string> names = {"uxtheme", "ole32", "combase", "rpcrt4", "comctl32"};
  std::string preferred = "WINEDLLOVERRIDES=mscoree,mshtml=";
  for (const auto& n : names) preferred += ";" + n + "=n,b";
  const std::string updater = Downloaded("TessiroTinyUpdaterComTest.exe");
  const std::string loader = Downloaded("tests/windows/load-library.exe");
  std::vector<std::string> planted;
  for (const auto& n : names) {
    for (const auto& dir : {Downloads(), prefix_->path()}) {
      planted.push_back(dir + "/" + n + ".dll");
      Plant(Build() + "/tests/windows/planted.dll", planted.back());
    }
    // The check that counts: a program that does not restrict the search loads it.
    Run({loader, n + ".dll"}, {preferred});
    ASSERT_TRUE(fs::exists(Downloads() + "/" + n + ".dll.ran")) << n << ".dll is not taken even without protection";
    fs::remove(Downloads() + "/" + n + ".dll.ran");
  }
  EXPECT_EQ(RunToCompletion(updater, 60000, {}, {preferred}), 0);
  for (const auto& p : planted) EXPECT_FALSE(fs::exists(p + ".ran")) << p << " was loaded";
}

// An updater damaged after it was packed, in a byte of its first payload, in
// the checksum recorded for it, in its item count or a descriptor (which the
// seal covers), or in its resource directory: the press shows the error box
// (the application's title, beside the window) and nothing is written; the
// window then closes as ever. Cut short, as a download can be, it never
// starts: the system's loader refuses an image whose sections lie past its end.
TEST_P(WineE2eTest, ADamagedUpdaterWritesNothing) {
  const std::string intact = ReadFile(Build() + "/tests/windows/TessiroTinyUpdaterComTest.exe");
  const std::vector<uint8_t> bytes(intact.begin(), intact.end());
  const MemorySource source(bytes);
  const auto image = pe::ReadImage(source);
  ASSERT_TRUE(image);
  const auto resources = pe::ReadResources(source, *image);
  ASSERT_TRUE(resources);
  uint64_t at = 0, size = 0, sum = 0;
  for (const auto& r : *resources) {
    if (r.name.id != 101) continue;
    if (r.type.ToString() == "CUSTOM") at = *image->FileOffset(r.rva, r.size), size = r.size;
    if (r.type.ToString() == "XXH3_128") sum = *image->FileOffset(r.rva, r.size);
  }
  ASSERT_TRUE(at && size > 2 && sum) << "no payload 101 with its checksum";
  const std::size_t descriptor = FindText(intact, "LEGGIMI.txt|", true), tessiro = FindText(intact, "Tessiro/", true),
                    custom = FindText(intact, "CUSTOM", true);
  ASSERT_TRUE(descriptor != std::string::npos && tessiro != std::string::npos && custom != std::string::npos);
  ASSERT_EQ(intact.substr(descriptor - 4, 2), std::string("2\0", 2)) << "the count stands before descriptor 101";
  const Damage rows[] = {
      {"first payload byte", at}, {"middle payload byte", at + size / 2},
      {"last payload byte", at + size - 1}, {"recorded checksum", sum + 7},
      {"item count 2 made 3", descriptor - 4}, {"template Tessiro/ made Tessirn/", tessiro + 12},
      {"a type's name in the resource directory", custom + 10},
      {"cut short by 3,000 bytes", intact.size() - 3000, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    fs::create_directories(Downloads());
    WriteFile(Downloads() + "/damaged.exe", Damaged(intact, r));
    WriteFile(Tessiro("LEGGIMI.txt"), "old");
    fs::remove(Tessiro("TessiroTestCom.dll"));
    if (r.cut) {  // the image's last section is cut: the system's loader refuses to start it
      const pid_t pid = Start({Downloads() + "/damaged.exe"});
      EXPECT_NE(WaitExit(pid, 60000), 0);
      EXPECT_FALSE(x.WaitForWindow("Tessiro Tiny Updater", 0).has_value());
      EXPECT_EQ(ReadFile(Tessiro("LEGGIMI.txt")), "old");
      continue;
    }
    PressExpectingTheErrorBox(Downloads() + "/damaged.exe");
    EXPECT_EQ(ReadFile(Tessiro("LEGGIMI.txt")), "old");
    EXPECT_FALSE(fs::exists(Tessiro("TessiroTestCom.dll")));
  }
}

// The Linux updater on the same prefix: the 64-bit one, made by a Wine without
// its 32-bit part, is read as a 64-bit program reads it (the maker's key that
// the 64-bit reg.exe wrote); the one with a 32-bit side as the shipped 32-bit
// program reads it (the key under Wow6432Node).
TEST_P(WineE2eTest, TheLinuxUpdaterFindsTheMakersKeyWrittenByThisKindsRegExe) {
  Wineserver({"-w"});  // the hives are on disk once the server has ended
  platform::WineRegistry registry(prefix_->path());
  EXPECT_EQ(registry.Wow64View(), std::string(GetParam().name) == "32") << "not the prefix this kind makes";
  fs::remove(Tessiro("Dossaro.zip"));
  const pid_t pid = Spawn({TTU_UPDATER_EXE}, prefix_->path(), WineEnv());
  int status = -1;
  if (const auto w = x.WaitForWindow("Tessiro Tiny Updater", 10000)) {
    ClickAt(w->x + w->width / 2, w->y + w->height / 2);
    EXPECT_FALSE(x.WaitForWindow("Setup", 3000).has_value()) << "the folder was not found in the registry";
    if (const auto done = x.WaitForWindow("Kelmo S.r.l.", 30000)) {
      for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
        Sleep(200);
        if (const auto now = x.WaitForWindow("Kelmo S.r.l.", 1000)) PressReturnIn(*now);
        status = WaitExit(pid, 2000);
      }
    }
  }
  if (status == -1) Stop(pid);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("Dossaro.zip"), TTU_DOSSARO_ZIP}).status, 0);
}

// A person who keeps the maker's products in a bottle of Bottles (a real
// prefix where Bottles keeps them, run with the system's Wine) double-clicks
// the Linux updater: no WINEPREFIX, nothing in its environment but HOME and
// DISPLAY. The updater finds the bottle by itself, writes there, and
// registers the COM server in it with the bottle's Wine.
TEST(WineBottleE2eTest, TheLinuxUpdaterFindsTheBottleAndRegistersInIt) {
  X11Client x;
  if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
  const std::string com_dir = kSource + "/build-windows64/tests/windows";
  if (!fs::exists(com_dir + "/TessiroTestCom.dll")) GTEST_SKIP() << "no Windows build in " << com_dir;
  TempDir home;
  const std::string bottle = home / ".local/share/bottles/bottles/Kelmo";
  fs::create_directories(bottle);
  WriteFile(home / ".local/share/bottles/bottles/Kelmo/bottle.yml", "Name: Kelmo\nRunner: sys-wine-8.0\nArch: win64\n");
  const std::vector<std::string> wine_env = {"/usr/bin/env", "WINEPREFIX=" + bottle, "WINEDEBUG=-all",
                                             "WINEDLLOVERRIDES=mscoree,mshtml="};
  auto wine = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), wine_env.begin(), wine_env.end());
    return RunProgram(argv, "", 240000);  // a session that stops answering fails, not hangs
  };
  const auto boot = BootPrefix(bottle, wine);
  ASSERT_EQ(boot.status, 0) << boot.output;
  ASSERT_EQ(wine({"/usr/bin/wine", "reg.exe", "add", "HKLM\\Software\\Kelmo\\Installazione", "/v", "strPath", "/d",
                  "C:\\Programmi\\Kelmo", "/f"}).status, 0);
  wine({"/usr/bin/wineserver", "-w"});
  const std::string tessiro = bottle + "/drive_c/Programmi/Kelmo/Tessiro/";
  fs::create_directories(tessiro);
  WriteFile(tessiro + "Tessiro.exe", "MZ");
  const std::string updater = home / "tessiro-tiny-updater";
  const auto packed = RunProgram({TTU_PACK_EXE, "--stub", TTU_STUB_EXE, "-I", com_dir,
                                  kSource + "/tests/windows/com_package.rc", "-o", updater});
  ASSERT_EQ(packed.status, 0) << packed.output;

  const char* display = std::getenv("DISPLAY");
  const pid_t pid = Spawn({"/usr/bin/env", "-i", "HOME=" + home.path(), std::string("DISPLAY=") + (display ? display : ""),
                           updater}, home.path());
  int status = -1;
  if (const auto w = x.WaitForWindow("Tessiro Tiny Updater", 20000)) {
    Sleep(300);
    ClickAt(w->x + w->width / 2, w->y + w->height / 2);
    EXPECT_FALSE(x.WaitForWindow("Setup", 3000).has_value()) << "the bottle's registry was not read";
    if (const auto done = x.WaitForWindow("Kelmo S.r.l.", 60000)) {
      for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {  // a key before the box settled is lost
        Sleep(300);
        if (const auto now = x.WaitForWindow("Kelmo S.r.l.", 1000)) PressReturnIn(*now);
        status = WaitExit(pid, 4000);
      }
    }
  }
  if (status == -1) Stop(pid);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(tessiro + "TessiroTestCom.dll"), ReadFile(com_dir + "/TessiroTestCom.dll"));
  RunResult q;  // regsvr32 runs on after the updater has ended
  for (int k = 0; k < 120; ++k, Sleep(500)) {
    q = wine({"/usr/bin/wine", "reg.exe", "query", "HKLM\\Software\\TessiroTest", "/v", "TessiroTestCom"});
    if (q.output.find("registered") != std::string::npos) break;
  }
  EXPECT_NE(q.output.find("registered"), std::string::npos) << q.output;
  wine({"/usr/bin/wineserver", "-k"});
}

// A registry file for `reg import`: UTF-16 with a byte-order mark, as regedit writes it.
void WriteRegFile(const std::string& path, const std::string& utf8) {
  const std::u16string units = u"\xFEFF" + text::Utf8ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + utf8);
  std::string bytes;
  for (char16_t u : units) bytes += static_cast<char>(u & 0xFF), bytes += static_cast<char>(u >> 8);
  WriteFile(path, bytes);
}

// A string value's data in a registry file: "hex(N):" and its UTF-16 bytes with the NULs.
std::string RegHex(int type, const std::u16string& text) {
  std::string out = "hex(" + std::to_string(type) + "):";
  char b[8];
  for (char16_t u : text + u'\0') {
    std::snprintf(b, sizeof b, "%02x,%02x,", u & 0xFF, u >> 8);
    out += b;
  }
  out.pop_back();
  return out;
}

// Values written with Wine's own tools, in both views, read by the shipped
// 32-bit program's registry code and by the Linux updater's registry, each
// under the same locale (and so the same ANSI code page): the same bytes,
// case by case.
class WineRegistryAgreement : public WineE2eTest {
 protected:
  // Locales compiled with localedef into the build folder, once.
  static std::string Locales() {
    const std::string dir = std::string(TTU_BINARY_DIR) + "/locales";
    fs::create_directories(dir);
    for (const char* l : {"el_GR", "ru_RU", "pl_PL", "tr_TR", "ja_JP", "zh_CN", "ko_KR", "zh_TW", "hi_IN"}) {
      if (!fs::exists(dir + "/" + l + ".UTF-8")) RunProgram({"/usr/bin/localedef", "-i", l, "-f", "UTF-8", dir + "/" + l + ".UTF-8"});
    }
    return dir;
  }
  void WriteValues() {
    const std::string d = "HKEY_LOCAL_MACHINE\\Software\\TessiroDiff", c = "HKEY_CURRENT_USER\\Software\\TessiroCase";
    const std::string clsid = "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{7E55150D-0000-0000-0000-000000000001}";
    // The 64-bit view, the shared classes and the user's hive, by the 64-bit reg.exe.
    WriteRegFile(prefix_->path() + "/values64.reg",
                 "[" + d + "\\Both]\r\n\"v\"=\"sixty-four\"\r\n[" + d + "\\Solo64]\r\n\"v\"=\"64 only\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\Classes\\TessiroDiff]\r\n\"v\"=\"classes\"\r\n"
                 "[" + clsid + "]\r\n@=\"64\"\r\n[HKEY_CURRENT_USER\\Software\\TessiroDiff]\r\n\"v\"=\"user\"\r\n"
                 "[" + c + "\\Ελληνικά Κλειδί]\r\n\"Τιμή\"=\"ναι\"\r\n[" + c + "\\Σίσυφος]\r\n@=\"βράχος\"\r\n"
                 "[" + c + "\\Ключ Ёж]\r\n\"Значение\"=\"да\"\r\n[" + c + "\\Ґанок Ђ]\r\n@=\"ї\"\r\n"
                 "[" + c + "\\Straße]\r\n@=\"ß\"\r\n[" + c + "\\Ÿvonne]\r\n@=\"ÿ\"\r\n[" + c + "\\Łódź Żółć]\r\n@=\"ŁÓDŹ\"\r\n"
                 "[" + c + "\\Iğdır İzmir]\r\n@=\"ı\"\r\n[" + c + "\\ＡＢＣ全角]\r\n@=\"ａｂｃ\"\r\n"
                 "[" + c + "\\日本語キー]\r\n\"値\"=\"テキスト\"\r\n[" + c + "\\中文键]\r\n\"值\"=\"简体\"\r\n"
                 "[" + c + "\\繁體鍵]\r\n\"值\"=\"繁體\"\r\n[" + c + "\\한국어 키]\r\n\"값\"=\"텍스트\"\r\n"
                 "[" + c + "\\हिन्दी]\r\n\"मान\"=\"पाठ 😀\"\r\n[" + c + "\\" + std::string(255, 'k') + "]\r\n@=\"long\"\r\n");
    // The 32-bit view, by the 32-bit reg.exe.
    WriteRegFile(prefix_->path() + "/values32.reg",
                 "[" + d + "\\Both]\r\n\"v\"=\"own kind\"\r\n[" + d + "\\SoloOwn]\r\n\"v\"=\"own only\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\Città\\Società]\r\n\"Perché\"=\"Così è\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\Šk]\r\n\"Œuvre\"=\"ÿ\"\r\n[" + clsid + "]\r\n@=\"own kind\"\r\n"
                 "[" + d + "\\Text]\r\n\"lukasz\"=\"C:\\\\users\\\\Łukasz\"\r\n\"emoji\"=\"a😀b\"\r\n\"cjk\"=\"中文≤€\"\r\n"
                 "\"empty\"=\"\"\r\n\"long\"=\"" + std::string(3000, 'x') + "\"\r\n"
                 "\"expand\"=" + RegHex(2, u"%SystemRoot%\\Città") + "\r\n"
                 "\"multi\"=" + RegHex(7, std::u16string(u"uno\0due", 7)) + "\r\n"
                 "\"dword\"=dword:ffffffff\r\n\"binary\"=hex:00,ff,10\r\n@=\"default\"\r\n"
                 "\"japanese\"=\"テキスト\"\r\n\"greek\"=\"Σίσυφος\"\r\n\"accents\"=\"àéîõü ÀÉÎÕÜ\"\r\n");
    const auto r64 = Wine({"/usr/bin/wine", "reg", "import", "Z:" + prefix_->path() + "/values64.reg"});
    ASSERT_EQ(r64.status, 0) << r64.output;
    const auto r32 = Run({"reg.exe", "import", "Z:" + prefix_->path() + "/values32.reg"});
    ASSERT_EQ(r32.status, 0) << r32.output;
    Wineserver({"-w"});  // the hives are on disk once the server has ended
  }
};

// The probe's answer lines, without what Wine prints besides.
std::vector<std::string> ProbeAnswers(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("query", 0) == 0 || line.rfind("open", 0) == 0 || line.rfind("code page", 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST_P(WineRegistryAgreement, TheLinuxRegistryAnswersWhatTheShippedProgramReads) {
  WriteValues();
  const std::string L = "HKEY_LOCAL_MACHINE\\", T = L + "Software\\TessiroDiff\\Text\t";
  const std::string C = "HKEY_CURRENT_USER\\Software\\TessiroCase\\", k = std::string(255, 'k');
  const std::string clsid = "CLSID\\{7E55150D-0000-0000-0000-000000000001}";
  const std::vector<std::string> cases = {
      // The two views, the shared classes, the user's hive.
      L + "Software\\Kelmo\\Installazione\tstrPath", L + "Software\\Wow6432Node\\Kelmo\\Installazione\tstrPath",
      L + "Software\\Wow6432Node\\Kelmo\\Installazione\tstrPath\twhole", L + "Software\\Kelmo\\Installazione\tstrPath\twhole",
      L + "Software\\Wow6432Node\\Wow6432Node\\Kelmo\tstrPath\twhole",
      L + "Software\\Microsoft\\Windows\\CurrentVersion\tProgramFilesDir",
      L + "Software\\Microsoft\\Windows\\CurrentVersion\tCommonFilesDir",
      L + "Software\\TessiroDiff\\Both\tv", L + "Software\\TessiroDiff\\Solo64\tv",
      L + "Software\\TessiroDiff\\SoloOwn\tv", L + "Software\\TessiroDiff\\Missing\tv",
      L + "Software\\TessiroDiff\\Both\tv\twhole", L + "Software\\TessiroDiff\\Solo64\tv\twhole",
      L + "Software\\Classes\\TessiroDiff\tv", "HKEY_CLASSES_ROOT\\TessiroDiff\tv", "HKEY_CLASSES_ROOT\\" + clsid + "\t",
      L + "Software\\Classes\\" + clsid + "\t", L + "Software\\Classes\\" + clsid + "\t\twhole",
      L + "Software\\Classes\\Wow6432Node\\" + clsid + "\t\twhole", "HKEY_CURRENT_USER\\Software\\TessiroDiff\tv",
      // Names and text in the ANSI code page.
      L + "Software\\Città\\Società\tPerché", L + "SOFTWARE\\CITTÀ\\SOCIETÀ\tPERCHÉ",
      L + "Software\\šK\tœUVRE", L + "Software\\ŠK\tŒuvre",
      T + "lukasz", T + "emoji", T + "cjk", T + "empty", T + "long", T + "expand", T + "multi", T + "dword",
      T + "binary", T, T + "missing", T + "japanese", T + "greek", T + "accents",
      // Letter case, script by script.
      C + "ΕΛΛΗΝΙΚΆ ΚΛΕΙΔΊ\tΤΙΜΉ", C + "ελληνικά κλειδί\tτιμή", C + "σίσυφοσ\t", C + "ΣΊΣΥΦΟΣ\t", C + "σίσυφος\t",
      C + "КЛЮЧ ЁЖ\tЗНАЧЕНИЕ", C + "ключ ёж\tзначение", C + "ґАНОК ђ\t", C + "ҐАНОК Ђ\t",
      C + "STRAßE\t", C + "STRASSE\t", C + "ÿvonne\t", C + "ŸVONNE\t", C + "ŁÓDŹ ŻÓŁĆ\t", C + "łódź żółć\t",
      C + "IĞDIR İZMIR\t", C + "iğdır izmir\t", C + "ığdır i̇zmir\t", C + "ａｂｃ全角\t", C + "ABC全角\t",
      C + "日本語キー\t値", C + "中文键\t值", C + "繁體鍵\t值", C + "한국어 키\t값", C + "हिन्दी\tमान",
      // Limits: a sub-key text of more than 260 UTF-16 units is refused with 234.
      C + k + "\t", C + std::string(256, 'k') + "\t", C + std::string(257, 'k') + "\t", C + std::string(258, 'k') + "\t",
      C + std::string(260, 'k') + "\t", C + std::string(261, 'k') + "\t", C + std::string(237, 'k') + "\t\twhole",
      "HKEY_CURRENT_USER\\M\\" + std::string(257, 'k') + "\t\twhole", "HKEY_CURRENT_USER\\" + std::string(257, 'k') + "\\M\t\twhole",
      C + k + "\t\twhole", C + std::string(200, 'x') + "日本" + "\t",
      "HKEY_CURRENT_USER\\Software\\TessiroCase\\" + std::string(150, 'x') + "\\" + std::string(150, 'y') + "\t\twhole",
      // The other roots.
      "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\tAppData",
      "HKEY_USERS\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\tAppData",
      "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TessiroDiff\tv", "HKEY_USERS\\s-1-5-21-0-0-0-1000\\Software\\TessiroDiff\tv",
      "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TessiroDiff\tv\twhole", "HKEY_USERS\\S-1-5-18\tv",
      "HKEY_USERS\tv", "HKEY_CURRENT_CONFIG\\Software\\Fonts\tLogPixels", "HKEY_CURRENT_CONFIG\\Missing\tv",
      "HKEY_DYN_DATA\\Missing\tv", "HKEY_DYN_DATA\tv", "HKEY_PERFORMANCE_DATA\\Missing\tv", "HKEY_PERFORMANCE_DATA\tv",
      "HKEY_PERFORMANCE_DATA\tv\twhole", "HKEY_DYN_DATA\tv\twhole", "HKEY_USERS\tv\twhole", "HKEY_CLASSES_ROOT\t\twhole",
      "HKEY_CURRENT_CONFIG\tv\twhole", "HKEY_LOCAL_MACHINE\tv\twhole", "HKEY_CURRENT_USER\tv\twhole"};
  std::string all;
  for (const auto& c : cases) all += c + "\n";
  WriteFile(prefix_->path() + "/cases.txt", all);

  const std::string locales = Locales();
  // One session for all the locales (the code page is each process's own):
  // a persistent server keeps the desktop, so no run waits for a new one.
  Wine({"/bin/sh", "-c", "exec /usr/bin/wineserver -p >/dev/null 2>&1"});  // it outlives this call
  // LC_ALL is taken as written; LANG only where the C library has the locale.
  const std::pair<const char*, const char*> kLocales[] = {
      {"LC_ALL=C.UTF-8", "1252"},      {"LC_ALL=el_GR.UTF-8", "1253"}, {"LANG=ru_RU.UTF-8", "1251"},
      {"LC_ALL=pl_PL.UTF-8", "1250"},  {"LC_ALL=tr_TR.UTF-8", "1254"}, {"LC_ALL=ja_JP.UTF-8", "932"},
      {"LC_ALL=zh_CN.UTF-8", "936"},   {"LC_ALL=ko_KR.UTF-8", "949"},  {"LANG=zh_TW.UTF-8", "950"},
      {"LC_ALL=hi_IN.UTF-8", "65001"}, {"LANG=xx_YY.UTF-8", "1252"}};
  for (const auto& [locale, code_page] : kLocales) {
    SCOPED_TRACE(locale);
    // The probes are console programs: a desktop that is slow to come is not waited for long.
    const std::vector<std::string> env = {"LOCPATH=" + locales, locale, "TTU_DESKTOP_WAIT=20"};
    const auto windows = Run({Build() + "/tests/windows/reg-probe.exe", "Z:" + prefix_->path() + "/cases.txt"}, env);
    ASSERT_EQ(windows.status, 0) << windows.output;
    const auto linux = Wine({TTU_LINUX_REG_PROBE, prefix_->path() + "/cases.txt"}, env);
    ASSERT_EQ(linux.status, 0) << linux.output;
    const auto w = ProbeAnswers(windows.output), l = ProbeAnswers(linux.output);
    ASSERT_EQ(w.size(), cases.size() + 1) << windows.output;
    ASSERT_EQ(l.size(), cases.size() + 1) << linux.output;
    EXPECT_EQ(w[0], std::string("code page ") + code_page) << "Wine did not take the locale";
    EXPECT_EQ(l[0], w[0]);
    for (std::size_t k = 0; k < cases.size(); ++k) EXPECT_EQ(l[k + 1], w[k + 1]) << cases[k];
  }
}

std::string KindName(const ::testing::TestParamInfo<Bits>& info) { return std::string("Windows") + info.param.name; }

INSTANTIATE_TEST_SUITE_P(Kinds, WineE2eTest, ::testing::Values(kBits64, kBits32), KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, WineDpiTest, ::testing::Values(kBits64), KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, WineCompressedTest, ::testing::Values(kBits64), KindName);
// The Linux updater reads a prefix as the shipped 32-bit program does.
INSTANTIATE_TEST_SUITE_P(Shipped, WineRegistryAgreement, ::testing::Values(kBits32), KindName);

}  // namespace
}  // namespace ttu::test
