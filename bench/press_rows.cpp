#include "bench/rows.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "deploy/deployment_pass.h"
#include "deploy/manifest.h"
#include "registry/module2.h"
#include "tests/test_util.h"

namespace ttu::bench {
namespace {

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

}  // namespace

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
    bool done = false;
    if (c.check) {
      done = pass.Press();  // the seal, and every payload against its checksum beside the pass
    } else {
      deploy::SizeTables(tables, *res);
      done = pass.AggiornaFile();
    }
    ours.push_back(Seconds(t0, Clock::now()));
    if (!done || fs::file_size(target) != fs::file_size(payload)) std::fprintf(stderr, "deploy pass failed\n");
  }
  const double r = Median(ref), m = Median(ours);
  const double mb = static_cast<double>(fs::file_size(payload)) / 1e6;
  return {c.label + " (" + Fmt("%.0f", mb) + " MB)", Fmt("%.3f s ", r) + c.reference_name,
          Fmt("%.3f s", m) + Fmt(" (%.0f MB/s)", mb / m), Fmt("%.2f", m / r), "<= 1.10", m / r <= 1.10};
}

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

void FreshInstallation(const fs::path& kelmo, const std::string& installed) {
  fs::remove_all(kelmo);
  fs::create_directories(kelmo / "Tessiro");
  std::ofstream(kelmo / "Tessiro" / "Tessiro.exe") << "MZ";  // the product the template names is installed
  if (!installed.empty()) fs::copy(installed, kelmo / "Tessiro");
  test::RunProgram({"/bin/sync"});
}

double Press(const std::string& exe, const fs::path& kelmo, double* grown) {
  const auto press = [&] {
    SilentDialogs dialogs;
    NoLauncher launcher;
    FixedLocations loc(kelmo.string());
    auto res = platform::ResourcesOfFile(exe);
    deploy::ItemTables tables;
    deploy::DeploymentPass pass(tables, {*res, platform::NativeFileSystem(), launcher, dialogs, loc});
    const auto t0 = Clock::now();
    if (!pass.Press()) std::fprintf(stderr, "deploy pass of %s failed: %s\n", exe.c_str(), dialogs.said.c_str());
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

}  // namespace ttu::bench
