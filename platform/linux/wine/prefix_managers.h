// The places each prefix manager keeps its prefixes, and the Wine it runs
// each one with, read from its own settings.
#pragma once

#include <functional>
#include <vector>

#include "platform/linux/wine/prefix_discovery.h"

namespace ttu::platform {

// A search of some of the places; it may start further ones.
class PrefixSearch {
 public:
  using Search = std::function<std::vector<PrefixCandidate>(PrefixSearch&)>;
  virtual ~PrefixSearch() = default;
  virtual void Start(Search search) = 0;
};

// Starts the searches of what the managers' settings name, in the order
// they are looked at; what they give is not yet checked to be prefixes, and
// `last_used` is left unset.
void StartManagedSearches(const DiscoveryPlaces& places, PrefixSearch& search);
// The plain prefixes: ~/.wine*, and winetricks' folder of prefixes.
std::vector<PrefixCandidate> PlainPrefixes(const DiscoveryPlaces& places);

}  // namespace ttu::platform
