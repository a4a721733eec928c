// The Windows builds of the updater under Wine and Xvfb, driven the way a
// person drives them, against a 64-bit prefix whose registry Wine's own tools
// wrote: the 64-bit twin under wine64, and the shipped 32-bit updater under
// Wine's 32-bit loader (scripts/run-win32), which also answers, through a
// 32-bit probe, what the Linux updater's registry must answer too.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/linux/wine_registry.h"
#include "tests/registry_probe.h"
#include "tests/test_util.h"
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
      const auto boot = Wine({"/usr/bin/wine", "wineboot", "-i"});
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
  static RunResult Wine(const std::vector<std::string>& argv) {
    std::vector<std::string> full{"/usr/bin/env"};
    for (const auto& e : WineEnv()) full.push_back(e);
    full.insert(full.end(), argv.begin(), argv.end());
    return RunProgram(full);
  }
  static void Wineserver(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/wineserver"};
    argv.insert(argv.end(), args.begin(), args.end());
    Wine(argv);
  }
  // A Windows program of this test's kind, run to its end.
  RunResult Run(const std::vector<std::string>& argv) {
    std::vector<std::string> full = GetParam().runner;
    full.insert(full.end(), argv.begin(), argv.end());
    return Wine(full);
  }
  pid_t Start(const std::vector<std::string>& argv) {
    std::vector<std::string> full = GetParam().runner;
    full.insert(full.end(), argv.begin(), argv.end());
    return Spawn(full, prefix_->path(), WineEnv());
  }
  static std::string Tessiro(const std::string& name) {
    return prefix_->path() + "/drive_c/Programmi/Kelmo/Tessiro/" + name;
  }
  // Starts the program, presses its button, and closes "Aggiornamento
  // terminato!" when it comes (within `timeout_ms`); `pressed` runs after the press.
  int RunToCompletion(const std::string& exe, int timeout_ms = 60000, const std::function<void()>& pressed = {}) {
    const pid_t pid = Start({exe});
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
    if (status == -1) ::kill(pid, SIGKILL), WaitExit(pid, 2000);
    return status;
  }

  X11Client x;
  static inline std::map<std::string, std::unique_ptr<TempDir>> prefixes_;
  static inline TempDir* prefix_ = nullptr;  // this test's
};

TEST_P(WineE2eTest, ThePackageIsDeployedAndTheProcessEndsWithStatusZero) {
  fs::remove(Tessiro("Dossaro.zip"));
  EXPECT_EQ(RunToCompletion(Build() + "/TessiroTinyUpdater.exe"), 0);
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("Dossaro.zip"), TTU_DOSSARO_ZIP}).status, 0);
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

TEST_P(WineE2eTest, AComServerIsRegisteredByWinesOwnRegsvr32) {
  Run({"reg.exe", "delete", "HKLM\\Software\\TessiroTest", "/f"});
  EXPECT_EQ(RunToCompletion(Build() + "/tests/windows/TessiroTinyUpdaterComTest.exe"), 0);
  EXPECT_TRUE(fs::exists(Tessiro("LEGGIMI.txt")));
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("TessiroTestCom.dll"),
                        Build() + "/tests/windows/TessiroTestCom.dll"}).status, 0);
  // regsvr32 (of the server's own kind) runs on after the updater has ended:
  // wait for the key it writes, in that kind's view.
  RunResult q;
  for (int k = 0; k < 60; ++k, Sleep(500)) {
    q = Run({"reg.exe", "query", "HKLM\\Software\\TessiroTest", "/v", "TessiroTestCom"});
    if (q.output.find("registered") != std::string::npos) break;
  }
  EXPECT_NE(q.output.find("registered"), std::string::npos) << q.output;
}

// Values written with Wine's own tools, in both views, read by the shipped
// 32-bit program's registry code and by the Linux updater's registry: the same
// bytes, case by case.
class WineRegistryAgreement : public WineE2eTest {};

