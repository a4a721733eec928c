// Presses the button of a packed updater once, without a window, over the
// real services of the system it runs on: what a trace of its system calls
// watches, and what the bench times under Wine. Each box is written to
// standard output in one write as it is shown ("box: PROMPT"), then the
// press's own time ("press: SECONDS").
//   press-probe UPDATER        (on Linux, WINEPREFIX names the prefix)
// Exit status 0 when the press ends the process, 1 when it does not.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/form1.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "registry/module2.h"
#include "tests/fakes.h"
#ifdef _WIN32
#include "platform/registry_api.h"
#else
#include "platform/linux/wine/registry.h"
#endif

namespace {

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ttu;
  if (argc != 2) return 2;
  platform::ReturnFreedMemory();  // as the updater starts
#ifdef _WIN32
  platform::RegistryApi& registry = platform::NativeRegistry();
#else
  const char* prefix = std::getenv("WINEPREFIX");
  if (!prefix) return 2;
  platform::WineRegistry registry(prefix);
#endif
  const auto resources = platform::ResourcesOfFile(argv[1]);
  test::FakeDialogs dialogs;
  dialogs.while_open = [&] { Say("box: " + dialogs.shown.back().prompt + "\n"); };
  registry::Module2 module2(registry, dialogs);
  app::Form1 form({*resources, platform::NativeFileSystem(), platform::NativeLauncher(), dialogs, module2},
                  [](const platform::WindowLayout&, platform::WindowEvents) {
                    return std::make_unique<test::FakeWindow>();
                  });
  const auto t0 = std::chrono::steady_clock::now();
  const bool ended = test::EndsProcess([&] { form.cmdAvviaConTimer_Click(); });
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
  Say("press: " + std::to_string(took.count()) + "\n");
  return ended ? 0 : 1;
}
