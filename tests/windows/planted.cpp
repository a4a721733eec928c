// A program or library of the tests' own, planted where the updater must never
// take one from (beside it, in the current folder). Started or loaded, it
// leaves a mark beside itself, "<its own path>.ran", and does nothing else.
// Built as the program planted.exe and as the library planted.dll, and as
// TessiroTestDep.dll, the library a test COM server imports.
#include <windows.h>

namespace {

void LeaveMark(HMODULE self) {
  wchar_t path[MAX_PATH + 8];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  lstrcatW(path, L".ran");
  const HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
}

}  // namespace

#ifdef TTU_PLANTED_LIBRARY
// What a library that a COM server depends on exports (TessiroTestDep.dll).
extern "C" __declspec(dllexport) int TessiroTestDependency() { return 1; }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMark(self);
  return TRUE;
}
#else
int main() {
  LeaveMark(nullptr);
  return 0;
}
#endif
