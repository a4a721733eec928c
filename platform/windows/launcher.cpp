// Starting a program with a window style, not waited for.
#include "platform/windows/windows_api.h"

#include <vector>

#include "platform/process.h"
#include "support/run_error.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

class WindowsLauncher final : public Launcher {
 public:
  void Launch(const std::string& command_line, int window_style) override {
    std::wstring line = Widen(command_line);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(window_style);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      throw RunError::Of(kErrFileNotFound);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);  // not tracked
  }
};

}  // namespace

Launcher& NativeLauncher() {
  static WindowsLauncher launcher;
  return launcher;
}

}  // namespace ttu::platform
