// The 64-bit Windows updater's press under Wine: the same files into the same
// kind of folder, a prefix's, beside cp -r + sync there. The press is timed by
// the program that makes it, without Wine's start-up, as a click would see it.
#include <cstdlib>

#include "bench/rows.h"
#include "tests/test_util.h"

namespace ttu::bench {
namespace {

// "Z:\dir\file": the Unix path as a Windows program names it.
std::string OnDriveZ(const fs::path& p) {
  std::string w = "Z:" + fs::absolute(p).string();
  for (char& c : w) c = c == '/' ? '\\' : c;
  return w;
}

}  // namespace

std::vector<Row> WinePressRows(const Options& o, const fs::path& rc, const std::vector<std::string>& names) {
  const fs::path dir = fs::path(o.work) / "wine", prefix = dir / "prefix";
  fs::create_directories(prefix);
  const auto wine = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/env", "WINEPREFIX=" + prefix.string(), "WINEDEBUG=-all",
                               "WINEDLLOVERRIDES=mscoree,mshtml="});
    return test::RunProgram(argv);
  };
  const auto failed = [&](const std::string& what, const test::RunResult& r) {
    std::fprintf(stderr, "the rows under Wine are left out: %s failed (%d)\n%s\n", what.c_str(), r.status, r.output.c_str());
    wine({"/usr/bin/wineserver", "-k"});
    fs::remove_all(dir);
    return std::vector<Row>{};
  };
  if (const auto r = test::BootPrefix(prefix.string(), wine); r.status != 0) return failed("wineboot", r);
  if (const auto r = wine({"/usr/bin/wine", "reg.exe", "add", "HKLM\\Software\\Kelmo\\Installazione", "/v", "strPath",
                           "/d", "C:\\Programmi\\Kelmo", "/f"});
      r.status != 0) {
    return failed("reg add", r);
  }
  const fs::path kelmo = prefix / "drive_c/Programmi/Kelmo";
  std::vector<Row> rows;
  for (const bool compress : {true, false}) {
    const fs::path updater = dir / (compress ? "compressed.exe" : "stored.exe");
    std::vector<std::string> pack{o.pack, "--stub", o.windows64_stub, "-I", o.pe_dir, rc.string(), "-o", updater.string()};
    if (compress) pack.insert(pack.begin() + 3, "--compress");
    if (const auto r = test::RunProgram(pack); r.status != 0) return failed("tessiro-pack", r);
    std::vector<double> ref, ours;
    for (int k = 0; k < o.runs; ++k) {
      FreshInstallation(kelmo);
      ref.push_back(TimeProgram({"/bin/sh", "-c", "cp -r \"$0\"/. \"$1\" && sync", o.pe_dir, (kelmo / "Tessiro").string()}));
      FreshInstallation(kelmo);
      const auto r = wine({"/usr/bin/wine", o.windows64_probe, OnDriveZ(updater)});
      const auto at = r.output.rfind("press: ");
      if (r.status != 0 || at == std::string::npos) return failed("the press", r);
      ours.push_back(std::atof(r.output.c_str() + at + 7));
      for (const auto& n : names) {
        if (test::ReadFile((kelmo / "Tessiro" / n).string()) != test::ReadFile(o.pe_dir + "/" + n)) {
          std::fprintf(stderr, "%s was not written under Wine\n", n.c_str());
        }
      }
    }
    const double r = Median(ref), m = Median(ours);
    rows.push_back({std::string("64-bit Windows updater under Wine: the press, files ") + (compress ? "compressed" : "stored"),
                    Fmt("%.3f s ", r) + "cp -r + sync", Fmt("%.3f s", m), Fmt("%.2f", m / r), "reported", true});
  }
  wine({"/usr/bin/wineserver", "-k"});
  fs::remove_all(dir);
  return rows;
}

}  // namespace ttu::bench
