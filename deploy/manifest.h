// The package manifest: the item count, the item descriptors and the payloads,
// found in the executable's resources by identifier.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "deploy/item_tables.h"
#include "platform/resources.h"

namespace ttu::deploy {

inline constexpr uint32_t kCountStringId = 100;
inline constexpr uint32_t kFirstItemId = 101;
inline constexpr const char* kPayloadType = "CUSTOM";

// The leading number of a text, read as a floating-point value: blanks, then
// sign, digits, "." and digits, exponent; reading stops at the first character
// that cannot continue it. A text without a leading number reads as 0.
double LeadingNumber(std::string_view text);

// Rounds to the nearest signed 32-bit integer, ties to even; out of range is
// an overflow failure.
int32_t RoundToInt32(double value);

// The last item index that an item-count text gives (count - 1), or a failure
// as sizing reports it. Every reader of a package (a press, its seal, --list)
// counts the items with this one rule, so they all cover the same items.
int32_t LastIndexOf(std::string_view count_text);

// Identifiers end at 65535: no item past this index can exist.
inline constexpr int32_t kLastPossibleIndex = 0xFFFF - static_cast<int32_t>(kFirstItemId);

// Reads the item count (string 100) and re-creates every table empty with
// LastIndex = count - 1. On failure the tables are left as they were.
void SizeTables(ItemTables& tables, platform::Resources& res);

// Reads descriptor 101 + j into the item's entries: file name, template (every
// "/" turned into "\"), register flag and registration kind. A missing string
// or field is a failure; fields stored before it keep their new values.
void ReadDescriptor(ItemTables& tables, int32_t j, platform::Resources& res);

// The string `id`, or the failure "resource not found".
std::string LoadResString(platform::Resources& res, uint32_t id);
// Field 0 of descriptor `id` (the file's name), for messages; "" when there is none.
std::string DescribedFileName(platform::Resources& res, uint32_t id);

}  // namespace ttu::deploy
