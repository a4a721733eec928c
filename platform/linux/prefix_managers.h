// The places each prefix manager keeps its prefixes, and the Wine it runs
// each one with, read from its own settings.
#pragma once

#include <vector>

#include "platform/linux/prefix_discovery.h"

namespace ttu::platform {

// What the managers' settings name, in the order they are looked at; not
// yet checked to be prefixes. `last_used` is left unset.
std::vector<PrefixCandidate> ManagedPrefixes(const DiscoveryPlaces& places);
// The plain prefixes: ~/.wine*, and winetricks' folder of prefixes.
std::vector<PrefixCandidate> PlainPrefixes(const DiscoveryPlaces& places);

}  // namespace ttu::platform
