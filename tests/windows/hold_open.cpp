// hold-open FILE READY RELEASE: opens FILE sharing nothing, as a running
// program holds its files, creates READY, and keeps FILE open until RELEASE exists.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
  CloseHandle(file);
  return 0;
}
