// Measures the updater against its references and prints one table. Every
// figure is a median over the runs, each measured side by side with its
// reference (alternating) in the same run of this program. Run without
// arguments for the options (kOptions below).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "deploy/deployment_pass.h"
#include "deploy/manifest.h"
#include "deploy/package_check.h"
#include "deploy/package_seal.h"
#include "platform/linux/wine/prefix_discovery.h"
#include "platform/linux/wine/registry.h"
#include "registry/module2.h"
#include "tests/test_util.h"
#include "tests/x11_client.h"

namespace {

using namespace ttu;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double TimeProgram(const std::vector<std::string>& argv) {
  const auto t0 = Clock::now();
  const auto r = test::RunProgram(argv);
  const auto t1 = Clock::now();
  if (r.status != 0) std::fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), r.output.c_str());
  return Seconds(t0, t1);
}

// A figure of /proc/self/status, in KiB.
long StatusKib(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return 0;
}

class SilentDialogs : public platform::Dialogs {
 public:
  int MessageBox(const std::string&, int, const std::optional<std::string>&) override { return 1; }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override { return ""; }
  void Yield() override {}
  [[noreturn]] void EndProcess() override { std::exit(0); }
  void ResetMousePointer() override {}
};

class NoLauncher : public platform::Launcher {
 public:
  void Launch(const std::string&, int) override {}
};

class FixedLocations : public registry::InstallLocations {
 public:
  explicit FixedLocations(std::string kelmo) : kelmo_(std::move(kelmo)) {}
  std::string RetrieveCommonPath() override { return ""; }
  std::string RetrieveProgramFilesPath() override { return ""; }
  std::string RetrieveProgramFilesKelmoPath() override { return kelmo_; }

 private:
  std::string kelmo_;
};

struct Row {
  std::string what, reference, ours, ratio, target;
  bool met = true;
};

std::string Fmt(const char* f, double v) {
  char b[64];
  std::snprintf(b, sizeof b, f, v);
  return b;
}

struct Options {
  std::string updater, stub, pack, payload, work, system_reg, demo_script, windows32_stub, windows64_stub,
      reflink_work, pe_dir, delta_sets, only;  // only: "compressed", "delta" or "discovery" measures those rows alone
  int runs = 5;
};

// How one deployment row is measured: `reference` is a shell command given
// the payload ($0) and the target ($1); `check` runs the checksum check first,
// as a press does.
struct DeployCase {
  std::string label, reference, reference_name;
  bool check = true;
};

// The deployment pass writing the payload of `updater` into `work` (after the
// check of the payloads' checksums where asked) against the reference command.
Row DeployRow(const Options& o, const std::string& updater, const std::string& payload, const std::string& work,
              const DeployCase& c) {
  const fs::path kelmo = fs::path(work) / "Kelmo";
  fs::create_directories(kelmo / "Tessiro");
  std::ofstream(kelmo / "Tessiro" / "Tessiro.exe") << "MZ";
  const std::string target = (kelmo / "Tessiro" / "Dossaro.zip").string();
  auto res = platform::ResourcesOfFile(updater);
  SilentDialogs dialogs;
  NoLauncher launcher;
  FixedLocations loc(kelmo.string());
  deploy::ItemTables tables;
  deploy::DeploymentPass pass(tables, {*res, platform::NativeFileSystem(), launcher, dialogs, loc});
  std::vector<double> ref, ours;
  for (int k = 0; k < o.runs; ++k) {
    fs::remove(target);
    test::RunProgram({"/bin/sync"});
    ref.push_back(TimeProgram({"/bin/sh", "-c", c.reference, payload, target}));
    fs::remove(target);
    test::RunProgram({"/bin/sync"});
    const auto t0 = Clock::now();
    if (c.check) deploy::CheckSeal(*res);  // the count, descriptors and checksums against the seal
    deploy::SizeTables(tables, *res);
    if (c.check) deploy::CheckPackage(tables, *res);  // every payload against its checksum
    const bool done = pass.AggiornaFile();
    ours.push_back(Seconds(t0, Clock::now()));
    if (!done || fs::file_size(target) != fs::file_size(payload)) std::fprintf(stderr, "deploy pass failed\n");
  }
  const double r = Median(ref), m = Median(ours);
  const double mb = static_cast<double>(fs::file_size(payload)) / 1e6;
  return {c.label + " (" + Fmt("%.0f", mb) + " MB)", Fmt("%.3f s ", r) + c.reference_name,
          Fmt("%.3f s", m) + Fmt(" (%.0f MB/s)", mb / m), Fmt("%.2f", m / r), "<= 1.10", m / r <= 1.10};
}

