// How an item's payload becomes its file: a stored payload is copied as it
// lies in the executable; a compressed one is decoded straight into the new
// file, and so is a grouped one, out of its group; a delta is applied to the installed version of the file (its base),
// read by offset. A decoded file's own checksum is checked before it
// replaces the old one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/resources.h"
#include "support/delta_payload.h"
#include "support/grouped_payload.h"
#include "support/run_error.h"

namespace ttu::deploy {

enum class PayloadKind { kStored, kCompressed, kGrouped, kDelta };

struct Payload {
  PayloadKind kind = PayloadKind::kStored;
  platform::Blob blob;  // the resource's bytes
};

// Item j's file whole ("CUSTOM", "ZSTD" or "ZPART" 101 + j), or nothing.
std::optional<Payload> FindFull(platform::Resources& res, uint32_t id);
// Its delta ("DELTA" 101 + j), or nothing.
std::optional<Payload> FindDelta(platform::Resources& res, uint32_t id);
// The payload whose checksum the package records: the file whole where the
// package carries it, else the delta.
std::optional<Payload> FindPayload(platform::Resources& res, uint32_t id);

// A grouped payload's part, and its group's bytes; either not one is a
// damaged package.
std::pair<gpayload::Part, platform::Blob> GroupOf(platform::Resources& res, uint32_t id, const Payload& part);
// The damage of item `id`'s group, whose bytes do not match the part's record of them.
RunError GroupDamaged(platform::Resources& res, uint32_t id, uint32_t group);

// A delta's header; one that is not a delta's is a damaged package.
delta::Header DeltaHeader(platform::Resources& res, uint32_t id, const Payload& delta);

// What keeps the file at `target` from being the base `h` was made against,
// in words ("it is missing", ...); "" when it is that base. Raises what the
// file system raises for a file it cannot read.
std::string BaseDifference(platform::FileSystem& files, const std::string& target, const delta::Header& h);

// Stages item j's file for `target` (see platform::FileSystem): the old file
// stays until it is committed. A delta is applied where `target` is its base
// (`base_checked`: it was found so just before, and is not read twice); where
// it is not, the file whole is written, or, without one, RunError 31039 names
// the file. An unchanged file is left as it is: nothing is staged. A missing
// payload is "resource not found"; one that does not give its file is a
// damaged package. `groups` goes on through a group from one item to the next.
std::unique_ptr<platform::StagedFile> StagePayload(platform::FileSystem& files, const std::string& target,
                                                  platform::Resources& res, int32_t j, gpayload::GroupReader& groups,
                                                  bool base_checked = false);

// "PATH (the update needs N bytes, XXH3-128 H; it is missing)".
std::string BaseNeeded(const std::string& target, const delta::Header& h, const std::string& difference);

}  // namespace ttu::deploy
