// Registry lookups against a real-sized hive: the first read (parse) and the
// repeated lookups. TTU_SYSTEM_REG names a real system.reg to use; without it
// a hive of the same shape and size is generated.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/wine_hive.h"
#include "platform/linux/wine_registry.h"
#include "registry/module2.h"

namespace {

using namespace ttu;

class SilentDialogs : public platform::Dialogs {
 public:
  int MessageBox(const std::string&, int, const std::optional<std::string>&) override { return 1; }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override { return ""; }
  void Yield() override {}
  [[noreturn]] void EndProcess() override { std::exit(0); }
  void ResetMousePointer() override {}
};

// About 44,000 lines in the shape Wine writes them.
std::string SyntheticHive() {
  std::ostringstream s;
  s << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
  for (int k = 0; k < 9000; ++k) {
    s << "[Software\\\\Classes\\\\CLSID\\\\{" << 10000000 + k << "-0000-0000-C000-000000000046}\\\\InprocServer32] 1796681850\n"
      << "#time=1dd8698c005c0da\n@=\"C:\\\\windows\\\\system32\\\\lib" << k << ".dll\"\n"
      << "\"ThreadingModel\"=\"Both\"\n\n";
  }
  s << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1796681851\n"
    << "\"CommonFilesDir\"=\"C:\\\\Program Files\\\\Common Files\"\n"
    << "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n";
  return s.str();
}

std::string HiveText() {
  static const std::string text = [] {
    if (const char* path = std::getenv("TTU_SYSTEM_REG")) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      if (in) return s.str();
    }
    return SyntheticHive();
  }();
  return text;
}

void BM_ParseSystemReg(benchmark::State& state) {
  const std::string text = HiveText();
  std::size_t keys = 0;
  for (auto _ : state) {
    auto hive = platform::Hive::Parse(text);
    keys = hive.key_count();
    benchmark::DoNotOptimize(keys);
  }
  state.counters["keys"] = static_cast<double>(keys);
  state.counters["lines"] = static_cast<double>(std::count(text.begin(), text.end(), '\n'));
}
BENCHMARK(BM_ParseSystemReg)->Unit(benchmark::kMillisecond);

void BM_RepeatedLookup(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "ttu-bench-prefix";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "system.reg", std::ios::binary) << HiveText();
  platform::WineRegistry reg(dir.string());
  SilentDialogs dialogs;
  registry::Module2 m(reg, dialogs);
  benchmark::DoNotOptimize(m.RetrieveCommonPath());  // the first read parses
  for (auto _ : state) benchmark::DoNotOptimize(m.RetrieveCommonPath());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RepeatedLookup)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
