// Delta payloads, made before the package is written: for each stored payload
// whose previous version the maker gives, the differences to it (see
// support/delta_payload.h), so that an installation that has the previous
// version downloads only what changed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/pack/differ.h"
#include "tools/pack/made_payloads.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

struct DeltaOptions {
  // The previous version's payloads, under the names the script gives them
  // (an absolute name: its last part).
  std::string old_folder;
  // Keep each payload whole beside its delta, for installations that do not
  // have the previous version.
  bool with_full = false;
  int level = 19;  // zstd's, for the delta's streams
  // The previous versions' ZIP archives were shipped with --redeflate-zips:
  // the installed ones are them re-deflated.
  bool redeflate_zips = false;
};

// The delta payload that rebuilds `new_file` from `old_file`, its streams
// compressed at `level`; `what` names the file in messages. `zones` (see
// differ.h) say where to look for each part of the new file.
std::vector<uint8_t> DeltaPayload(const std::vector<uint8_t>& old_file, const std::vector<uint8_t>& new_file,
                                  int level, const std::string& what, std::span<const Zone> zones = {});

// Appends one zstd frame of `bytes` at `level`, in a window the updater
// decodes beside others.
void AppendDeltaFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes, int level,
                      const std::string& what);

// Replaces (or, with `with_full`, joins) each stored payload with a previous
// version by its delta (type DELTA): a header alone when the file did not
// change; none when the delta would not be smaller than the file. Returns a
// note naming the payloads that had no previous version, or "".
std::string MakeDeltas(PackageDescription& desc, const DeltaOptions& options, const std::string& temp_dir,
                       MadePayloads& made);

}  // namespace ttu::pack
