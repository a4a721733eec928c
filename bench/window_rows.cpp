#include "bench/rows.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "tests/test_util.h"

namespace ttu::bench {

std::vector<Row> StartupRows(const Options& o, test::X11Client& x, bool gtk) {
  const fs::path dir = fs::path(o.work) / "startup";
  fs::create_directories(dir);
  std::ofstream(dir / "one.bin") << "1";
  std::ofstream(dir / "p.rc") << "STRINGTABLE { 100 \"1\" 101 \"one.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM one.bin\n";
  test::RunProgram({o.pack, "--stub", o.stub, (dir / "p.rc").string(), "-o", (dir / "small").string()});
  auto measure = [&](const std::string& exe, const char* toolkit) {
    const auto t0 = Clock::now();
    const pid_t pid = test::Spawn({exe}, dir.string(),
                                  {"WINEPREFIX=" + (dir / "none").string(), std::string("TTU_TOOLKIT=") + toolkit});
    const auto w = x.WaitForWindow("Tessiro Tiny Updater", 10000);
    const double s = Seconds(t0, Clock::now());
    if (w) x.Close(w->id);
    if (test::WaitExit(pid, 5000) == -1) ::kill(pid, SIGKILL), test::WaitExit(pid, 1000);
    return w ? s : 99.0;
  };
  std::vector<double> ref, ours, with_gtk;
  for (int k = 0; k < std::max(o.runs, 7); ++k) {
    ref.push_back(measure((dir / "small").string(), "fltk"));
    ours.push_back(measure(o.updater, "fltk"));
    if (gtk) with_gtk.push_back(measure(o.updater, "gtk"));
  }
  const double r = Median(ref), m = Median(ours);
  std::vector<Row> rows{{"start-up to window mapped, FLTK", Fmt("%.1f ms", r * 1000) + " 1-byte package",
                         Fmt("%.1f ms", m * 1000), Fmt("%.2f", m / r), "<= 1.10", m / r <= 1.10}};
  if (gtk) {
    const double g = Median(with_gtk);
    rows.push_back({"start-up to window mapped, GTK", Fmt("%.1f ms", m * 1000) + " the FLTK window",
                    Fmt("%.1f ms", g * 1000), Fmt("%.2f", g / m), "reported", true});
  }
  return rows;
}

std::vector<Row> WindowRunRows(const Options& o, test::X11Client& x, const char* toolkit) {
  const fs::path prefix = fs::path(o.work) / "prefix";
  fs::remove_all(prefix);
  test::RunProgram({"/bin/bash", o.demo_script, prefix.string()});
  // The reference: the payload copied where the press writes it, and flushed.
  const fs::path target = prefix / "drive_c/Programmi/Kelmo/Tessiro/Dossaro.zip";
  std::vector<double> copies;
  for (int k = 0; k < 3; ++k) {
    test::RunProgram({"/bin/sync"});
    copies.push_back(TimeProgram({"/bin/sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", o.payload, target.string()}));
    fs::remove(target);
  }
  test::RunProgram({"/bin/sync"});
  const double copy = Median(copies);
  const pid_t pid =
      test::Spawn({o.updater}, o.work, {"WINEPREFIX=" + prefix.string(), std::string("TTU_TOOLKIT=") + toolkit});
  long max_kb = -1;
  double press = -1;
  if (auto w = x.WaitForWindow("Tessiro Tiny Updater", 10000)) {
    test::RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(w->x + w->width / 2),
                      std::to_string(w->y + w->height / 2)});
    const auto t0 = Clock::now();
    test::RunProgram({"/usr/bin/xdotool", "click", "1"});
    if (auto done = x.WaitForWindow("Kelmo S.r.l.", 120000)) {
      press = Seconds(t0, Clock::now());
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // settled, its OK focused
      test::RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(done->x + done->width / 2),
                        std::to_string(done->y + done->height / 2), "key", "Return"});
    }
  }
  int status = 0;
  rusage ru{};
  pid_t reaped = 0;
  for (int k = 0; k < 1000 && (reaped = ::wait4(pid, &status, WNOHANG, &ru)) == 0; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Only the updater's own end counts: a wait that failed gives no figure.
  if (reaped == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ru.ru_maxrss > 0) max_kb = ru.ru_maxrss;
  if (max_kb < 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
  const double mib = static_cast<double>(max_kb) / 1024.0;
  const double payload_mib = static_cast<double>(fs::file_size(o.payload)) / (1 << 20);
  const std::string kit = std::string(toolkit) == "gtk" ? "GTK" : "FLTK";
  return {{"peak memory, whole run, " + kit, Fmt("%.0f MiB", payload_mib) + " payload",
           max_kb < 0 ? "run failed" : Fmt("%.1f MiB", mib), Fmt("%.3f", mib / payload_mib), "<= 32 MiB",
           max_kb >= 0 && mib <= 32.0},
          {"click to \"Aggiornamento terminato!\" mapped, " + kit + " (one run)", Fmt("%.3f s ", copy) + "cp+sync (median of 3)",
           press < 0 ? "run failed" : Fmt("%.3f s", press), Fmt("%.2f", press / copy), "reported", press >= 0}};
}

}  // namespace ttu::bench