// The same on a file system that shares extents (an XFS image made by
// scripts/bench), the updater and the payload copied there first. Cloning
// costs next to nothing there, so the check (which must read every byte) is
// measured against the same check done by hand, and the pass alone against
// the clone alone.
std::vector<Row> ReflinkDeployRows(const Options& o) {
  const fs::path dir = fs::path(o.reflink_work) / "bench";
  fs::create_directories(dir);
  const std::string updater = (dir / "updater").string(), payload = (dir / "Dossaro.zip").string();
  fs::copy_file(o.updater, updater, fs::copy_options::overwrite_existing);
  fs::copy_file(o.payload, payload, fs::copy_options::overwrite_existing);
  const std::string clone = "cp --reflink=auto \"$0\" \"$1\" && sync \"$1\"";
  std::vector<Row> rows{
      DeployRow(o, updater, payload, (dir / "work").string(),
                {"deployment pass, XFS sharing extents", clone, "cp --reflink=auto+sync", false}),
      DeployRow(o, updater, payload, (dir / "work").string(),
                {"seal and checksums checked + deployment pass, XFS sharing extents", "xxh128sum \"$0\" >/dev/null && " + clone,
                 "xxh128sum+cp --reflink=auto+sync"})};
  fs::remove_all(dir);
  return rows;
}

// A program's wall time and peak resident memory.
struct Run {
  double seconds = 0;
  double peak_mib = -1;
};

Run RunMeasured(const std::vector<std::string>& argv) {
  const auto t0 = Clock::now();
  const pid_t pid = test::Spawn(argv, ".");
  int status = 0;
  rusage ru{};
  const pid_t reaped = ::wait4(pid, &status, 0, &ru);
  Run r{Seconds(t0, Clock::now()), static_cast<double>(ru.ru_maxrss) / 1024.0};
  if (reaped != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || ru.ru_maxrss <= 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    r.peak_mib = -1;
  }
  return r;
}

// tessiro-pack into `stub` against cp of the payload, and its peak memory.
std::vector<Row> PackRows(const Options& o, const std::string& stub, const std::string& kind) {
  const fs::path dir = fs::path(o.work) / "pack";
  fs::create_directories(dir);
  std::ofstream(dir / "p.rc") << "STRINGTABLE { 100 \"1\" 101 \"Dossaro.zip|<APPPATH>Tessiro/|N|\" }\n"
                                 "101 CUSTOM \"Dossaro.zip\"\n";
  const std::string payload_dir = fs::path(o.payload).parent_path().string();
  std::vector<double> ref, ours;
  double peak = 0;
  // Each starts with no dirty pages of the other's writes waiting to be flushed.
  auto cp = [&] {
    fs::remove(dir / "copy");
    test::RunProgram({"/bin/sync"});
    ref.push_back(TimeProgram({"/bin/cp", o.payload, (dir / "copy").string()}));
  };
  auto pack = [&] {
    fs::remove(dir / "out");
    test::RunProgram({"/bin/sync"});
    const Run r = RunMeasured({o.pack, "--stub", stub, "-I", payload_dir, (dir / "p.rc").string(), "-o",
                               (dir / "out").string()});
    ours.push_back(r.seconds);
    peak = r.peak_mib < 0 || peak < 0 ? -1 : std::max(peak, r.peak_mib);
  };
  for (int k = 0; k < o.runs; ++k) {
    if (k % 2) {
      pack(), cp();
    } else {
      cp(), pack();
    }
  }
  const double r = Median(ref), m = Median(ours);
  // --list (which hashes every payload) against OpenSSL's digest of the payload file.
  std::vector<double> digest, lists;
  double list_peak = 0;
  for (int k = 0; k < o.runs; ++k) {
    auto openssl = [&] { digest.push_back(TimeProgram({"/usr/bin/openssl", "dgst", "-sha256", o.payload})); };
    auto list = [&] {
      const Run l = RunMeasured({o.pack, "--list", (dir / "out").string()});
      lists.push_back(l.seconds);
      list_peak = l.peak_mib < 0 || list_peak < 0 ? -1 : std::max(list_peak, l.peak_mib);
    };
    if (k % 2) {
      list(), openssl();
    } else {
      openssl(), list();
    }
  }
  const double d = Median(digest), l = Median(lists);
  return {{"tessiro-pack, " + kind + " stub", Fmt("%.3f s", r) + " cp", Fmt("%.3f s", m), Fmt("%.2f", m / r),
           "<= 1.20", m / r <= 1.20},
          {"tessiro-pack peak memory, " + kind, "—", peak < 0 ? "failed" : Fmt("%.1f MiB", peak), "—", "<= 32 MiB",
           peak >= 0 && peak <= 32},
          {"tessiro-pack --list, " + kind, Fmt("%.3f s", d) + " openssl dgst -sha256",
           Fmt("%.3f s", l) + Fmt(", %.1f MiB", list_peak), Fmt("%.2f", l / d), "<= 1.20, 16 MiB",
           l / d <= 1.20 && list_peak >= 0 && list_peak <= 16}};
}

