// Starting other programs.
#pragma once

#include <string>

namespace ttu::platform {

// Window styles of a launch.
enum WindowStyle : int { kHide = 0, kMinimizedFocus = 2 };

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts the command line (program and arguments by the Windows quoting
  // rules) and returns at once; the program is neither waited for nor
  // tracked. Raises a RunError when the program cannot be started.
  virtual void Launch(const std::string& command_line, int window_style) = 0;
};

Launcher& NativeLauncher();

// Called first at start-up: the process loads code only from the system's own
// folders (on Windows, DLLs from the system folder only).
void RestrictLibrarySearch();

}  // namespace ttu::platform
