// The installed system a run works on: the running Windows itself, or on
// Linux the Wine prefix that holds the maker's products.
#pragma once

namespace ttu::platform {

class Installation {
 public:
  virtual ~Installation() = default;
  // Fixes, once per run, the system that the run's registry lookups, files
  // and registrations go to, asking the person when several qualify. False
  // when they cancelled: nothing is resolved, and the next attempt asks again.
  virtual bool Settle() = 0;
};

Installation& NativeInstallation();

}  // namespace ttu::platform