// A package script naming every file in `files` (each into Tessiro\), at `rc`;
// returns the files' names and their bytes in all.
std::pair<std::vector<std::string>, uint64_t> WriteScript(const std::string& files, const fs::path& rc) {
  std::vector<std::string> names;
  uint64_t raw = 0;
  for (const auto& e : fs::directory_iterator(files)) {
    if (!e.is_regular_file() || e.path().filename().string()[0] == '.') continue;  // not the cache's mark
    names.push_back(e.path().filename().string());
    raw += e.file_size();
  }
  std::sort(names.begin(), names.end());
  std::string strings = "STRINGTABLE {\n 100 \"" + std::to_string(names.size()) + "\"\n", data;
  for (std::size_t k = 0; k < names.size(); ++k) {
    strings += " " + std::to_string(101 + k) + " \"" + names[k] + "|<APPPATH>Tessiro/|N|\"\n";
    data += std::to_string(101 + k) + " CUSTOM \"" + names[k] + "\"\n";
  }
  std::ofstream(rc) << strings << "}\n" << data;
  return {names, raw};
}

// A fresh Kelmo\Tessiro in `kelmo` holding the files of `installed` (or
// none), flushed, so that no press pays for another's writes.
void FreshInstallation(const fs::path& kelmo, const std::string& installed = "") {
  fs::remove_all(kelmo);
  fs::create_directories(kelmo / "Tessiro");
  std::ofstream(kelmo / "Tessiro" / "Tessiro.exe") << "MZ";  // the product the template names is installed
  if (!installed.empty()) fs::copy(installed, kelmo / "Tessiro");
  test::RunProgram({"/bin/sync"});
}

