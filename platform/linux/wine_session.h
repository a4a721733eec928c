// The Wine prefix a run works on, the Wine that runs its programs, and the
// environment they run with: fixed once per run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/installation.h"
#include "platform/linux/prefix_discovery.h"

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

// $WINEPREFIX as it is; otherwise the one prefix of the maker's, or the one
// the person chooses; otherwise ~/.wine. Nothing when the choice was cancelled.
std::optional<WineSession> FindWineSession(const DiscoveryPlaces& places, const PrefixChooser& choose);

// The run's session, once it is settled (else the one $WINEPREFIX or ~/.wine gives).
const WineSession& CurrentWineSession();
// Settles the run's session, for good once it is.
class WineInstallation final : public Installation {
 public:
  explicit WineInstallation(PrefixChooser choose) : choose_(std::move(choose)) {}
  bool Settle() override;

 private:
  PrefixChooser choose_;
};

// The environment a Windows program of the session starts with: this
// process's, and for a discovered prefix WINEPREFIX set and the variables
// that would tie it to another Wine removed.
std::vector<std::string> SessionEnvironment(const WineSession& session, char** environment);

}  // namespace ttu::platform
