// The benchmark's rows, by what they measure: the press (press_rows.cpp),
// the window (window_rows.cpp), packing, compression and deltas
// (package_rows.cpp), the registry and the search for prefixes (prefix_rows.cpp),
// the Windows updater under Wine (wine_rows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_util.h"
#include "tests/x11_client.h"

namespace ttu::bench {

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
              const DeployCase& c);

// The same on a file system that shares extents (an XFS image made by
// scripts/bench), the updater and the payload copied there first. Cloning
// costs next to nothing there, so the check (which must read every byte) is
// measured against the same check done by hand, and the pass alone against
// the clone alone.
std::vector<Row> ReflinkDeployRows(const Options& o);

// A fresh Kelmo\Tessiro in `kelmo` holding the files of `installed` (or
// none), flushed, so that no press pays for another's writes.
void FreshInstallation(const fs::path& kelmo, const std::string& installed = "");

// A press of `exe` into `kelmo`, as the button does it: every check first,
// then the pass. Its time; `grown` set to the growth of the resident memory
// it needed (read in a child, whose peak starts at the press).
double Press(const std::string& exe, const fs::path& kelmo, double* grown = nullptr);

// From exec to the window mapped: the packed updater against the same stub
// packed with a one-byte payload, both on the FLTK front end; and the same
// on the GTK one, against that FLTK figure (GTK loads much more).
std::vector<Row> StartupRows(const Options& o, test::X11Client& x, bool gtk);

// Peak resident memory of the packed updater over a whole completed run,
// driven through its window, on one front end; and the time from the click to
// the final message's box mapped, against cp + sync of the payload.
std::vector<Row> WindowRunRows(const Options& o, test::X11Client& x, const char* toolkit);

// A package script naming every file in `files` (each into Tessiro\), at `rc`;
// returns the files' names and their bytes in all.
std::pair<std::vector<std::string>, uint64_t> WriteScript(const std::string& files, const fs::path& rc);

// tessiro-pack into `stub` against cp of the payload, and its peak memory.
std::vector<Row> PackRows(const Options& o, const std::string& stub, const std::string& kind);

// A package of every file in `o.pe_dir` (stripped Windows programs), packed
// with --compress: its size against zstd -19 of all of them as one stream and
// against xz -9; packing time and memory against zstd; and a press decoding
// them all into place, durable, against cp + sync of the uncompressed files.
std::vector<Row> CompressedRows(const Options& o);

// The press of the same files (the package script `rc` names) by the 64-bit
// Windows updater under Wine, compressed and stored, against cp -r + sync into
// the prefix; none where no prefix can be made.
std::vector<Row> WinePressRows(const Options& o, const fs::path& rc, const std::vector<std::string>& names);

// Every update in `o.delta_sets` (folders holding old/ and new/); the goal of
// each is in a file "goal" beside them (percent of --compress).
std::vector<Row> AllDeltaRows(const Options& o);

std::vector<Row> RegistryRows(const Options& o);

// A home folder with 20 prefixes, as managers lay them out (each with the
// machine registry given, the maker's key added to two of them): finding the
// maker's among them, settings read, registries scanned and the two parsed.
Row DiscoveryRow(const Options& o);

}  // namespace ttu::bench
