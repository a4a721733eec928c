// The GTK window and boxes as a screen reader reads them (the AT-SPI tree, in
// a private session bus), and a run made through AT-SPI's actions alone.
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/atspi_client.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

const std::vector<std::string> kGtk = {"TTU_TOOLKIT=gtk"};

// With no window manager the keyboard goes to the window under the pointer:
// the pointer is put on the window, as a person's focus would be.
void PointAt(const std::string& title) {
  RunProgram({"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + title + "$", "mousemove",
              "--window", "%1", "20", "20"});
}

class AtspiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus (scripts/with-atspi starts one)";
    if (!::dlopen("libgtk-3.so.0", RTLD_LAZY)) GTEST_SKIP() << "no GTK 3 (libgtk-3.so.0) here";
  }
  void TearDown() override { Stop(pid); }
  TempDir dir;
  pid_t pid = -1;
};

// Whether the tree holds a node of that role and name, with the focus and
// default marks given (-1: either).
bool HasNode(const std::vector<AccessibleNode>& tree, const std::string& role, const std::string& name,
             int focused = -1, int is_default = -1, const std::string& text = "") {
  for (const auto& n : tree) {
    if (n.role != role || (n.name != name && n.text != name)) continue;
    if (focused != -1 && n.focused != (focused == 1)) continue;
    if (is_default != -1 && n.is_default != (is_default == 1)) continue;
    if (!text.empty() && n.text != text) continue;
    return true;
  }
  return false;
}

TEST_F(AtspiTest, EveryBoxIsReadWithItsRolesNamesFocusAndDefault) {
  struct Expect {
    std::string role, name;
    int focused, is_default;
  };
  struct Row {
    const char* box;  // a message box style, or "input"
    std::string window;
    std::vector<Expect> nodes;
  } rows[] = {
      {"36", "Tessiro Tiny Updater",
       {{"dialog", "Tessiro Tiny Updater", -1, -1}, {"label", "Prova", -1, -1},
        {"push button", "Sì", 1, 1}, {"push button", "No", 0, 0}}},
      {"292", "Tessiro Tiny Updater", {{"push button", "No", 1, 1}, {"push button", "Sì", 0, 0}}},
      {"49", "Tessiro Tiny Updater", {{"push button", "OK", 1, 1}, {"push button", "Annulla", 0, 0}}},
      {"64", "Tessiro Tiny Updater", {{"label", "Prova", -1, -1}, {"push button", "OK", 1, 1}}},
      {"input", "Setup",
       {{"dialog", "Setup", -1, -1}, {"text", "Prova", 1, -1}, {"push button", "OK", 0, 1},
        {"push button", "Annulla", 0, 0}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.box);
    pid = Spawn({TTU_DIALOG_PROBE, r.box, dir / "answer"}, dir.path(), kGtk);
    PointAt(r.window);
    const auto tree = AccessibleTree(pid, r.window, 30000);
    ASSERT_FALSE(tree.empty()) << "the box is not in the AT-SPI tree";
    for (const auto& e : r.nodes) {
      EXPECT_TRUE(HasNode(tree, e.role, e.name, e.focused, e.is_default))
          << e.role << " \"" << e.name << "\" focused " << e.focused << " default " << e.is_default << " in\n"
          << Describe(tree);
    }
    Stop(pid);
    pid = -1;
  }
}

// The input line is read with the text it starts with.
TEST_F(AtspiTest, TheSetupLineIsReadWithItsText) {
  pid = Spawn({TTU_DIALOG_PROBE, "input", dir / "answer"}, dir.path(), kGtk);
  PointAt("Setup");
  const auto tree = AccessibleTree(pid, "Setup", 30000);
  EXPECT_TRUE(HasNode(tree, "text", "Prova", 1, -1, "C:\\Programmi")) << Describe(tree);
}

// A person who drives the updater through a screen reader: the button pressed
// by its action, the closing message answered the same way; the package
// written.
void RunThroughActions(const std::vector<std::string>& env, const std::string& cwd, pid_t& pid) {
  TempDir prefix;
  const auto made = RunProgram({"/bin/bash", std::string(TTU_SOURCE_DIR) + "/scripts/make-demo-prefix", prefix.path()});
  ASSERT_EQ(made.status, 0) << made.output;
  std::vector<std::string> all = {"TTU_TOOLKIT=gtk", "WINEPREFIX=" + prefix.path()};
  all.insert(all.end(), env.begin(), env.end());
  pid = Spawn({TTU_UPDATER_EXE}, cwd, all);
  if (env.empty()) PointAt("Tessiro Tiny Updater");  // on X11
  const auto tree = AccessibleTree(pid, "Tessiro Tiny Updater", 30000);
  ASSERT_TRUE(HasNode(tree, "frame", "Tessiro Tiny Updater")) << Describe(tree);
  ASSERT_TRUE(HasNode(tree, "push button", "Installa Dossaro")) << Describe(tree);
  ASSERT_TRUE(PressByAction(pid, "Tessiro Tiny Updater", "Installa Dossaro", 10000));
  const auto done = AccessibleTree(pid, "Kelmo S.r.l.", 60000);
  ASSERT_TRUE(HasNode(done, "label", "Aggiornamento terminato!")) << Describe(done);
  ASSERT_TRUE(PressByAction(pid, "Kelmo S.r.l.", "OK", 10000));
  EXPECT_EQ(WaitExit(pid, 10000), 0);
  pid = -1;
  EXPECT_EQ(RunProgram({"/usr/bin/cmp", prefix / "drive_c/Programmi/Kelmo/Tessiro/Dossaro.zip", TTU_DOSSARO_ZIP}).status, 0);
}

TEST_F(AtspiTest, ARunMadeThroughActionsCompletes) { RunThroughActions({}, dir.path(), pid); }

// On a Wayland desktop the window is GTK's own Wayland window: with no X
// server to fall back on (a headless Weston as the desktop), the same run.
TEST_F(AtspiTest, OnWaylandTheWindowIsNativeAndARunCompletes) {
  const std::string weston = "/usr/bin/weston";
  if (::access(weston.c_str(), X_OK) != 0) GTEST_SKIP() << "no Weston (package weston) to be the Wayland desktop";
  TempDir runtime;  // private, as a session's XDG_RUNTIME_DIR is
  const pid_t compositor = Spawn({weston, "--backend=headless-backend.so", "--socket=ttu-wayland", "--idle-time=0"},
                                 runtime.path(), {"XDG_RUNTIME_DIR=" + runtime.path()});
  for (int k = 0; k < 100 && !std::filesystem::exists(runtime / "ttu-wayland"); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(std::filesystem::exists(runtime / "ttu-wayland")) << "Weston did not start";
  RunThroughActions({"DISPLAY=", "GDK_BACKEND=wayland", "XDG_RUNTIME_DIR=" + runtime.path(),
                     "WAYLAND_DISPLAY=ttu-wayland"},
                    dir.path(), pid);
  Stop(compositor);
}

}  // namespace
}  // namespace ttu::test