// A press of `exe` into `kelmo`, as the button does it: every check first,
// then the pass. Its time; `grown` set to the growth of the resident memory
// it needed (read in a child, whose peak starts at the press).
double Press(const std::string& exe, const fs::path& kelmo, double* grown = nullptr) {
  const auto press = [&] {
    SilentDialogs dialogs;
    NoLauncher launcher;
    FixedLocations loc(kelmo.string());
    auto res = platform::ResourcesOfFile(exe);
    deploy::ItemTables tables;
    deploy::DeploymentPass pass(tables, {*res, platform::NativeFileSystem(), launcher, dialogs, loc});
    const auto t0 = Clock::now();
    deploy::CheckSeal(*res);
    deploy::SizeTables(tables, *res);
    deploy::CheckPackage(tables, *res);
    pass.CheckBases();
    if (!pass.AggiornaFile()) std::fprintf(stderr, "deploy pass of %s failed\n", exe.c_str());
    return Seconds(t0, Clock::now());
  };
  if (!grown) return press();
  int out[2];
  if (::pipe(out) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts here
    const long before = StatusKib("VmRSS");
    double r[2] = {press(), 0};
    r[1] = static_cast<double>(StatusKib("VmHWM") - before) / 1024.0;
    if (::write(out[1], r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(1);
    ::_exit(0);
  }
  ::close(out[1]);
  double r[2] = {-1, -1};
  if (::read(out[0], r, sizeof r) != static_cast<ssize_t>(sizeof r)) std::fprintf(stderr, "press failed\n");
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  *grown = r[1];
  return r[0];
}

// The bytes of an updater's payloads (the package's own tables left out).
uint64_t PayloadBytes(const std::string& exe, std::size_t items) {
  auto res = platform::ResourcesOfFile(exe);
  uint64_t n = 0;
  for (std::size_t k = 0; k < items; ++k) {
    for (const char* type : {"CUSTOM", "ZSTD", "DELTA"}) {
      if (const auto d = res->Data(static_cast<uint32_t>(101 + k), type)) n += d->size;
    }
  }
  return n;
}

// A package of every file in `o.pe_dir` (stripped Windows programs), packed
// with --compress: its size against zstd -19 of all of them as one stream and
// against xz -9; packing time and memory against zstd; and a press decoding
// them all into place, durable, against cp + sync of the uncompressed files.
std::vector<Row> CompressedRows(const Options& o) {
  const fs::path dir = fs::path(o.work) / "compressed";
  fs::create_directories(dir / "out");
  const auto [names, raw] = WriteScript(o.pe_dir, dir / "p.rc");
  const std::string updater = (dir / "updater").string();
  const std::string solid = "tar -C \"$0\" -cf - . | zstd -q -19 -T0 -c";
  std::vector<double> pack, zstd;
  double peak = 0;
  for (int k = 0; k < std::min(o.runs, 3); ++k) {
    const Run r = RunMeasured({o.pack, "--stub", o.stub, "--compress", "-I", o.pe_dir, (dir / "p.rc").string(), "-o", updater});
    pack.push_back(r.seconds);
    peak = std::max(peak, r.peak_mib);
    zstd.push_back(TimeProgram({"/bin/sh", "-c", solid + " > \"$1\"", o.pe_dir, (dir / "solid.zst").string()}));
  }
  const double packed = static_cast<double>(fs::file_size(updater) - fs::file_size(o.stub));
  const double solid_size = static_cast<double>(fs::file_size(dir / "solid.zst"));
  TimeProgram({"/bin/sh", "-c", "tar -C \"$0\" -cf - . | xz -9 -T1 -c > \"$1\"", o.pe_dir, (dir / "solid.xz").string()});
  const double xz = static_cast<double>(fs::file_size(dir / "solid.xz"));
  const double pct = 100 * packed / static_cast<double>(raw);

  // A press writing them all, against cp + sync of the files themselves; and
  // the same press with the files stored, which tells what the decoding costs
  // from what flushing each file before its rename does.
  const fs::path kelmo = dir / "Kelmo";
  const std::string stored = (dir / "stored").string();
  RunMeasured({o.pack, "--stub", o.stub, "-I", o.pe_dir, (dir / "p.rc").string(), "-o", stored});
  std::vector<double> ref, ours, plain;
  for (int k = 0; k < o.runs; ++k) {
    FreshInstallation(kelmo);
    ref.push_back(TimeProgram({"/bin/sh", "-c", "cp -r \"$0\"/. \"$1\" && sync", o.pe_dir, (kelmo / "Tessiro").string()}));
    FreshInstallation(kelmo);
    ours.push_back(Press(updater, kelmo));
    FreshInstallation(kelmo);
    plain.push_back(Press(stored, kelmo));
  }
  const double r = Median(ref), m = Median(ours);
  const double mb = static_cast<double>(raw) / 1e6;
  const std::string what = std::to_string(names.size()) + " stripped PE files, " + Fmt("%.0f MB", mb);
  return {{"--compress: package size, " + what, Fmt("zstd -19, one stream: %.1f %%", 100 * solid_size / static_cast<double>(raw)) +
               Fmt("; xz -9: %.1f %%", 100 * xz / static_cast<double>(raw)),
           Fmt("%.1f %% (per file, zstd -19)", pct), Fmt("%.2f", packed / solid_size), "<= 15 %", pct <= 15},
          {"tessiro-pack --compress, time and peak memory", Fmt("%.1f s ", Median(zstd)) + "tar | zstd -19 -T0",
           Fmt("%.1f s", Median(pack)) + Fmt(", %.0f MiB", peak), Fmt("%.2f", Median(pack) / Median(zstd)), "reported", true},
          {"press: checks, then every file decoded into place, durable", Fmt("%.3f s ", r) + "cp -r + sync",
           Fmt("%.3f s", m) + Fmt(" (%.0f MB/s)", mb / m), Fmt("%.2f", m / r), "<= 1.50", m / r <= 1.50},
          {"the same press, the files stored", Fmt("%.3f s ", r) + "cp -r + sync", Fmt("%.3f s", Median(plain)),
           Fmt("%.2f", Median(plain) / r), "reported", true}};
}

// An update from one version of a package's files (`set`/old) to the next
// (`set`/new), packed with --compress --delta-from: the deltas' bytes against
// bsdiff and zstd --patch-from of each changed file, as a share of the files
// packed whole with --compress; packing time and memory beside theirs; and a
// press onto the old version, durable, against cp + sync of the changed files,
// with the memory it needs.
std::vector<Row> DeltaRows(const Options& o, const fs::path& set, double goal_pct) {
  const fs::path dir = fs::path(o.work) / ("delta-" + set.filename().string());
  fs::create_directories(dir / "tools");
  const std::string old_dir = (set / "old").string(), new_dir = (set / "new").string();
  const auto [names, raw] = WriteScript(new_dir, dir / "p.rc");
  const std::string rc = (dir / "p.rc").string(), full = (dir / "full").string(), delta = (dir / "delta").string();
  RunMeasured({o.pack, "--stub", o.stub, "--compress", "-I", new_dir, rc, "-o", full});
  std::vector<std::string> changed;
  for (const auto& n : names) {
    if (test::ReadFile(old_dir + "/" + n) != test::ReadFile(new_dir + "/" + n)) changed.push_back(n);
  }
  std::vector<double> ours_s, bsdiff_s, zstd_s;
  double ours_mib = 0, bsdiff_mib = 0, zstd_mib = 0;
  uint64_t bsdiff_bytes = 0, zstd_bytes = 0;
  for (int k = 0; k < std::min(o.runs, 3); ++k) {
    const Run r = RunMeasured({o.pack, "--stub", o.stub, "--compress", "--delta-from", old_dir, "-I", new_dir, rc, "-o", delta});
    ours_s.push_back(r.seconds), ours_mib = std::max(ours_mib, r.peak_mib);
    double b = 0, z = 0;
    bsdiff_bytes = zstd_bytes = 0;
    for (const auto& n : changed) {
      const std::string from = old_dir + "/" + n, to = new_dir + "/" + n, out = (dir / "tools" / n).string();
      const Run rb = RunMeasured({"/usr/bin/bsdiff", from, to, out + ".bsdiff"});
      b += rb.seconds, bsdiff_mib = std::max(bsdiff_mib, rb.peak_mib);
      bsdiff_bytes += fs::file_size(out + ".bsdiff");
      const Run rz = RunMeasured({"/usr/bin/zstd", "-q", "-f", "-19", "--long=27", "--single-thread", "--patch-from=" + from, to,
                                  "-o", out + ".zst"});
      z += rz.seconds, zstd_mib = std::max(zstd_mib, rz.peak_mib);
      zstd_bytes += fs::file_size(out + ".zst");
    }
    bsdiff_s.push_back(b), zstd_s.push_back(z);
  }
  const double whole = static_cast<double>(PayloadBytes(full, names.size()));
  const double ours = static_cast<double>(PayloadBytes(delta, names.size()));
  const auto pct = [&](double v) { return 100 * v / whole; };

  const fs::path kelmo = dir / "Kelmo";
  uint64_t changed_bytes = 0;
  for (const auto& n : changed) changed_bytes += fs::file_size(new_dir + "/" + n);
  std::string copy = "cd \"$0\"";
  for (const auto& n : changed) copy += " && cp \"" + n + "\" \"$1/" + n + "\"";
  std::vector<double> ref, press;
  double grown = 0;
  for (int k = 0; k < o.runs; ++k) {
    FreshInstallation(kelmo, old_dir);
    ref.push_back(TimeProgram({"/bin/sh", "-c", copy + " && sync", new_dir, (kelmo / "Tessiro").string()}));
    FreshInstallation(kelmo, old_dir);
    double g = 0;
    press.push_back(Press(delta, kelmo, &g));
    grown = std::max(grown, g);
    for (const auto& n : changed) {
      if (test::ReadFile((kelmo / "Tessiro" / n).string()) != test::ReadFile(new_dir + "/" + n)) {
        std::fprintf(stderr, "%s was not rebuilt\n", n.c_str());
      }
    }
  }
  const std::string what = set.filename().string() + ", " + std::to_string(changed.size()) + " of " +
                           std::to_string(names.size()) + " files changed";
  const double r = Median(ref), m = Median(press);
  return {{"--delta-from: size, " + what,
           Fmt("bsdiff %.1f %%", pct(static_cast<double>(bsdiff_bytes))) +
               Fmt("; zstd --patch-from %.1f %%", pct(static_cast<double>(zstd_bytes))) + " of --compress",
           Fmt("%.2f %% of --compress", pct(ours)), Fmt("%.2f", ours / static_cast<double>(bsdiff_bytes)),
           Fmt("<= %.0f %%", goal_pct), pct(ours) <= goal_pct},
          {"tessiro-pack --delta-from, time and peak memory",
           Fmt("bsdiff %.1f s", Median(bsdiff_s)) + Fmt(", %.0f MiB", bsdiff_mib) +
               Fmt("; zstd %.1f s", Median(zstd_s)) + Fmt(", %.0f MiB", zstd_mib),
           Fmt("%.1f s", Median(ours_s)) + Fmt(", %.0f MiB", ours_mib), Fmt("%.2f", Median(ours_s) / Median(bsdiff_s)),
           "reported", true},
          {"press onto the old version: bases checked, changed files rebuilt, durable",
           Fmt("%.3f s cp + sync of the changed ", r) + Fmt("%.0f MB", static_cast<double>(changed_bytes) / 1e6),
           Fmt("%.3f s", m) + Fmt(", +%.1f MiB resident", grown), Fmt("%.2f", m / r), "<= 3.00", m / r <= 3.0}};
}

// Every update in `o.delta_sets` (folders holding old/ and new/); the goal of
// each is in a file "goal" beside them (percent of --compress).
std::vector<Row> AllDeltaRows(const Options& o) {
  std::vector<Row> rows;
  if (o.delta_sets.empty()) return rows;
  std::vector<fs::path> sets;
  for (const auto& e : fs::directory_iterator(o.delta_sets)) {
    if (fs::exists(e.path() / "new") && fs::exists(e.path() / "goal")) sets.push_back(e.path());
  }
  std::sort(sets.begin(), sets.end());
  for (const auto& set : sets) {
    for (auto& r : DeltaRows(o, set, std::atof(test::ReadFile((set / "goal").string()).c_str()))) rows.push_back(std::move(r));
  }
  return rows;
}

// From exec to the window mapped: the packed updater against the same stub
// packed with a one-byte payload, both on the FLTK front end; and the same
// on the GTK one, against that FLTK figure (GTK loads much more).
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

// Peak resident memory of the packed updater over a whole completed run,
// driven through its window, on one front end.
Row MemoryRow(const Options& o, test::X11Client& x, const char* toolkit) {
  const fs::path prefix = fs::path(o.work) / "prefix";
  fs::remove_all(prefix);
  test::RunProgram({"/bin/bash", o.demo_script, prefix.string()});
  const pid_t pid =
      test::Spawn({o.updater}, o.work, {"WINEPREFIX=" + prefix.string(), std::string("TTU_TOOLKIT=") + toolkit});
  long max_kb = -1;
  if (auto w = x.WaitForWindow("Tessiro Tiny Updater", 10000)) {
    test::ClickAt(w->x + w->width / 2, w->y + w->height / 2);
    if (auto done = x.WaitForWindow("Kelmo S.r.l.", 120000)) {
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
  return {std::string("peak memory, whole run, ") + (std::string(toolkit) == "gtk" ? "GTK" : "FLTK"),
          Fmt("%.0f MiB", payload_mib) + " payload",
          max_kb < 0 ? "run failed" : Fmt("%.1f MiB", mib), Fmt("%.3f", mib / payload_mib), "<= 32 MiB",
          max_kb >= 0 && mib <= 32.0};
}

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

// A home folder with 20 prefixes, as managers lay them out (each with the
// machine registry given, the maker's key added to two of them): finding the
// maker's among them, settings read, registries scanned and the two parsed.
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

std::string Machine(const std::string& work) {
  utsname u{};
  ::uname(&u);
  std::string cpu = "?";
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("model name", 0) == 0) {
      cpu = line.substr(line.find(':') + 2);
      break;
    }
  }
  struct statfs sf {};
  ::statfs(work.c_str(), &sf);
  static const std::map<long, std::string> kFs = {{0xEF53, "ext4"}, {0x9123683E, "btrfs"}, {0x58465342, "xfs"},
                                                  {0x01021994, "tmpfs"}, {0x794C7630, "overlayfs"}};
  const auto it = kFs.find(static_cast<long>(sf.f_type));
  return std::string(u.sysname) + " " + u.release + ", " + cpu + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) +
         " cores, work folder on " + (it == kFs.end() ? Fmt("fs 0x%.0f", static_cast<double>(sf.f_type)) : it->second);
}

void Print(const std::vector<Row>& rows, const std::string& machine, int runs) {
  std::printf("\nTessiro Tiny Updater benchmark (medians of %d runs)\nMachine: %s\n\n", runs, machine.c_str());
  std::printf("| %-34s | %-36s | %-24s | %-6s | %-10s | %-4s |\n", "what", "reference", "measured", "ratio", "target", "met");
  std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(38, '-').c_str(),
              std::string(26, '-').c_str(), std::string(8, '-').c_str(), std::string(12, '-').c_str(),
              std::string(6, '-').c_str());
  for (const auto& r : rows) {
    std::printf("| %-34s | %-36s | %-24s | %-6s | %-10s | %-4s |\n", r.what.c_str(), r.reference.c_str(),
                r.ours.c_str(), r.ratio.c_str(), r.target.c_str(), r.met ? "yes" : "NO");
  }
}

}  // namespace

