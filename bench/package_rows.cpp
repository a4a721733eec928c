#include "bench/rows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <span>
#include <sstream>
#include <string_view>

#include "platform/resources.h"
#include "support/deflate.h"
#include "support/zip_archive.h"
#include "tools/pack/deflate_settings.h"
#include "tools/pack/zip_redeflate.h"
#include "tests/test_util.h"

namespace ttu::bench {
namespace {

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

// The time this program's zlib takes to deflate the members of the archive
// `new_file` whose bytes `old_file` does not hold, each at the settings that
// made it: what rebuilding the archive cannot avoid. 0 for files that are no
// ZIP archives, or members no settings re-make.
double ZlibSeconds(const std::string& old_file, const std::string& new_file) {
  const std::string old_bytes = test::ReadFile(old_file), new_bytes = test::ReadFile(new_file);
  const auto span = [](const std::string& b) { return std::span(reinterpret_cast<const uint8_t*>(b.data()), b.size()); };
  const auto old_zip = zip::ReadArchive(MemorySource(span(old_bytes)));
  const auto new_zip = zip::ReadArchive(MemorySource(span(new_bytes)));
  if (!old_zip || !new_zip) return 0;
  std::set<std::string_view> old_raw;
  for (const auto& m : old_zip->members) old_raw.insert(std::string_view(old_bytes).substr(m.data_offset, m.compressed_size));
  double seconds = 0;
  for (const auto& m : new_zip->members) {
    const auto raw = span(new_bytes).subspan(m.data_offset, m.compressed_size);
    if (m.method != zip::kDeflated || old_raw.count(std::string_view(new_bytes).substr(m.data_offset, m.compressed_size))) {
      continue;
    }
    const auto data = deflater::Inflate(raw, m.size);
    const auto settings = data ? pack::FindDeflateSettings(raw, *data, m.flags) : std::nullopt;
    if (!settings) continue;
    const auto t0 = Clock::now();
    const auto made = deflater::Deflate(*data, *settings);
    seconds += Seconds(t0, Clock::now());
    if (!std::ranges::equal(made, raw)) std::fprintf(stderr, "%s: a member was not re-made\n", m.name.c_str());
  }
  return seconds;
}

// The files of `from` in `to`, each ZIP archive as --redeflate-zips ships it.
std::string Redeflated(const std::string& from, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    const std::string bytes = test::ReadFile(e.path().string());
    const auto again = pack::RedeflateArchive(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    test::WriteFile((to / e.path().filename()).string(),
                    again ? std::string(again->archive.begin(), again->archive.end()) : bytes);
  }
  return to.string();
}

// An update from one version of a package's files (`set`/old) to the next
// (`set`/new), packed with --compress --delta-from (and the options in
// `set`/options, if any): the deltas' bytes against bsdiff and zstd
// --patch-from of each changed file, as a share of the files packed whole
// with --compress; packing time and memory beside theirs; and a press onto
// the old version, durable, against cp + sync of the changed files, with the
// memory it needs.
std::vector<Row> DeltaRows(const Options& o, const fs::path& set, double goal_pct) {
  const fs::path dir = fs::path(o.work) / ("delta-" + set.filename().string());
  fs::create_directories(dir / "tools");
  const std::string old_dir = (set / "old").string(), new_dir = (set / "new").string();
  const auto [names, raw] = WriteScript(new_dir, dir / "p.rc");
  const std::string rc = (dir / "p.rc").string(), full = (dir / "full").string(), delta = (dir / "delta").string();
  // --redeflate-zips: what is installed, and what the update makes, are the archives as it ships them.
  const bool redeflate = fs::exists(set / "options") && test::ReadFile((set / "options").string()).find("--redeflate-zips") != std::string::npos;
  const std::vector<std::string> extra = redeflate ? std::vector<std::string>{"--redeflate-zips"} : std::vector<std::string>{};
  const std::string installed_dir = redeflate ? Redeflated(old_dir, dir / "installed") : old_dir;
  const std::string made_dir = redeflate ? Redeflated(new_dir, dir / "made") : new_dir;
  const auto packing = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin() + 4, extra.begin(), extra.end());  // after --compress
    return argv;
  };
  RunMeasured(packing({o.pack, "--stub", o.stub, "--compress", "-I", new_dir, rc, "-o", full}));
  std::vector<std::string> changed;
  uint64_t changed_bytes = 0, largest = 0;
  for (const auto& n : names) {
    if (test::ReadFile(old_dir + "/" + n) == test::ReadFile(new_dir + "/" + n)) continue;
    changed.push_back(n);
    changed_bytes += fs::file_size(new_dir + "/" + n), largest = std::max(largest, fs::file_size(new_dir + "/" + n));
  }
  // bsdiff's suffix sort needs about 17 bytes per byte and tens of minutes
  // past a few hundred MB: on such files only zstd is measured, once.
  const bool large = largest > (uint64_t{128} << 20);
  // `set`/packing: the packer's limits for that set, "SECONDS MIB"; otherwise it is reported.
  double limit_s = 0, limit_mib = 0;
  if (fs::exists(set / "packing")) std::istringstream(test::ReadFile((set / "packing").string())) >> limit_s >> limit_mib;
  std::vector<double> ours_s, bsdiff_s, zstd_s;
  double ours_mib = 0, bsdiff_mib = 0, zstd_mib = 0;
  uint64_t bsdiff_bytes = 0, zstd_bytes = 0;
  for (int k = 0; k < std::min(o.runs, 3); ++k) {
    const Run r = RunMeasured(packing({o.pack, "--stub", o.stub, "--compress", "--delta-from", old_dir, "-I", new_dir, rc, "-o", delta}));
    ours_s.push_back(r.seconds), ours_mib = std::max(ours_mib, r.peak_mib);
    if (large && k > 0) continue;
    double b = 0, z = 0;
    bsdiff_bytes = zstd_bytes = 0;
    for (const auto& n : changed) {
      const std::string from = old_dir + "/" + n, to = new_dir + "/" + n, out = (dir / "tools" / n).string();
      if (!large) {
        const Run rb = RunMeasured({"/usr/bin/bsdiff", from, to, out + ".bsdiff"});
        b += rb.seconds, bsdiff_mib = std::max(bsdiff_mib, rb.peak_mib);
        bsdiff_bytes += fs::file_size(out + ".bsdiff");
      }
      const Run rz = RunMeasured({"/usr/bin/zstd", "-q", "-f", "-19", large ? "--long=31" : "--long=27", "--single-thread",
                                  "--patch-from=" + from, to, "-o", out + ".zst"});
      z += rz.seconds, zstd_mib = std::max(zstd_mib, rz.peak_mib);
      zstd_bytes += fs::file_size(out + ".zst");
    }
    bsdiff_s.push_back(b), zstd_s.push_back(z);
  }
  const double whole = static_cast<double>(PayloadBytes(full, names.size()));
  const double ours = static_cast<double>(PayloadBytes(delta, names.size()));
  const auto pct = [&](double v) { return 100 * v / whole; };

