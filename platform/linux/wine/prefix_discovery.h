// Finding the Wine prefixes of a home folder that hold the maker's products:
// those that prefix managers (Bottles, Lutris, Steam, Heroic, PlayOnLinux,
// Phoenicis, CrossOver) keep, and the plain ones of Wine and winetricks.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/posix/file_trust.h"

namespace ttu::platform {

// Where to look: the home folder and the variables that move the managers' folders.
struct DiscoveryPlaces {
  std::string home;
  std::string xdg_data_home;    // default: home/.local/share
  std::string xdg_config_home;  // default: home/.config
  std::string wine_prefixes;    // $WINE_PREFIXES (winetricks' folder of prefixes)
  std::string cx_bottle_path;   // $CX_BOTTLE_PATH (CrossOver's bottles), ":"-separated
  // Whose files may name a prefix or a Wine.
  TrustPolicy trust = TrustPolicy::OfProcess();
  // How long the search waits for the places; one that has not answered by
  // then (a network disk that stopped) is passed over.
  std::chrono::milliseconds patience{4000};
  // From the process's environment.
  static DiscoveryPlaces FromEnvironment();
};

struct PrefixCandidate {
  std::string manager;            // "Bottles", "Steam", "Wine", …
  std::string name;               // the manager's name for it (a bottle, a game)
  std::string path;               // the prefix folder
  std::vector<std::string> wine;  // what starts a Windows program in it; empty: the system's wine
  int64_t last_used = 0;          // when Wine last wrote its user registry, in seconds
};

// Every prefix the managers' settings and the plain folders name, once each
// (the same folder reached two ways counts once; what a manager's settings
// say wins over a plain folder), that is a prefix owned by this user and
// trusted (file_trust.h) with every folder and link on the way to it.
// Unreadable, malformed or untrusted settings and folders, and places that
// do not answer within `patience`, are passed over silently.
std::vector<PrefixCandidate> FindPrefixes(const DiscoveryPlaces& places);

// Whether the prefix's machine registry holds the maker's installation key,
// in the 64-bit or the 32-bit view. A registry far larger than any prefix's
// is passed over unread.
bool HoldsMakersKey(const std::string& prefix);

// The prefixes that hold the maker's key, most recently used first.
std::vector<PrefixCandidate> FindMakersPrefixes(const DiscoveryPlaces& places);

}  // namespace ttu::platform