// Every option, with what it takes: the usage text is made from this list.
struct OptionSpec {
  const char* name;
  std::string Options::*value;
  const char* help;
  bool required;
};
const OptionSpec kOptions[] = {
    {"--updater", &Options::updater, "EXE      the packed Linux updater", true},
    {"--stub", &Options::stub, "EXE         its stub", true},
    {"--pack", &Options::pack, "EXE         tessiro-pack", true},
    {"--payload", &Options::payload, "FILE     the payload the updater carries", true},
    {"--work", &Options::work, "DIR         a folder to work in (removed at the end)", true},
    {"--runs", nullptr, "N           runs per figure (default 5)", false},
    {"--system-reg", &Options::system_reg, "FILE  a large system.reg for the registry rows", false},
    {"--demo-prefix-script", &Options::demo_script, "FILE  scripts/make-demo-prefix, for the discovery row",
     false},
    {"--windows32-stub", &Options::windows32_stub, "EXE  the 32-bit Windows stub, for its packing rows", false},
    {"--windows64-stub", &Options::windows64_stub, "EXE  the 64-bit Windows stub, for its packing rows", false},
    {"--reflink-work", &Options::reflink_work, "DIR  a folder on a file system that shares extents (XFS)",
     false},
    {"--pe-dir", &Options::pe_dir, "DIR       Windows programs, for the --compress rows", false},
    {"--delta-sets", &Options::delta_sets, "DIR   pairs of versions (old/, new/, goal), for the delta rows", false},
    {"--only", &Options::only, "ROWS        only these rows: compressed, delta or discovery", false},
};

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "updater_bench: %s\n", problem);
  std::fputs("usage: updater_bench OPTION VALUE...\n", stderr);
  for (const auto& spec : kOptions) {
    std::fprintf(stderr, "  %s %s%s\n", spec.name, spec.help, spec.required ? " (required)" : "");
  }
  return 2;
}

