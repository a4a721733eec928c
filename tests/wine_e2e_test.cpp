// The Windows build of the updater under Wine and Xvfb, driven the way a
// person drives it, against a prefix whose registry Wine's own reg.exe wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/test_util.h"
#include "tests/x11_client.h"

namespace ttu::test {
namespace {

namespace fs = std::filesystem;
const std::string kBuild = TTU_WINDOWS_BUILD_DIR;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class WineE2eTest : public ::testing::Test {
 protected:
  // One prefix for the suite: wineboot takes seconds.
  static void SetUpTestSuite() {
    prefix_ = new TempDir;
    const auto r = Wine({"/usr/bin/wineboot", "-i"});
    if (r.status != 0) std::fprintf(stderr, "wineboot: %s\n", r.output.c_str());
  }
  static void TearDownTestSuite() {
    RunProgram({"/usr/bin/env", "WINEPREFIX=" + prefix_->path(), "/usr/bin/wineserver", "-k"});
    delete prefix_;
  }
  void SetUp() override {
    if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
    if (!fs::exists(kBuild + "/TessiroTinyUpdater.exe")) GTEST_SKIP() << "no Windows build in " << kBuild;
    ASSERT_EQ(Wine({"/usr/bin/wine", "reg", "add", "HKLM\\Software\\Kelmo\\Installazione", "/v", "strPath", "/d",
                    "C:\\Programmi\\Kelmo", "/f"}).status, 0);
    fs::create_directories(Tessiro(""));
    WriteFile(Tessiro("Tessiro.exe"), "MZ");
  }
  static std::vector<std::string> WineEnv() {
    return {"WINEPREFIX=" + prefix_->path(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  }
  static RunResult Wine(const std::vector<std::string>& argv) {
    std::vector<std::string> full{"/usr/bin/env"};
    for (const auto& e : WineEnv()) full.push_back(e);
    full.insert(full.end(), argv.begin(), argv.end());
    return RunProgram(full);
  }
  static std::string Tessiro(const std::string& name) {
    return prefix_->path() + "/drive_c/Programmi/Kelmo/Tessiro/" + name;
  }
  // Starts the program, presses its button, closes "Aggiornamento terminato!".
  int RunToCompletion(const std::string& exe) {
    const pid_t pid = Spawn({"/usr/bin/wine", exe}, prefix_->path(), WineEnv());
    int status = -1;
    if (const auto w = x.WaitForWindow("Tessiro Tiny Updater", 60000)) {
      Sleep(500);
      ClickAt(w->x + w->width / 2, w->y + w->height / 2);
      if (const auto done = x.WaitForWindow("Kelmo S.r.l.", 60000)) {
        Sleep(300);
        ClickAt(done->x + done->width / 2, done->y + done->height - 24);
        status = WaitExit(pid, 20000);
      }
    }
    if (status == -1) ::kill(pid, SIGKILL), WaitExit(pid, 2000);
    return status;
  }

  X11Client x;
  static TempDir* prefix_;
};

TempDir* WineE2eTest::prefix_ = nullptr;

TEST_F(WineE2eTest, ThePackageIsDeployedAndTheProcessEndsWithStatusZero) {
  EXPECT_EQ(RunToCompletion(kBuild + "/TessiroTinyUpdater.exe"), 0);
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("Dossaro.zip"), TTU_DOSSARO_ZIP}).status, 0);
}

TEST_F(WineE2eTest, AComServerIsRegisteredByWinesOwnRegsvr32) {
  Wine({"/usr/bin/wine", "reg", "delete", "HKLM\\Software\\TessiroTest", "/f"});
  EXPECT_EQ(RunToCompletion(kBuild + "/tests/windows/TessiroTinyUpdaterComTest.exe"), 0);
  EXPECT_TRUE(fs::exists(Tessiro("LEGGIMI.txt")));
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", "-s", Tessiro("TessiroTestCom.dll"),
                        kBuild + "/tests/windows/TessiroTestCom.dll"}).status, 0);
  // regsvr32 runs on by itself after the updater has ended: wait for its key.
  RunResult q;
  for (int k = 0; k < 60; ++k, Sleep(500)) {
    q = Wine({"/usr/bin/wine", "reg", "query", "HKLM\\Software\\TessiroTest", "/v", "TessiroTestCom"});
    if (q.output.find("registered") != std::string::npos) break;
  }
  EXPECT_NE(q.output.find("registered"), std::string::npos) << q.output;
}

}  // namespace
}  // namespace ttu::test
