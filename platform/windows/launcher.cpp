// Starting a program with a window style, not waited for. The program image
// is named to CreateProcess, so Windows never searches for it: a bare name is
// the system's own program, from the system folder; a name with a folder is
// that file. A missing program is a missing program, never a search. It runs
// with the system folder as its current folder.
#include "platform/windows/windows_api.h"

#include <vector>

#include "platform/process.h"
#include "platform/windows/wide.h"
#include "support/command_line.h"
#include "support/run_error.h"

namespace ttu::platform {
namespace {

// The system folder as this process sees it (a 32-bit process on 64-bit
// Windows gets the 32-bit one).
std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) throw RunError::Of(kErrFileNotFound);
  return std::wstring(buffer, n);
}

std::wstring ProgramImage(const std::string& command_line) {
  const auto args = SplitCommandLine(command_line);
  if (args.empty()) throw RunError::Of(kErrFileNotFound);
  const std::wstring program = Widen(args[0]);
  if (program.find_first_of(L"\\/:") != std::wstring::npos) return program;
  return SystemFolder() + L"\\" + program;
}

class WindowsLauncher final : public Launcher {
 public:
  void Launch(const std::string& command_line, int window_style) override {
    const std::wstring image = ProgramImage(command_line);
    std::wstring line = Widen(command_line);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(window_style);
    PROCESS_INFORMATION pi{};
    // Started in the system folder, not in the updater's current one (often
    // a Downloads folder): a library that the registered server needs and
    // that is missing beside it is looked for in the current folder too.
    const std::wstring folder = SystemFolder();
    if (!CreateProcessW(image.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
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

// DLLs come from the system folder only, never from the folder the updater
// was started from or the current one (where anyone may have put one).
// SetDefaultDllDirectories is looked up: Windows before 8 without its update
// lacks it, and SetDllDirectoryW("") still takes the current folder out.
// Libraries that the system's own code loads for the program later, by a way
// that some loaders (Wine's) resolve without the restriction, are loaded from
// the system folder now: the input-method support takes ole32 when the first
// window is made.
void RestrictLibrarySearch() {
  using SetDefault = BOOL(WINAPI*)(DWORD);
  if (const HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    const auto set_default =
        reinterpret_cast<SetDefault>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set_default) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  SetDllDirectoryW(L"");
  LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace ttu::platform
