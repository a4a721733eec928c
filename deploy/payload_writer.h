// How an item's payload becomes its file: a stored payload is copied as it
// lies in the executable; a compressed one is decoded straight into the new
// file, whose own checksum is checked before it replaces the old one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/resources.h"

namespace ttu::deploy {

enum class PayloadKind { kStored, kCompressed };

struct Payload {
  PayloadKind kind = PayloadKind::kStored;
  platform::Blob blob;  // the resource's bytes
};

// Item j's payload ("CUSTOM" or "ZSTD" 101 + j), or nothing.
std::optional<Payload> FindPayload(platform::Resources& res, uint32_t id);

// Writes item j's payload to `target`, replacing what is there soundly. A
// missing payload is "resource not found"; a compressed one that does not
// give its file is a damaged package (and the old file stays).
void WritePayload(platform::FileSystem& files, const std::string& target, platform::Resources& res, int32_t j);

}  // namespace ttu::deploy
