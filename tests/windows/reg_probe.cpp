// reg-probe CASES: for each line "PATH<TAB>VALUE" of the UTF-8 file CASES,
// prints what this program reads from the registry (see registry_probe.h).
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/registry_probe.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::printf("%s\n", ttu::test::ProbeRegistry(ttu::platform::NativeRegistry(), line.substr(0, tab),
                                                line.substr(tab + 1)).c_str());
  }
  return 0;
}
