// load-library NAME: loads the library NAME by the default search, as a
// program that does not restrict it would; 0 when it was loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  return LoadLibraryW(argv[1]) ? 0 : 1;
}
