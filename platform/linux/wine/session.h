// The Wine prefix a run works on, the Wine that runs its programs, and the
// environment they run with: fixed once per run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/installation.h"
#include "platform/linux/wine/prefix_discovery.h"

namespace ttu::platform {

struct WineSession {
  std::string prefix;
  // What starts a Windows program (a manager's runner, CrossOver's wine
  // --bottle); empty: the wine on PATH.
  std::vector<std::string> wine;
  // Found by looking, not given by WINEPREFIX (nor the ~/.wine of old):
  // programs get the prefix's own environment, and only the prefix's own Wine.
  bool discovered = false;
  std::string manager, name;
};

// Picks one of several candidates (most recently used first); nothing when
// the person cancelled.
using PrefixChooser = std::function<std::optional<std::size_t>(const std::vector<PrefixCandidate>&)>;

// The maker's prefixes, most recently used first.
using PrefixFinder = std::function<std::vector<PrefixCandidate>(const DiscoveryPlaces&)>;

// $WINEPREFIX as it is; otherwise the one prefix of the maker's, or the one
// the person chooses; otherwise ~/.wine. Nothing when the choice was cancelled.
std::optional<WineSession> FindWineSession(const DiscoveryPlaces& places, const PrefixChooser& choose,
                                           const PrefixFinder& find = FindMakersPrefixes);

// `find` on a thread of its own, calling `wait` (the window's events
// handled) every few milliseconds until it is done: the window stays alive,
// and can be closed, while the disks are searched.
std::vector<PrefixCandidate> FindWhileWaiting(const PrefixFinder& find, const DiscoveryPlaces& places,
                                              const std::function<void()>& wait);

// The run's session, once it is settled (else the one $WINEPREFIX or ~/.wine gives).
const WineSession& CurrentWineSession();

// The run's prefix: the one its session settled on (else the given one).
std::string WinePrefix();

// Settles the run's session, for good once it is.
class WineInstallation final : public Installation {
 public:
  // `wait`: called while the search goes on (see FindWhileWaiting).
  explicit WineInstallation(PrefixChooser choose, std::function<void()> wait = {})
      : choose_(std::move(choose)), wait_(std::move(wait)) {}
  bool Settle() override;

 private:
  PrefixChooser choose_;
  std::function<void()> wait_;
};

// The environment a Windows program of the session starts with: this
// process's, and for a discovered prefix WINEPREFIX set and the variables
// that would tie it to another Wine removed.
std::vector<std::string> SessionEnvironment(const WineSession& session, char** environment);

}  // namespace ttu::platform
