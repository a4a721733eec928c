// --redeflate-zips: a ZIP archive whose members another deflater made
// (Info-ZIP, 7-Zip, Windows' compressed folders) written again with each such
// member deflated by this program's zlib, so that every later version's delta
// can see inside it. The members, their names, order, times, attributes and
// comments stay as they are; only the deflated bytes, their sizes and the
// offsets that follow from them change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/pack/made_payloads.h"
#include "tools/pack/package_description.h"

namespace ttu::pack {

struct Redeflated {
  std::vector<uint8_t> archive;
  uint64_t members = 0;  // deflated again
};

// `file` written again with each deflated member that no settings of this
// zlib re-make deflated by it (at the level its flags claim, zlib's defaults
// otherwise); nothing when `file` is no ZIP archive that reads whole, or
// every deflated member is already re-made. Each member of the result is
// checked to inflate to the same bytes before it is returned; an archive that
// cannot be written so (an encrypted member, offsets that would need ZIP64
// fields it lacks) gives nothing, with the reason in `why`.
std::optional<Redeflated> RedeflateArchive(const std::vector<uint8_t>& file, std::string* why = nullptr);

// Replaces each stored payload that RedeflateArchive writes again by its new
// version (a temporary file in `temp_dir`). Returns a note naming them, or "".
std::string RedeflateZips(PackageDescription& desc, const std::string& temp_dir, MadePayloads& made);

}  // namespace ttu::pack
