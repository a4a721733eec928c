#include "platform/linux/wine_prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/linux/wine_session.h"

namespace ttu::platform {

std::string GivenWinePrefix() {
  if (const char* p = std::getenv("WINEPREFIX"); p && *p) return p;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw ? pw->pw_dir : "/";
  }
  return std::string(home) + "/.wine";
}

std::string WinePrefix() { return CurrentWineSession().prefix; }

}  // namespace ttu::platform
