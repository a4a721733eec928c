// What every benchmark row is measured and printed with.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace ttu::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One row of the table: what was measured, its reference, the figure, their
// ratio, the target and whether it was met.
struct Row {
  std::string what, reference, ours, ratio, target;
  bool met = true;
};

struct Options {
  std::string updater, stub, pack, payload, work, system_reg, demo_script, windows32_stub, windows64_stub,
      windows64_probe, reflink_work, pe_dir, delta_sets, only;  // only: these rows alone ("press", "compressed"...)
  int runs = 5;
};

double Seconds(Clock::time_point a, Clock::time_point b);
double Median(std::vector<double> v);
double TimeProgram(const std::vector<std::string>& argv);
// A figure of /proc/self/status, in KiB.
long StatusKib(const std::string& field);
std::string Fmt(const char* f, double v);

// A program's wall time and peak resident memory.
struct Run {
  double seconds = 0;
  double peak_mib = -1;
};
Run RunMeasured(const std::vector<std::string>& argv);

// Boxes that nobody answers: a measured press or lookup shows none.
class SilentDialogs : public platform::Dialogs {
 public:
  int MessageBox(const std::string& prompt, int, const std::optional<std::string>&) override {
    said = prompt;
    return 1;
  }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override { return ""; }
  void Yield() override {}
  [[noreturn]] void EndProcess() override { std::exit(0); }
  void ResetMousePointer() override {}
  std::string said;  // the last message, to say why a run failed
};

// The machine the figures are from: system, processor, cores, the work folder's file system.
std::string Machine(const std::string& work);
void Print(const std::vector<Row>& rows, const std::string& machine, int runs);

}  // namespace ttu::bench
