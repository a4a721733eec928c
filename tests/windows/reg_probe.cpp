// reg-probe CASES: for each line "PATH<TAB>VALUE[<TAB>whole]" of the UTF-8
// file CASES, prints what this program reads from the registry (see
// registry_probe.h). The same source is the Linux probe over a Wine prefix.
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/registry_probe.h"
#ifdef _WIN32
#include <windows.h>
unsigned CodePage() { return GetACP(); }
#else
#include "platform/linux/wine/registry.h"
unsigned CodePage() { return ttu::platform::WineAnsiCodePage(); }
#endif

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::printf("code page %u\n", CodePage());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const auto tab2 = line.find('\t', tab + 1);
    const bool whole = tab2 != std::string::npos && line.substr(tab2 + 1) == "whole";
    std::printf("%s\n", ttu::test::ProbeRegistry(ttu::platform::NativeRegistry(), line.substr(0, tab),
                                                line.substr(tab + 1, tab2 - tab - 1), whole).c_str());
  }
  return 0;
}
