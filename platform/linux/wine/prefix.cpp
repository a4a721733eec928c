#include "platform/linux/wine/prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

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

}  // namespace ttu::platform
