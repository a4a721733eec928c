// Finding a program by name as a shell would, but only in PATH's absolute
// folders: an empty or relative entry ("", ".", "bin") names the current
// folder, where anyone may have put a program of that name.
#pragma once

#include <string>

namespace ttu::platform {

// The executable file `name` in the first absolute folder of PATH that has
// one (PATH unset: /usr/local/bin, /usr/bin, /bin), or "".
std::string SearchPath(const std::string& name);

}  // namespace ttu::platform
