// A native stand-in for a registration program (or for wine): appends its
// arguments, one per line, the descriptors it inherited and its current
// folder and the Wine variables of its environment, to the file named by
// $TTU_RECORD.
#include <dirent.h>
#include <unistd.h>

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
  char cwd[4096] = "";
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
  f << "argc " << argc << "\nfds " << fds << "\ncwd " << cwd << "\n";
  for (int k = 1; k < argc; ++k) f << "arg " << argv[k] << "\n";
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("WINE", 0) == 0) f << "env " << *e << "\n";
  }
  f << "end\n";
  return 0;
}
