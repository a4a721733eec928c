// ZIP deltas, made where both versions of a payload are ZIP archives (see
// support/zip_delta.h): each changed deflated member of the new archive whose
// bytes this program's zlib re-makes is carried inflated, and diffed against
// the inflated member of the same name in the old one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/zip_delta.h"

namespace ttu::pack {

// What the packer found in a pair of archives (the plan's summary and lists).
struct ZipFindings {
  bool archives = false;  // both versions are ZIP archives that read whole
  zipdelta::Plan plan;
};

// The ZIP delta rebuilding `new_file` from `old_file`, its streams compressed
// at `level`: nothing when they are not both ZIP archives or no changed member
// is re-made (a plain delta serves as well), and the files are left as given.
// When it makes one, it empties both files once their expanded versions are
// made, so that an archive's two forms are not held at once. `found` says what
// was found either way; `what` names the file in messages.
std::optional<std::vector<uint8_t>> ZipDeltaPayload(std::vector<uint8_t>& old_file, std::vector<uint8_t>& new_file,
                                                    int level, const std::string& what, ZipFindings& found);

// "3 of 4 changed deflated members re-made (1.2 MB of 1.3 MB)": the share of
// the archive's new bytes that travel as a difference.
std::string DescribeFindings(const zipdelta::Plan& plan);

}  // namespace ttu::pack
