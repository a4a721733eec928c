// On Windows the products live in the running system: nothing to choose.
#include "platform/installation.h"

namespace ttu::platform {
namespace {

class RunningSystem final : public Installation {
 public:
  bool Settle() override { return true; }
};

}  // namespace

Installation& NativeInstallation() {
  static RunningSystem system;
  return system;
}

}  // namespace ttu::platform