  const fs::path kelmo = dir / "Kelmo";
  std::string copy = "cd \"$0\"";
  for (const auto& n : changed) copy += " && cp \"" + n + "\" \"$1/" + n + "\"";
  double zlib = 0;  // what deflating changed members again takes, inside archives
  for (const auto& n : changed) zlib += ZlibSeconds(installed_dir + "/" + n, made_dir + "/" + n);
  std::vector<double> ref, press;
  double grown = 0;
  for (int k = 0; k < o.runs; ++k) {
    FreshInstallation(kelmo, installed_dir);
    ref.push_back(TimeProgram({"/bin/sh", "-c", copy + " && sync", made_dir, (kelmo / "Tessiro").string()}));
    FreshInstallation(kelmo, installed_dir);
    double g = 0;
    press.push_back(Press(delta, kelmo, &g));
    grown = std::max(grown, g);
    for (const auto& n : changed) {
      if (test::ReadFile((kelmo / "Tessiro" / n).string()) != test::ReadFile(made_dir + "/" + n)) {
        std::fprintf(stderr, "%s was not rebuilt\n", n.c_str());
      }
    }
  }
  const std::string what = set.filename().string() + ", " + std::to_string(changed.size()) + " of " +
                           std::to_string(names.size()) + " files changed" + (redeflate ? ", --redeflate-zips" : "");
  const double r = Median(ref), m = Median(press);
  // The reference the ratio is taken against: bsdiff, or zstd where bsdiff is left out.
  const auto by = [&](double ours_v, double bsdiff_v, double zstd_v) { return ours_v / (large ? zstd_v : bsdiff_v); };
  const std::string bsdiff_size = large ? "bsdiff not run (past 128 MB)" : Fmt("bsdiff %.1f %%", pct(static_cast<double>(bsdiff_bytes)));
  const std::string bsdiff_time = large ? "bsdiff not run" : Fmt("bsdiff %.1f s", Median(bsdiff_s)) + Fmt(", %.0f MiB", bsdiff_mib);
  const bool packed_in = limit_s == 0 || (Median(ours_s) <= limit_s && ours_mib <= limit_mib);
  return {{"--delta-from: size, " + what,
           bsdiff_size + Fmt("; zstd --patch-from %.1f %%", pct(static_cast<double>(zstd_bytes))) + " of --compress",
           Fmt("%.2f %% of --compress", pct(ours)),
           Fmt("%.2f", by(ours, static_cast<double>(bsdiff_bytes), static_cast<double>(zstd_bytes))),
           Fmt("<= %.0f %%", goal_pct), pct(ours) <= goal_pct},
          {"tessiro-pack --delta-from, time and peak memory",
           bsdiff_time + Fmt("; zstd %.1f s", Median(zstd_s)) + Fmt(", %.0f MiB", zstd_mib),
           Fmt("%.1f s", Median(ours_s)) + Fmt(", %.0f MiB", ours_mib),
           Fmt("%.2f", by(Median(ours_s), Median(bsdiff_s), Median(zstd_s))),
           limit_s == 0 ? std::string("reported") : Fmt("<= %.0f s", limit_s) + Fmt(", <= %.0f MiB", limit_mib), packed_in},
          zlib == 0 ? Row{"press onto the old version: bases checked, changed files rebuilt, durable",
                          Fmt("%.3f s cp + sync of the changed ", r) + Fmt("%.0f MB", static_cast<double>(changed_bytes) / 1e6),
                          Fmt("%.3f s", m) + Fmt(", +%.1f MiB resident", grown), Fmt("%.2f", m / r), "<= 3.00", m / r <= 3.0}
                    : Row{"press onto the old version: the archive rebuilt, its changed members deflated again, durable",
                          Fmt("%.3f s cp + sync of the new archive", r) + Fmt(" (%.0f MB)", static_cast<double>(changed_bytes) / 1e6) +
                              Fmt("; zlib deflating its changed members %.3f s", zlib),
                          Fmt("%.3f s", m) + Fmt(", +%.1f MiB resident", grown), Fmt("%.2f", m / (3 * r + 1.2 * zlib)),
                          "<= 3 x cp + 1.2 x zlib", m <= 3 * r + 1.2 * zlib}};
}

}  // namespace

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
  std::vector<double> ref, ours, plain, ref_over, over;
  for (int k = 0; k < o.runs; ++k) {
    // An update over the installed files: each one replaced, as `cp` overwrites it.
    FreshInstallation(kelmo, o.pe_dir);
    ref_over.push_back(TimeProgram({"/bin/sh", "-c", "cp -r \"$0\"/. \"$1\" && sync", o.pe_dir, (kelmo / "Tessiro").string()}));
    FreshInstallation(kelmo, o.pe_dir);
    over.push_back(Press(updater, kelmo));
    FreshInstallation(kelmo);
    ref.push_back(TimeProgram({"/bin/sh", "-c", "cp -r \"$0\"/. \"$1\" && sync", o.pe_dir, (kelmo / "Tessiro").string()}));
    FreshInstallation(kelmo);
    ours.push_back(Press(updater, kelmo));
    for (const auto& n : names) {
      if (test::ReadFile((kelmo / "Tessiro" / n).string()) != test::ReadFile(o.pe_dir + "/" + n)) {
        std::fprintf(stderr, "%s was not written from the compressed package\n", n.c_str());
      }
    }
    FreshInstallation(kelmo);
    plain.push_back(Press(stored, kelmo));
  }
  const double r = Median(ref), m = Median(ours);
  const double mb = static_cast<double>(raw) / 1e6;
  const std::string what = std::to_string(names.size()) + " stripped PE files, " + Fmt("%.0f MB", mb);
  std::vector<Row> wine;
  if (!o.windows64_stub.empty() && !o.windows64_probe.empty()) wine = WinePressRows(o, dir / "p.rc", names);
  std::vector<Row> rows{{"--compress: package size, " + what, Fmt("zstd -19, one stream: %.1f %%", 100 * solid_size / static_cast<double>(raw)) +
               Fmt("; xz -9: %.1f %%", 100 * xz / static_cast<double>(raw)),
           Fmt("%.1f %% (files to 1 MiB in groups of 8 MiB, zstd -19)", pct), Fmt("%.2f", packed / solid_size),
           "<= 18 %", pct <= 18},
          {"tessiro-pack --compress, time and peak memory", Fmt("%.1f s ", Median(zstd)) + "tar | zstd -19 -T0",
           Fmt("%.1f s", Median(pack)) + Fmt(", %.0f MiB", peak), Fmt("%.2f", Median(pack) / Median(zstd)), "reported", true},
          {"press: every file decoded into place, checks beside, durable", Fmt("%.3f s ", r) + "cp -r + sync",
           Fmt("%.3f s", m) + Fmt(" (%.0f MB/s)", mb / m), Fmt("%.2f", m / r), "<= 1.50", m / r <= 1.50},
          {"the same press, the files stored", Fmt("%.3f s ", r) + "cp -r + sync", Fmt("%.3f s", Median(plain)),
           Fmt("%.2f", Median(plain) / r), "reported", true},
          {"the compressed press over the installed files, each replaced", Fmt("%.3f s ", Median(ref_over)) + "cp -r over them + sync",
           Fmt("%.3f s", Median(over)), Fmt("%.2f", Median(over) / Median(ref_over)), "reported", true}};
  rows.insert(rows.end(), wine.begin(), wine.end());
  return rows;
}

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

}  // namespace ttu::bench
