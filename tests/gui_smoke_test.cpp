// The packed updater in a real window (under Xvfb in CI).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "tests/test_util.h"
#include "tests/x11_client.h"

namespace ttu::test {
namespace {

const std::string kUpdater = TTU_UPDATER_EXE;

TEST(GuiSmoke, WindowAppearsWithCaptionAndSizeAndClosingEndsTheProcess) {
  X11Client x;
  if (!x.ok()) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
  TempDir cwd, prefix;
  const pid_t pid = Spawn({kUpdater}, cwd.path(), {"WINEPREFIX=" + prefix.path()});
  const auto w = x.WaitForWindow("Tessiro Tiny Updater", 10000);
  ASSERT_TRUE(w.has_value()) << "window did not appear";
  EXPECT_EQ(w->width, 557);
  EXPECT_EQ(w->height, 137);
  EXPECT_EQ(WaitExit(pid, 200), -1) << "the updater must stay up until closed";
  x.Close(w->id);
  const int status = WaitExit(pid, 5000);
  if (status == -1) ::kill(pid, SIGKILL), WaitExit(pid, 1000);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ListDir(cwd.path()).empty());
  EXPECT_TRUE(ListDir(prefix.path()).empty());
}

}  // namespace
}  // namespace ttu::test
