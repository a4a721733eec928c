// Start-up: Main brings up the only window and the event loop takes over.
#include <memory>

#include "app/form1.h"
#include "platform/main_window.h"

namespace ttu::app {
namespace {

std::unique_ptr<Form1> form1;

void Main() {
  if (!form1) form1 = std::make_unique<Form1>();
}

}  // namespace
}  // namespace ttu::app

int main() {
  ttu::app::Main();
  return ttu::platform::RunEventLoop();
}
