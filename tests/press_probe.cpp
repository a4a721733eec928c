// Presses the button of a packed updater once, without a window, over the
// real Linux services: what a trace of its system calls watches. Each box is
// written to standard output in one write as it is shown ("box: PROMPT").
//   press-probe UPDATER        (WINEPREFIX names the prefix)
// Exit status 0 when the press ends the process, 1 when it does not.
#include <unistd.h>

#include <cstdlib>

#include "app/form1.h"
#include "platform/files.h"
#include "platform/linux/wine/registry.h"
#include "registry/module2.h"
#include "tests/fakes.h"

int main(int argc, char** argv) {
  using namespace ttu;
  const char* prefix = std::getenv("WINEPREFIX");
  if (argc != 2 || !prefix) return 2;
  const auto resources = platform::ResourcesOfFile(argv[1]);
  test::FakeDialogs dialogs;
  dialogs.while_open = [&] {
    const std::string line = "box: " + dialogs.shown.back().prompt + "\n";
    if (::write(1, line.data(), line.size()) < 0) std::abort();
  };
  platform::WineRegistry registry(prefix);
  registry::Module2 module2(registry, dialogs);
  app::Form1 form({*resources, platform::NativeFileSystem(), platform::NativeLauncher(), dialogs, module2},
                  [](const platform::WindowLayout&, platform::WindowEvents) {
                    return std::make_unique<test::FakeWindow>();
                  });
  return test::EndsProcess([&] { form.cmdAvviaConTimer_Click(); }) ? 0 : 1;
}
