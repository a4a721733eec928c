#include "platform/linux/wine/session.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <system_error>

#include "platform/linux/wine/prefix.h"

namespace ttu::platform {
namespace {

std::optional<WineSession>& Settled() {
  static std::optional<WineSession> session;
  return session;
}

WineSession Of(const PrefixCandidate& c) { return {c.path, c.wine, true, c.manager, c.name}; }

}  // namespace

std::optional<WineSession> FindWineSession(const DiscoveryPlaces& places, const PrefixChooser& choose,
                                           const PrefixFinder& find) {
  if (const char* given = std::getenv("WINEPREFIX"); given && *given) return WineSession{given, {}, false, "", ""};
  const auto found = find(places);
  if (found.empty()) return WineSession{places.home + "/.wine", {}, false, "", ""};
  if (found.size() == 1) return Of(found.front());
  const auto chosen = choose ? choose(found) : std::nullopt;
  if (!chosen || *chosen >= found.size()) return std::nullopt;
  return Of(found[*chosen]);
}

const WineSession& CurrentWineSession() {
  if (Settled()) return *Settled();
  static WineSession unsettled;  // follows WINEPREFIX until the run settles
  unsettled = {GivenWinePrefix(), {}, false, "", ""};
  return unsettled;
}

std::string WinePrefix() { return CurrentWineSession().prefix; }

std::vector<PrefixCandidate> FindWhileWaiting(const PrefixFinder& find, const DiscoveryPlaces& places,
                                              const std::function<void()>& wait) {
  std::future<std::vector<PrefixCandidate>> found;
  try {
    found = std::async(std::launch::async, [find, places] { return find(places); });
  } catch (const std::system_error&) {
    return find(places);  // no thread to be had: searched here
  }
  while (found.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    if (wait) wait();
  }
  return found.get();
}

bool WineInstallation::Settle() {
  if (Settled()) return true;
  Settled() = FindWineSession(DiscoveryPlaces::FromEnvironment(), choose_, [this](const DiscoveryPlaces& places) {
    return FindWhileWaiting(FindMakersPrefixes, places, wait_);
  });
  return Settled().has_value();
}

std::vector<std::string> SessionEnvironment(const WineSession& session, char** environment) {
  static const char* const kTied[] = {"WINEPREFIX=", "WINEARCH=", "WINELOADER=", "WINESERVER=", "WINEDLLPATH="};
  std::vector<std::string> env;
  for (char** e = environment; e && *e; ++e) {
    bool tied = false;
    for (const char* name : kTied) tied = tied || std::strncmp(*e, name, std::strlen(name)) == 0;
    if (!session.discovered || !tied) env.emplace_back(*e);
  }
  if (session.discovered) env.push_back("WINEPREFIX=" + session.prefix);
  return env;
}

}  // namespace ttu::platform
