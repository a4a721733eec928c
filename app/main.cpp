// Start-up: Main brings up the only window and the event loop takes over.
#include <memory>

#include "app/form1.h"
#include "platform/files.h"
#include "platform/installation.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/registry_api.h"
#include "platform/resources.h"
#include "registry/module2.h"

namespace ttu::app {
namespace {

std::unique_ptr<registry::Module2> module2;
std::unique_ptr<Form1> form1;

void Main() {
  if (form1) return;
  module2 = std::make_unique<registry::Module2>(platform::NativeRegistry(), platform::NativeDialogs());
  const deploy::DeployServices services{platform::OwnResources(), platform::NativeFileSystem(),
                                        platform::NativeLauncher(), platform::NativeDialogs(), *module2,
                                        &platform::NativeInstallation()};
  form1 = std::make_unique<Form1>(services, platform::ShowMainWindow);
}

}  // namespace
}  // namespace ttu::app

int main() {
  ttu::platform::RestrictLibrarySearch();
  ttu::platform::ReturnFreedMemory();
  ttu::app::Main();
  return ttu::platform::RunEventLoop();
}
