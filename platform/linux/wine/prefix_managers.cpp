#include "platform/linux/wine/prefix_managers.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/posix/file_trust.h"
#include "platform/linux/wine/config_readers.h"

namespace ttu::platform {
namespace {

namespace fs = std::filesystem;
using Out = std::vector<PrefixCandidate>;

// A settings file that the person's own account wrote: one that another
// account could have written reads as unreadable.
std::optional<std::string> Settings(const DiscoveryPlaces& p, const std::string& path) {
  if (!IsTrusted(path, p.trust)) return std::nullopt;
  return ReadSettingsFile(path);
}

// A Wine the settings name, if it may be started: one that another account
// could have put or changed is as if none were named (the prefix is then
// run only by the system's Wine, and only if that one keeps it). One that is
// not there stays named: starting it fails, and nothing else is started.
std::vector<std::string> Wine(const DiscoveryPlaces& p, const std::string& binary) {
  if (binary.empty() || binary[0] != '/') return {};
  struct stat st {};
  if (IsTrusted(binary, p.trust) || ::lstat(binary.c_str(), &st) != 0) return {binary};
  return {};
}

// The folders in `dir`, sorted; none when it cannot be read.
std::vector<std::string> Subfolders(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec)) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The files in `dir` whose names end with `suffix`, sorted.
std::vector<std::string> FilesEndingWith(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      found.push_back(it->path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string BaseName(const std::string& path) { return fs::path(path).filename().string(); }
std::string Parent(const std::string& path) { return fs::path(path).parent_path().string(); }

// "~" and "~/…" name the home folder, as the managers write them.
std::string Expand(const std::string& path, const DiscoveryPlaces& p) {
  if (path == "~") return p.home;
  if (path.rfind("~/", 0) == 0) return p.home + path.substr(1);
  return path;
}

// A runner folder's wine: bin/wine, or Proton's files/bin/wine.
std::string RunnerWine(const std::string& runner) {
  const std::string proton = runner + "/files/bin/wine";
  return Exists(proton) && !Exists(runner + "/bin/wine") ? proton : runner + "/bin/wine";
}

void Bottles(const DiscoveryPlaces& p, Out& out) {
  for (const std::string& data : {p.xdg_data_home + "/bottles",
                                 p.home + "/.var/app/com.usebottles.bottles/data/bottles"}) {
    std::vector<std::string> dirs{data + "/bottles"};
    if (const auto t = Settings(p, data + "/data.yml")) {
      if (const auto custom = YamlSettings(*t).Scalar({"custom_bottles_path"}); custom && !custom->empty()) {
        dirs.push_back(Expand(*custom, p));
      }
    }
    for (const auto& dir : dirs) {
      for (const auto& entry : Subfolders(dir)) {
        std::string where = entry;
        if (const auto t = Settings(p, entry + "/placeholder.yml")) {
          if (const auto moved = YamlSettings(*t).Scalar({"Path"}); moved && !moved->empty()) where = Expand(*moved, p);
        }
        PrefixCandidate c{"Bottles", BaseName(where), where, {}, 0};
        if (const auto t = Settings(p, where + "/bottle.yml")) {
          const YamlSettings bottle(*t);
          c.name = bottle.Scalar({"Name"}).value_or(c.name);
          const std::string runner = bottle.Scalar({"Runner"}).value_or("");
          if (IsPlainName(runner) && runner.rfind("sys-", 0) != 0) c.wine = Wine(p, RunnerWine(data + "/runners/" + runner));
        }
        out.push_back(std::move(c));
      }
    }
  }
}

// A game's name from its settings file's: "slug-1700000000.yml" is "slug".
std::string GameSlug(const std::string& file) {
  std::string name = fs::path(file).stem().string();
  const std::size_t dash = name.rfind('-');
  if (dash != std::string::npos && dash + 1 < name.size() &&
      name.find_first_not_of("0123456789", dash + 1) == std::string::npos) {
    name.resize(dash);
  }
  return name;
}

void Lutris(const DiscoveryPlaces& p, Out& out) {
  const std::string flatpak = p.home + "/.var/app/net.lutris.Lutris";
  const struct {
    std::string games, runners;
  } homes[] = {{p.xdg_config_home + "/lutris/games", p.xdg_data_home + "/lutris/runners/wine"},
               {p.xdg_data_home + "/lutris/games", p.xdg_data_home + "/lutris/runners/wine"},
               {flatpak + "/config/lutris/games", flatpak + "/data/lutris/runners/wine"},
               {flatpak + "/data/lutris/games", flatpak + "/data/lutris/runners/wine"}};
  for (const auto& h : homes) {
    for (const auto& file : FilesEndingWith(h.games, ".yml")) {
      const auto t = Settings(p, file);
      if (!t) continue;
      const YamlSettings game(*t);
      const auto prefix = game.Scalar({"game", "prefix"});
      if (!prefix || prefix->empty()) continue;
      PrefixCandidate c{"Lutris", GameSlug(file), Expand(*prefix, p), {}, 0};
      const std::string custom = game.Scalar({"wine", "custom_wine_path"}).value_or("");
      const std::string version = game.Scalar({"wine", "version"}).value_or("");
      if (!custom.empty()) {
        c.wine = Wine(p, Expand(custom, p));
      } else if (IsPlainName(version) && version != "system") {
        c.wine = Wine(p, h.runners + "/" + version + "/bin/wine");
      }
      out.push_back(std::move(c));
    }
  }
}

void PlayOnLinux(const DiscoveryPlaces& p, Out& out) {
  const std::string pol = p.home + "/.PlayOnLinux";
  for (const auto& prefix : Subfolders(pol + "/wineprefix")) {
    PrefixCandidate c{"PlayOnLinux", BaseName(prefix), prefix, {}, 0};
    if (const auto t = Settings(p, prefix + "/playonlinux.cfg")) {
      const std::string version = LineSetting(*t, "VERSION").value_or("");
      const std::string arch = LineSetting(*t, "ARCH").value_or("x86");
      if (IsPlainName(version) && IsPlainName(arch) && version != "System") {
        c.wine = Wine(p, pol + "/wine/linux-" + arch + "/" + version + "/bin/wine");
      }
    }
    out.push_back(std::move(c));
  }
}

void Phoenicis(const DiscoveryPlaces& p, Out& out) {
  for (const std::string& root : {p.home + "/.Phoenicis", p.home + "/.var/app/org.phoenicis.playonlinux/.Phoenicis"}) {
    for (const auto& prefix : Subfolders(root + "/containers/wineprefix")) {
      PrefixCandidate c{"Phoenicis", BaseName(prefix), prefix, {}, 0};
      if (const auto t = Settings(p, prefix + "/phoenicis.cfg")) {
        const JsonSettings json(*t);
        auto setting = [&](const char* key) { return json.String({key}).value_or(LineSetting(*t, key).value_or("")); };
        const std::string version = setting("wineVersion");
        std::string distribution = setting("wineDistribution");
        std::string arch = setting("wineArchitecture");
        if (distribution.empty()) distribution = "upstream";
        if (arch.empty()) arch = "x86";
        if (IsPlainName(version) && IsPlainName(distribution + "-linux-" + arch)) {
          c.wine = Wine(p, root + "/engines/wine/" + distribution + "-linux-" + arch + "/" + version + "/bin/wine");
        }
      }
      out.push_back(std::move(c));
    }
  }
}

void CrossOver(const DiscoveryPlaces& p, Out& out) {
  std::vector<std::string> dirs;
  for (std::size_t at = 0; at <= p.cx_bottle_path.size();) {
    const std::size_t colon = std::min(p.cx_bottle_path.find(':', at), p.cx_bottle_path.size());
    if (colon > at) dirs.push_back(p.cx_bottle_path.substr(at, colon - at));
    at = colon + 1;
  }
  if (dirs.empty()) dirs.push_back(p.home + "/.cxoffice");
  for (const auto& dir : dirs) {
    for (const auto& bottle : Subfolders(dir)) {
      std::vector<std::string> wine = Wine(p, "/opt/cxoffice/bin/wine");
      if (!wine.empty()) wine.insert(wine.end(), {"--bottle", BaseName(bottle)});
      out.push_back({"CrossOver", BaseName(bottle), bottle, std::move(wine), 0});
    }
  }
}

// The Proton a game's prefix was last run with: the second line of its
// config_info names a folder inside it ("…/Proton 8.0/files/share/fonts/").
std::vector<std::string> ProtonWine(const DiscoveryPlaces& p, const std::string& compat) {
  const auto t = Settings(p, compat + "/config_info");
  if (!t) return {};
  const std::size_t first = t->find('\n');
  if (first == std::string::npos) return {};
  const std::string line = t->substr(first + 1, t->find('\n', first + 1) - first - 1);
  for (const char* inside : {"/files/", "/dist/"}) {
    const std::size_t at = line.find(inside);
    if (at != std::string::npos) return Wine(p, line.substr(0, at) + inside + "bin/wine");
  }
  return {};
}

// One Steam library's games' prefixes.
void SteamLibrary(const DiscoveryPlaces& p, const std::string& lib, Out& out) {
  for (const auto& compat : Subfolders(lib + "/steamapps/compatdata")) {
    const std::string id = BaseName(compat);
    std::string name = id;
    if (const auto t = Settings(p, lib + "/steamapps/appmanifest_" + id + ".acf")) {
      const auto names = KeyValuesStrings(*t, "name");
      if (!names.empty()) name = names.front();
    }
    out.push_back({"Steam", name, compat + "/pfx", ProtonWine(p, compat), 0});
  }
}

// Steam's libraries: each on a search of its own, as one may lie on a disk
// that answers slowly or not at all.
void Steam(const DiscoveryPlaces& p, PrefixSearch& search) {
  for (const std::string& root : {p.home + "/.steam/steam", p.xdg_data_home + "/Steam", p.home + "/.steam/root",
                                 p.home + "/.var/app/com.valvesoftware.Steam/data/Steam"}) {
    search.Start([p, root](PrefixSearch& libraries) {
      std::vector<std::string> found{root};
      for (const char* vdf : {"/steamapps/libraryfolders.vdf", "/config/libraryfolders.vdf"}) {
        if (const auto t = Settings(p, root + vdf)) {
          for (const auto& path : KeyValuesStrings(*t, "path")) found.push_back(path);
        }
      }
      for (const auto& lib : found) {
        libraries.Start([p, lib](PrefixSearch&) {
          Out out;
          SteamLibrary(p, lib, out);
          return out;
        });
      }
      return Out{};
    });
  }
}

void Heroic(const DiscoveryPlaces& p, Out& out) {
  for (const std::string& config : {p.xdg_config_home + "/heroic",
                                   p.home + "/.var/app/com.heroicgameslauncher.hgl/config/heroic"}) {
    for (const auto& file : FilesEndingWith(config + "/GamesConfig", ".json")) {
      const auto t = Settings(p, file);
      if (!t) continue;
      const JsonSettings game(*t);
      const auto prefix = game.String({"*", "winePrefix"});
      if (!prefix || prefix->empty()) continue;
      const std::string type = game.String({"*", "wineVersion", "type"}).value_or("wine");
      const std::string bin = game.String({"*", "wineVersion", "bin"}).value_or("");
      PrefixCandidate c{"Heroic", fs::path(file).stem().string(), Expand(*prefix, p), {}, 0};
      if (type == "proton") {
        c.path += "/pfx";
        if (!bin.empty()) c.wine = Wine(p, Parent(bin) + "/files/bin/wine");
      } else if (!bin.empty()) {
        c.wine = Wine(p, bin);
      }
      out.push_back(std::move(c));
    }
    std::string defaults = p.home + "/Games/Heroic/Prefixes/default";
    if (const auto t = Settings(p, config + "/config.json")) {
      const auto dir = JsonSettings(*t).String({"defaultSettings", "defaultWinePrefixDir"});
      if (dir && !dir->empty()) defaults = Expand(*dir, p);
    }
    for (const auto& prefix : Subfolders(defaults)) {
      const bool proton = Exists(prefix + "/pfx/system.reg");
      out.push_back({"Heroic", BaseName(prefix), proton ? prefix + "/pfx" : prefix, {}, 0});
    }
  }
}

using Manager = void (*)(const DiscoveryPlaces&, Out&);

void StartEach(const DiscoveryPlaces& places, PrefixSearch& search, std::initializer_list<Manager> managers) {
  for (const Manager manager : managers) {
    search.Start([places, manager](PrefixSearch&) {
      Out out;
      manager(places, out);
      return out;
    });
  }
}

}  // namespace

void StartManagedSearches(const DiscoveryPlaces& places, PrefixSearch& search) {
  StartEach(places, search, {Bottles, Lutris});
  Steam(places, search);
  StartEach(places, search, {Heroic, PlayOnLinux, Phoenicis, CrossOver});
}

std::vector<PrefixCandidate> PlainPrefixes(const DiscoveryPlaces& places) {
  Out out;
  std::error_code ec;
  std::vector<std::string> homes;
  for (fs::directory_iterator it(places.home, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(".wine", 0) == 0) homes.push_back(it->path().string());
  }
  std::sort(homes.begin(), homes.end());
  for (const auto& h : homes) out.push_back({"Wine", BaseName(h), h, {}, 0});
  const std::string tricks =
      places.wine_prefixes.empty() ? places.xdg_data_home + "/wineprefixes" : places.wine_prefixes;
  for (const auto& prefix : Subfolders(tricks)) out.push_back({"Wine", BaseName(prefix), prefix, {}, 0});
  return out;
}

}  // namespace ttu::platform