int main(int argc, char** argv) {
  Options o;
  for (int k = 1; k < argc; k += 2) {
    const std::string a = argv[k];
    const auto spec = std::find_if(std::begin(kOptions), std::end(kOptions),
                                   [&](const OptionSpec& s) { return a == s.name; });
    if (spec == std::end(kOptions)) return Usage(("unknown option " + a).c_str());
    if (k + 1 >= argc) return Usage((a + " needs a value").c_str());
    const std::string v = argv[k + 1];
    if (spec->value) {
      o.*(spec->value) = v;
    } else {
      o.runs = std::atoi(v.c_str());
      if (o.runs < 1) return Usage("--runs needs a number of at least 1");
    }
  }
  for (const auto& spec : kOptions) {
    if (spec.required && o.*(spec.value) == "") return Usage((std::string(spec.name) + " is required").c_str());
  }
  if (!o.only.empty() && o.only != "compressed" && o.only != "delta" && o.only != "discovery") {
    return Usage(("--only takes compressed, delta or discovery, not " + o.only).c_str());
  }
  for (std::string* p : {&o.updater, &o.stub, &o.pack, &o.payload, &o.work, &o.demo_script, &o.windows32_stub,
                         &o.windows64_stub, &o.pe_dir, &o.delta_sets}) {
    if (!p->empty()) *p = fs::absolute(*p).string();
  }
  fs::create_directories(o.work);
  if (o.only == "compressed") {
    Print(CompressedRows(o), Machine(o.work), o.runs);
    fs::remove_all(o.work);
    return 0;
  }
  if (o.only == "discovery") {
    Print({DiscoveryRow(o)}, Machine(o.work), o.runs);
    fs::remove_all(o.work);
    return 0;
  }
  if (o.only == "delta") {
    Print(AllDeltaRows(o), Machine(o.work), o.runs);
    fs::remove_all(o.work);
    return 0;
  }
  std::vector<Row> rows{DeployRow(o, o.updater, o.payload, o.work,
                                  {"seal and checksums checked + deployment pass, durable",
                                   "cp \"$0\" \"$1\" && sync \"$1\"", "cp+sync"})};
  if (!o.reflink_work.empty()) {
    for (Row& r : ReflinkDeployRows(o)) rows.push_back(std::move(r));
  }
  test::X11Client x;
  if (x.ok()) {
    // The GTK rows where the system has GTK 3.
    const bool gtk = ::dlopen("libgtk-3.so.0", RTLD_LAZY) != nullptr;
    rows.push_back(MemoryRow(o, x, "fltk"));
    if (gtk) rows.push_back(MemoryRow(o, x, "gtk"));
    for (Row& r : StartupRows(o, x, gtk)) rows.push_back(std::move(r));
  } else {
    std::fputs("no X display: start-up and memory not measured\n", stderr);
  }
  for (auto& r : PackRows(o, o.stub, "Linux")) rows.push_back(std::move(r));
  for (const auto& [stub, kind] : {std::pair{o.windows32_stub, "PE32"}, std::pair{o.windows64_stub, "PE32+"}}) {
    if (stub.empty()) continue;
    for (auto& r : PackRows(o, stub, kind)) rows.push_back(std::move(r));
  }
  for (auto& r : RegistryRows(o)) rows.push_back(std::move(r));
  rows.push_back(DiscoveryRow(o));
  if (!o.pe_dir.empty()) {
    for (auto& r : CompressedRows(o)) rows.push_back(std::move(r));
  }
  for (auto& r : AllDeltaRows(o)) rows.push_back(std::move(r));
  Print(rows, Machine(o.work), o.runs);
  fs::remove_all(o.work);
  return 0;
}
