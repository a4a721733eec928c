// The texts of the list a person picks the Wine prefix from, the same on both
// front ends of the Linux window.
#pragma once

#include <array>
#include <string>

#include "platform/linux/wine/prefix_discovery.h"

namespace ttu::platform {

inline constexpr const char* kPrefixListTitle = "Prefisso Wine";
inline constexpr const char* kPrefixListPrompt =
    "I programmi Kelmo sono installati in più prefissi Wine. Scegliere quello da aggiornare:";
inline constexpr std::array<const char*, 4> kPrefixListColumns = {"Gestore", "Nome", "Percorso", "Ultimo uso"};

// One row: maker, name, folder, and when it was last used (local time).
std::array<std::string, 4> PrefixListRow(const PrefixCandidate& prefix);

}  // namespace ttu::platform
