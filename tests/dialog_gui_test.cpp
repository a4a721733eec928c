// The platform's real message boxes in a real window (Xvfb in CI), on Linux
// and, under Wine, on Windows: their title, icon, buttons, default button, and
// what Escape and the close box answer.
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

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Platform {
  const char* name;
  std::vector<std::string> runner;  // what starts the probe
  std::string probe;
  std::string result_prefix;        // how the probe names a Linux path
};

const Platform kLinux{"Linux", {}, TTU_DIALOG_PROBE, ""};
const Platform kWindows{"Windows", {"/usr/bin/wine"}, TTU_SOURCE_DIR "/build-windows64/tests/windows/dialog-probe.exe", "Z:"};

void PrintTo(const Platform& p, std::ostream* os) { *os << p.name; }

bool Yellow(int r, int g, int b) { return r > 200 && g > 130 && b < 90; }
bool Blue(int r, int g, int b) { return b > 150 && r < 90 && g < 160; }

class DialogTest : public ::testing::TestWithParam<Platform> {
 protected:
  void SetUp() override {
    if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
    if (!fs::exists(GetParam().probe)) GTEST_SKIP() << "no " << GetParam().probe;
    if (const std::string missing = MissingFrontEnd(); GetParam().runner.empty() && !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    // The prefix is made before the box is shown: a first start of Wine that
    // fails now and then on a busy machine is made again, not taken for a box
    // that never came.
    if (!GetParam().runner.empty()) {
      const auto boot = BootPrefix(dir.path(), [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"/usr/bin/env", "WINEPREFIX=" + dir.path(), "WINEDEBUG=-all",
                                   "WINEDLLOVERRIDES=mscoree,mshtml="});
        return RunProgram(argv, "", 240000);
      });
      ASSERT_EQ(boot.status, 0) << boot.output;
    }
  }
  void TearDown() override {
    Stop(pid);
    if (!GetParam().runner.empty()) RunProgram({"/usr/bin/env", "WINEPREFIX=" + dir.path(), "/usr/bin/wineserver", "-k"});
  }
  // Shows a box and waits for its window, titled `expect_title`.
  std::optional<WindowInfo> Show(int style, const std::optional<std::string>& title, const std::string& expect_title) {
    std::vector<std::string> argv = GetParam().runner;
    argv.insert(argv.end(), {GetParam().probe, std::to_string(style), GetParam().result_prefix + Result()});
    if (title) argv.push_back(*title);
    pid = Spawn(argv, dir.path(), {"WINEPREFIX=" + dir.path(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="});
    auto w = x.WaitForWindow(expect_title, 60000);
    Sleep(700);  // drawn
    return w;
  }
  void Key(const WindowInfo& w, const char* key) {
    RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(w.x + w.width / 2), std::to_string(w.y + w.height / 2)});
    RunProgram({"/usr/bin/xdotool", "key", key});
  }
  // The button that ended the box, or -1 when it is still open.
  int Answer(int wait_ms) {
    if (WaitExit(pid, wait_ms) != 0) return -1;
    pid = -1;
    return std::stoi(ReadFile(Result()));
  }
  std::string Result() const { return dir / "answer"; }

  X11Client x;
  TempDir dir;
  pid_t pid = -1;
};

// Information (64): the application title when none is given; Escape answers OK.
TEST_P(DialogTest, InformationBoxHasTheApplicationTitleAndEscapeAnswersOk) {
  const auto w = Show(64, std::nullopt, "Tessiro Tiny Updater");
  ASSERT_TRUE(w);
  EXPECT_GT(x.CountPixels(*w, Blue), 20) << "no information icon";
  EXPECT_EQ(x.CountPixels(*w, Yellow), 0);
  Key(*w, "Escape");
  EXPECT_EQ(Answer(15000), 1);
}

// Exclamation (48): its title and icon; the close box answers OK.
TEST_P(DialogTest, ExclamationBoxClosesWithOk) {
  const auto w = Show(48, "Aggiornamento", "Aggiornamento");
  ASSERT_TRUE(w);
  EXPECT_GT(x.CountPixels(*w, Yellow), 20) << "no exclamation icon";
  x.Close(w->id);
  EXPECT_EQ(Answer(15000), 1);
}

