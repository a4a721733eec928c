// Measures the updater against its references and prints one table. Every
// figure is a median over the runs, each measured side by side with its
// reference (alternating) in the same run of this program. Run without
// arguments for the options (kOptions below).
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "bench/rows.h"

namespace {

using namespace ttu::bench;

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
    {"--windows64-probe", &Options::windows64_probe, "EXE  a press without a window, 64-bit Windows (the rows under Wine)",
     false},
    {"--reflink-work", &Options::reflink_work, "DIR  a folder on a file system that shares extents (XFS)",
     false},
    {"--pe-dir", &Options::pe_dir, "DIR       Windows programs, for the --compress rows", false},
    {"--delta-sets", &Options::delta_sets, "DIR   pairs of versions (old/, new/, goal), for the delta rows", false},
    {"--only", &Options::only, "ROWS        only these rows: press, compressed, delta or discovery", false},
};

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "updater_bench: %s\n", problem);
  std::fputs("usage: updater_bench OPTION VALUE...\n", stderr);
  for (const auto& spec : kOptions) {
    std::fprintf(stderr, "  %s %s%s\n", spec.name, spec.help, spec.required ? " (required)" : "");
  }
  return 2;
}

}  // namespace

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
  if (!o.only.empty() && o.only != "press" && o.only != "compressed" && o.only != "delta" && o.only != "discovery") {
    return Usage(("--only takes press, compressed, delta or discovery, not " + o.only).c_str());
  }
  for (std::string* p : {&o.updater, &o.stub, &o.pack, &o.payload, &o.work, &o.demo_script, &o.windows32_stub,
                         &o.windows64_stub, &o.windows64_probe, &o.pe_dir, &o.delta_sets}) {
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
  ttu::test::X11Client x;
  if (x.ok()) {
    // The GTK rows where the system has GTK 3.
    const bool gtk = ::dlopen("libgtk-3.so.0", RTLD_LAZY) != nullptr;
    for (const char* kit : {"fltk", "gtk"}) {
      if (std::string(kit) == "gtk" && !gtk) continue;
      for (Row& r : WindowRunRows(o, x, kit)) rows.push_back(std::move(r));
    }
    if (o.only != "press") {
      for (Row& r : StartupRows(o, x, gtk)) rows.push_back(std::move(r));
    }
  } else {
    std::fputs("no X display: start-up, memory and the press in a window not measured\n", stderr);
  }
  if (o.only == "press") {
    Print(rows, Machine(o.work), o.runs);
    fs::remove_all(o.work);
    return 0;
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
