// A native stand-in for a registration program: appends its arguments, one
// per line, and the descriptors it inherited, to the file named by $TTU_RECORD.
#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const char* out = std::getenv("TTU_RECORD");
  if (!out) return 1;
  std::string fds;  // listed before the record is opened
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') fds += std::string(e->d_name) + " ";
    }
    closedir(d);
  }
  std::ofstream f(out, std::ios::app);
  f << "argc " << argc << "\nfds " << fds << "\n";
  for (int k = 1; k < argc; ++k) f << "arg " << argv[k] << "\n";
  f << "end\n";
  return 0;
}
