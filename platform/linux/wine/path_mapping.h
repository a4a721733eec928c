// Windows folder texts on Linux.
#pragma once

#include <string>
#include <string_view>

namespace ttu::platform {

// Maps a Windows path to a Linux one: "\" and "/" separate folders; a drive
// "X:" is the prefix's dosdevices/x:; a path that starts with a separator
// starts at "/"; anything else is relative to the current folder. Where a name
// does not exist with its exact letter case, an existing name that differs
// only in letter case is used. Raises a RunError for a text that cannot name
// a file (an embedded NUL, a name or path too long).
std::string ToLinuxPath(std::string_view windows_path, const std::string& prefix);

}  // namespace ttu::platform