// Question with Yes and No (36): neither Escape nor the close box ends it;
// Return presses Yes, the default.
TEST_P(DialogTest, QuestionBoxHasYesAsDefaultAndCannotBeDismissed) {
  const auto w = Show(36, "Attenzione", "Attenzione");
  ASSERT_TRUE(w);
  EXPECT_GT(x.CountPixels(*w, Blue), 20) << "no question icon";
  EXPECT_EQ(x.CountPixels(*w, Yellow), 0);
  Key(*w, "Escape");
  Sleep(1000);
  const auto again = x.WaitForWindow("Attenzione", 10000);
  ASSERT_TRUE(again) << "dismissed by Escape";
  x.Close(again->id);
  Sleep(1000);
  EXPECT_EQ(Answer(1000), -1) << "dismissed by the close box";
  const auto still = x.WaitForWindow("Attenzione", 10000);
  ASSERT_TRUE(still);
  Key(*still, "Return");
  EXPECT_EQ(Answer(15000), 6);
}

// No icon (0): an OK box with no blue or yellow icon.
TEST_P(DialogTest, PlainBoxHasNoIcon) {
  const auto w = Show(0, std::nullopt, "Tessiro Tiny Updater");
  ASSERT_TRUE(w);
  EXPECT_EQ(x.CountPixels(*w, Yellow), 0);
  EXPECT_LT(x.CountPixels(*w, Blue), 20);
  Key(*w, "Return");
  EXPECT_EQ(Answer(15000), 1);
}

// Every box driven by keys only, as on Windows: Enter presses the button that
// has the focus (the default one when the box opens), Tab moves it, Space
// presses too, and Escape answers only where a box has Cancel or a lone OK.
TEST(DialogKeysTest, EnterPressesTheFocusedButtonInEveryBox) {
  X11Client x;
  if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
  if (const std::string missing = MissingFrontEnd(); !missing.empty()) GTEST_SKIP() << missing;
  struct Row {
    const char* box;  // a message box style, or "input"
    std::vector<const char*> keys;
    std::string answer;
  } rows[] = {
      {"36", {"Return"}, "6"},                       // Yes/No: Yes is the default
      {"36", {"Tab", "Return"}, "7"},                // Tab to No, Enter: No
      {"36", {"Escape", "Tab", "Return"}, "7"},      // Escape does not end it
      {"292", {"Return"}, "7"},                      // No made the default
      {"292", {"shift+Tab", "Return"}, "6"},         // back to Yes
      {"36", {"Tab", "space"}, "7"},                 // Space on the focused button
      {"33", {"Tab", "Return"}, "2"},                // OK/Cancel: Tab to Annulla
      {"33", {"Escape"}, "2"},
      {"35", {"Tab", "Tab", "Return"}, "2"},         // Yes/No/Cancel: the third
      {"16", {"Return"}, "1"},                       // a lone OK
      {"input", {"Return"}, "C:\\Programmi"},        // Enter in the line: OK
      {"input", {"Tab", "Return"}, "C:\\Programmi"}, // Tab to OK
      {"input", {"Tab", "Tab", "Return"}, ""},       // Tab to Annulla: Cancel
      {"input", {"D", "Return"}, "D"},               // the text starts selected
      {"input", {"Escape"}, ""},
  };
  for (const auto& r : rows) {
    std::string keys;
    for (const char* k : r.keys) keys += std::string(k) + " ";
    SCOPED_TRACE(std::string(r.box) + ": " + keys);
    TempDir dir;
    const std::string result = dir / "answer";
    const pid_t pid = Spawn({TTU_DIALOG_PROBE, r.box, result}, dir.path(), {});
    const auto w = x.WaitForWindow(std::string(r.box) == "input" ? "Setup" : "Tessiro Tiny Updater", 20000);
    ASSERT_TRUE(w);
    Sleep(500);  // drawn, focus set
    RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(w->x + w->width / 2), std::to_string(w->y + 4)});
    std::vector<std::string> argv = {"/usr/bin/xdotool", "key", "--delay", "150"};
    argv.insert(argv.end(), r.keys.begin(), r.keys.end());
    RunProgram(argv);
    const int status = WaitExit(pid, 15000);
    if (status != 0) Stop(pid);
    ASSERT_EQ(status, 0) << "the box did not end";
    EXPECT_EQ(ReadFile(result), r.answer);
  }
}

INSTANTIATE_TEST_SUITE_P(Platforms, DialogTest, ::testing::Values(kLinux, kWindows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ttu::test