TEST_P(WineRegistryAgreement, TheLinuxRegistryAnswersWhatTheShippedProgramReads) {
  auto add64 = [&](std::vector<std::string> a) {
    a.insert(a.begin(), {"/usr/bin/wine", "reg", "add"});
    a.push_back("/f");
    ASSERT_EQ(Wine(a).status, 0);
  };
  auto add = [&](std::vector<std::string> a) {  // this kind's view
    a.insert(a.begin(), {"reg.exe", "add"});
    a.push_back("/f");
    const auto r = Run(a);
    ASSERT_EQ(r.status, 0) << r.output;
  };
  const std::string d = "HKLM\\Software\\TessiroDiff";
  add64({d + "\\Both", "/v", "v", "/d", "sixty-four"});
  add({d + "\\Both", "/v", "v", "/d", "own kind"});
  add64({d + "\\Solo64", "/v", "v", "/d", "64 only"});
  add({d + "\\SoloOwn", "/v", "v", "/d", "own only"});
  add({"HKLM\\Software\\Città\\Società", "/v", "Perché", "/d", "Così è"});
  add({"HKLM\\Software\\Šk", "/v", "Œuvre", "/d", "ÿ"});
  add({d + "\\Text", "/v", "lukasz", "/d", "C:\\users\\Łukasz"});
  add({d + "\\Text", "/v", "emoji", "/d", "a😀b"});
  add({d + "\\Text", "/v", "cjk", "/d", "中文≤€"});
  add({d + "\\Text", "/v", "empty", "/d", ""});
  add({d + "\\Text", "/v", "long", "/d", std::string(3000, 'x')});
  add({d + "\\Text", "/v", "expand", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\Città"});
  add({d + "\\Text", "/v", "multi", "/t", "REG_MULTI_SZ", "/d", "uno\\0due"});
  add({d + "\\Text", "/v", "dword", "/t", "REG_DWORD", "/d", "4294967295"});
  add({d + "\\Text", "/v", "binary", "/t", "REG_BINARY", "/d", "00ff10"});
  add({d + "\\Text", "/ve", "/d", "default"});
  add({"HKLM\\Software\\Classes\\TessiroDiff", "/v", "v", "/d", "classes"});
  const std::string clsid = "HKLM\\Software\\Classes\\CLSID\\{7E55150D-0000-0000-0000-000000000001}";
  add64({clsid, "/ve", "/d", "64"});
  add({clsid, "/ve", "/d", "own kind"});
  add({"HKCU\\Software\\TessiroDiff", "/v", "v", "/d", "user"});
  Wineserver({"-w"});  // the hives are on disk once the server has ended

  const std::string L = "HKEY_LOCAL_MACHINE\\", T = L + "Software\\TessiroDiff\\Text\t";
  const std::vector<std::string> cases = {
      L + "Software\\Kelmo\\Installazione\tstrPath", L + "Software\\Wow6432Node\\Kelmo\\Installazione\tstrPath",
      L + "Software\\Microsoft\\Windows\\CurrentVersion\tProgramFilesDir",
      L + "Software\\Microsoft\\Windows\\CurrentVersion\tCommonFilesDir",
      L + "Software\\TessiroDiff\\Both\tv", L + "Software\\TessiroDiff\\Solo64\tv",
      L + "Software\\TessiroDiff\\SoloOwn\tv", L + "Software\\TessiroDiff\\Missing\tv",
      L + "Software\\Città\\Società\tPerché", L + "SOFTWARE\\CITTÀ\\SOCIETÀ\tPERCHÉ",
      L + "Software\\šK\tœUVRE", L + "Software\\ŠK\tŒuvre",
      T + "lukasz", T + "emoji", T + "cjk", T + "empty", T + "long", T + "expand", T + "multi", T + "dword",
      T + "binary", T, T + "missing",
      L + "Software\\Classes\\TessiroDiff\tv", "HKEY_CLASSES_ROOT\\TessiroDiff\tv",
      "HKEY_CLASSES_ROOT\\CLSID\\{7E55150D-0000-0000-0000-000000000001}\t",
      L + "Software\\Classes\\CLSID\\{7E55150D-0000-0000-0000-000000000001}\t",
      "HKEY_CURRENT_USER\\Software\\TessiroDiff\tv"};
  std::ofstream(prefix_->path() + "/cases.txt") << [&] {
    std::string all;
    for (const auto& c : cases) all += c + "\n";
    return all;
  }();
  const auto probe = Run({Build() + "/tests/windows/reg-probe.exe", "Z:" + prefix_->path() + "/cases.txt"});
  ASSERT_EQ(probe.status, 0) << probe.output;
  std::istringstream windows(probe.output);
  platform::WineRegistry linux_registry(prefix_->path());
  for (const auto& c : cases) {
    std::string line;
    do std::getline(windows, line); while (line.rfind("query", 0) != 0 && line.rfind("open", 0) != 0 && windows);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = c.find('\t');
    EXPECT_EQ(ProbeRegistry(linux_registry, c.substr(0, tab), c.substr(tab + 1)), line) << c;
  }
}

std::string KindName(const ::testing::TestParamInfo<Bits>& info) { return std::string("Windows") + info.param.name; }

INSTANTIATE_TEST_SUITE_P(Kinds, WineE2eTest, ::testing::Values(kBits64, kBits32), KindName);
// The Linux updater reads a prefix as the shipped 32-bit program does.
INSTANTIATE_TEST_SUITE_P(Shipped, WineRegistryAgreement, ::testing::Values(kBits32), KindName);

}  // namespace
}  // namespace ttu::test
