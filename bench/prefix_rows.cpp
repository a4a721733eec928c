#include "bench/rows.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/linux/wine/prefix_discovery.h"
#include "platform/linux/wine/registry.h"
#include "registry/module2.h"
#include "tests/test_util.h"

namespace ttu::bench {
namespace {

std::string SyntheticHive() {
  std::ostringstream s;
  s << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
  for (int k = 0; k < 9000; ++k) {
    s << "[Software\\\\Classes\\\\CLSID\\\\{" << 10000000 + k
      << "-0000-0000-C000-000000000046}\\\\InprocServer32] 1796681850\n#time=1dd8698c005c0da\n"
      << "@=\"C:\\\\windows\\\\system32\\\\lib" << k << ".dll\"\n\"ThreadingModel\"=\"Both\"\n\n";
  }
  s << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1796681851\n"
    << "\"CommonFilesDir\"=\"C:\\\\Program Files\\\\Common Files\"\n";
  return s.str();
}

}  // namespace

std::vector<Row> RegistryRows(const Options& o) {
  const fs::path prefix = fs::path(o.work) / "registry";
  fs::create_directories(prefix);
  std::string lines = "synthetic";
  if (!o.system_reg.empty() && fs::exists(o.system_reg)) {
    fs::copy_file(o.system_reg, prefix / "system.reg", fs::copy_options::overwrite_existing);
    lines = "real";
  } else {
    std::ofstream(prefix / "system.reg") << SyntheticHive();
  }
  std::ifstream in(prefix / "system.reg");
  const auto n = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  SilentDialogs dialogs;
  std::vector<double> first, repeated;
  for (int k = 0; k < std::max(o.runs, 5); ++k) {
    platform::WineRegistry reg(prefix.string());
    registry::Module2 m(reg, dialogs);
    const auto t0 = Clock::now();
    m.RetrieveCommonPath();
    first.push_back(Seconds(t0, Clock::now()));
    constexpr int kLookups = 2000;
    const auto t1 = Clock::now();
    for (int i = 0; i < kLookups; ++i) m.RetrieveCommonPath();
    repeated.push_back(Seconds(t1, Clock::now()) / kLookups);
  }
  const double f = Median(first), r = Median(repeated);
  const std::string what = std::to_string(n) + "-line " + lines + " system.reg";
  return {{"registry lookup, first read", what, Fmt("%.1f ms", f * 1000), "-", "<= 20 ms", f <= 0.02},
          {"registry lookup, repeated", what, Fmt("%.1f us", r * 1e6), "-", "< 0.1 ms", r < 1e-4}};
}

Row DiscoveryRow(const Options& o) {
  const fs::path home = fs::path(o.work) / "home";
  fs::remove_all(home);
  std::string hive = SyntheticHive();
  if (!o.system_reg.empty() && fs::exists(o.system_reg)) hive = test::ReadFile(o.system_reg);
  const std::string key = "\n[Software\\\\Kelmo\\\\Installazione] 1700000000\n\"strPath\"=\"C:\\\\Programmi\\\\Kelmo\"\n";
  const std::vector<std::string> folders = {".local/share/bottles/bottles/", ".PlayOnLinux/wineprefix/",
                                            ".local/share/wineprefixes/", ".cxoffice/"};
  for (int k = 0; k < 20; ++k) {
    const fs::path p = home / (folders[k % folders.size()] + "p" + std::to_string(k));
    fs::create_directories(p / "drive_c");
    fs::create_directories(p / "dosdevices");
    fs::create_symlink("../drive_c", p / "dosdevices/c:");
    test::WriteFile((p / "system.reg").string(), hive + (k % 10 == 3 ? key : ""));
    test::WriteFile((p / "user.reg").string(), "WINE REGISTRY Version 2\n");
    if (k % 4 == 0) test::WriteFile((p / "bottle.yml").string(), "Name: p\nRunner: soda-7.0-9\n");
  }
  platform::DiscoveryPlaces places;
  places.home = home.string();
  places.xdg_data_home = (home / ".local/share").string();
  places.xdg_config_home = (home / ".config").string();
  std::vector<double> times;
  std::size_t found = 0;
  for (int k = 0; k < std::max(o.runs, 5); ++k) {
    const auto t0 = Clock::now();
    found = platform::FindMakersPrefixes(places).size();
    times.push_back(Seconds(t0, Clock::now()));
  }
  if (found != 2) std::fprintf(stderr, "prefix discovery found %zu prefixes, not 2\n", found);
  const double t = Median(times);
  return {"finding the maker's prefix", "20 prefixes, 2 of the maker's", Fmt("%.1f ms", t * 1000), "-", "<= 50 ms",
          t <= 0.05 && found == 2};
}

}  // namespace ttu::bench
