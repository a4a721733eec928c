// Finding the maker's Wine prefix in fake home folders laid out as each
// prefix manager lays them out, the run's prefix chosen from them, and the
// Wine that may register in it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "platform/linux/wine/config_readers.h"
#include "platform/linux/wine/discovery_tasks.h"
#include "platform/linux/wine/guard.h"
#include "platform/linux/wine/prefix_discovery.h"
#include "platform/linux/wine/session.h"
#include "platform/process.h"
#include "support/run_error.h"
#include "tests/fakes.h"
#include "tests/test_util.h"

namespace ttu::platform {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string kHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
const std::string kKey = "[Software\\\\Kelmo\\\\Installazione] 1700000000\n\"strPath\"=\"C:\\\\Programmi\\\\Kelmo\"\n";

void Put(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  WriteFile(path, text);
}

void SetTime(const std::string& path, int64_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A prefix as Wine leaves it; its machine registry holds `system_keys`.
void MakePrefix(const std::string& at, const std::string& system_keys = kKey, int64_t used = 1700000000,
                const std::string& user_keys = "") {
  fs::create_directories(at + "/drive_c/windows/system32");
  fs::create_directories(at + "/dosdevices");
  std::error_code ec;
  fs::create_symlink("../drive_c", at + "/dosdevices/c:", ec);
  Put(at + "/system.reg", kHeader + system_keys);
  Put(at + "/user.reg", kHeader + user_keys);
  SetTime(at + "/user.reg", used);
}

DiscoveryPlaces PlacesOf(const std::string& home) {
  DiscoveryPlaces p;
  p.home = home;
  p.xdg_data_home = home + "/.local/share";
  p.xdg_config_home = home + "/.config";
  return p;
}

struct Expected {
  std::string manager, name, path;
  std::vector<std::string> wine;
};

// Each manager's own layout, native and Flatpak: the prefix its settings
// name, under the manager's name for it, with the Wine it runs it with.
TEST(PrefixDiscovery, EachManagersPrefixIsFoundWithItsWine) {
  TempDir other_mount;  // a second Steam library, outside the home folder
  const std::string lib2 = other_mount.path();
  const struct {
    const char* what;
    std::function<void(const std::string& home)> make;
    std::function<Expected(const std::string& home)> expect;
  } rows[] = {
      {"Bottles, its runner",
       [](const std::string& h) {
         MakePrefix(h + "/.local/share/bottles/bottles/Office");
         Put(h + "/.local/share/bottles/bottles/Office/bottle.yml", "Name: Ufficio\nRunner: soda-7.0-9\nArch: win64\n");
       },
       [](const std::string& h) {
         return Expected{"Bottles", "Ufficio", h + "/.local/share/bottles/bottles/Office",
                         {h + "/.local/share/bottles/runners/soda-7.0-9/bin/wine"}};
       }},
      {"Bottles Flatpak, the system's Wine",
       [](const std::string& h) {
         const std::string b = h + "/.var/app/com.usebottles.bottles/data/bottles/bottles/Giochi";
         MakePrefix(b);
         Put(b + "/bottle.yml", "Name: Giochi\nRunner: sys-wine-8.0\n");
       },
       [](const std::string& h) {
         return Expected{"Bottles", "Giochi", h + "/.var/app/com.usebottles.bottles/data/bottles/bottles/Giochi", {}};
       }},
      {"Bottles, a bottle moved away (placeholder), a Proton-type runner",
       [](const std::string& h) {
         Put(h + "/.local/share/bottles/bottles/Spostata/placeholder.yml", "Path: ~/Altrove/Spostata\n");
         MakePrefix(h + "/Altrove/Spostata");
         Put(h + "/Altrove/Spostata/bottle.yml", "Name: Spostata\nRunner: GE-Proton8-25\nCustom_Path: true\n");
         Put(h + "/.local/share/bottles/runners/GE-Proton8-25/files/bin/wine", "");
       },
       [](const std::string& h) {
         return Expected{"Bottles", "Spostata", h + "/Altrove/Spostata",
                         {h + "/.local/share/bottles/runners/GE-Proton8-25/files/bin/wine"}};
       }},
      {"Bottles, a custom folder of bottles",
       [](const std::string& h) {
         Put(h + "/.local/share/bottles/data.yml", "custom_bottles_path: " + h + "/Bottiglie\nnotifications: true\n");
         MakePrefix(h + "/Bottiglie/Kelmo");
       },
       [](const std::string& h) { return Expected{"Bottles", "Kelmo", h + "/Bottiglie/Kelmo", {}}; }},
      {"Lutris, a prefix under ~, its runner",
       [](const std::string& h) {
         Put(h + "/.config/lutris/games/tessiro-1700000000.yml",
             "game:\n  exe: drive_c/x.exe\n  prefix: ~/Games/tessiro\nwine:\n  version: lutris-7.2-2-x86_64\n");
         MakePrefix(h + "/Games/tessiro");
       },
       [](const std::string& h) {
         return Expected{"Lutris", "tessiro", h + "/Games/tessiro",
                         {h + "/.local/share/lutris/runners/wine/lutris-7.2-2-x86_64/bin/wine"}};
       }},
      {"Lutris Flatpak, a custom Wine",
       [](const std::string& h) {
         Put(h + "/.var/app/net.lutris.Lutris/data/lutris/games/brenvia.yml",
             "game:\n  prefix: " + h + "/P/brenvia\nwine:\n  custom_wine_path: /opt/wine-8/bin/wine\n");
         MakePrefix(h + "/P/brenvia");
       },
       [](const std::string& h) { return Expected{"Lutris", "brenvia", h + "/P/brenvia", {"/opt/wine-8/bin/wine"}}; }},
      {"PlayOnLinux",
       [](const std::string& h) {
         MakePrefix(h + "/.PlayOnLinux/wineprefix/Tessiro");
         Put(h + "/.PlayOnLinux/wineprefix/Tessiro/playonlinux.cfg", "ARCH=amd64\nVERSION=7.0\n");
       },
       [](const std::string& h) {
         return Expected{"PlayOnLinux", "Tessiro", h + "/.PlayOnLinux/wineprefix/Tessiro",
                         {h + "/.PlayOnLinux/wine/linux-amd64/7.0/bin/wine"}};
       }},
      {"Phoenicis",
       [](const std::string& h) {
         MakePrefix(h + "/.Phoenicis/containers/wineprefix/Tessiro");
         Put(h + "/.Phoenicis/containers/wineprefix/Tessiro/phoenicis.cfg",
             R"({"wineVersion": "4.0", "wineDistribution": "upstream", "wineArchitecture": "x86"})");
       },
       [](const std::string& h) {
         return Expected{"Phoenicis", "Tessiro", h + "/.Phoenicis/containers/wineprefix/Tessiro",
                         {h + "/.Phoenicis/engines/wine/upstream-linux-x86/4.0/bin/wine"}};
       }},
      {"CrossOver",
       [](const std::string& h) { MakePrefix(h + "/.cxoffice/Kelmo"); },
       [](const std::string& h) {
         return Expected{"CrossOver", "Kelmo", h + "/.cxoffice/Kelmo", {"/opt/cxoffice/bin/wine", "--bottle", "Kelmo"}};
       }},
      {"Steam, a library on another mount point, its Proton",
       [&](const std::string& h) {
         Put(h + "/.local/share/Steam/steamapps/libraryfolders.vdf",
             "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + h +
                 "/.local/share/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + lib2 +
                 "\"\n\t\t\"apps\" { \"4242\" \"1\" }\n\t}\n}\n");
         MakePrefix(lib2 + "/steamapps/compatdata/4242/pfx");
         Put(lib2 + "/steamapps/compatdata/4242/config_info",
             "8.0-105\n" + lib2 + "/steamapps/common/Proton 8.0/files/share/fonts/\n");
         Put(lib2 + "/steamapps/appmanifest_4242.acf", "\"AppState\"\n{\n\t\"appid\"\t\"4242\"\n\t\"name\"\t\"Tessiro Pro\"\n}\n");
       },
       [&](const std::string&) {
         return Expected{"Steam", "Tessiro Pro", lib2 + "/steamapps/compatdata/4242/pfx",
                         {lib2 + "/steamapps/common/Proton 8.0/files/bin/wine"}};
       }},
      {"Heroic, a Proton game (pfx)",
       [](const std::string& h) {
         Put(h + "/.config/heroic/GamesConfig/ab12.json",
             R"({"ab12": {"winePrefix": "~/Games/Heroic/Prefixes/default/Tessiro", "wineVersion": )"
             R"({"bin": "/opt/Proton-GE/proton", "name": "Proton - GE", "type": "proton"}}, "version": "v0"})");
         MakePrefix(h + "/Games/Heroic/Prefixes/default/Tessiro/pfx");
       },
       [](const std::string& h) {
         return Expected{"Heroic", "ab12", h + "/Games/Heroic/Prefixes/default/Tessiro/pfx",
                         {"/opt/Proton-GE/files/bin/wine"}};
       }},
      {"Heroic Flatpak, a prefix in the default folder only",
       [](const std::string& h) { MakePrefix(h + "/Games/Heroic/Prefixes/default/Brenvia"); },
       [](const std::string& h) {
         return Expected{"Heroic", "Brenvia", h + "/Games/Heroic/Prefixes/default/Brenvia", {}};
       }},
      {"plain Wine, a second prefix of ~",
       [](const std::string& h) { MakePrefix(h + "/.wine-kelmo"); },
       [](const std::string& h) { return Expected{"Wine", ".wine-kelmo", h + "/.wine-kelmo", {}}; }},
      {"winetricks",
       [](const std::string& h) { MakePrefix(h + "/.local/share/wineprefixes/kelmo"); },
       [](const std::string& h) { return Expected{"Wine", "kelmo", h + "/.local/share/wineprefixes/kelmo", {}}; }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir home;
    r.make(home.path());
    const auto found = FindMakersPrefixes(PlacesOf(home.path()));
    const Expected e = r.expect(home.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].manager, e.manager);
    EXPECT_EQ(found[0].name, e.name);
    EXPECT_EQ(found[0].path, e.path);
    EXPECT_EQ(found[0].wine, e.wine);
    fs::remove_all(lib2 + "/steamapps");
  }
}

// The maker's key in the machine registry, in either view and any letter
// case, makes a prefix the maker's; nothing else does.
TEST(PrefixDiscovery, OnlyTheMakersInstallationKeyCounts) {
  const struct {
    const char* what;
    std::string system, user;
    bool kept;
  } rows[] = {
      {"the 64-bit view", kKey, "", true},
      {"only the 32-bit view", "[Software\\\\Wow6432Node\\\\Kelmo\\\\Installazione] 1\n", "", true},
      {"another letter case", "[software\\\\KELMO\\\\installazione] 1\n", "", true},
      {"only the user's registry", "", kKey, false},
      {"a longer key name", "[Software\\\\Kelmo\\\\Installazione2] 1\n", "", false},
      {"the maker's key without its last level", "[Software\\\\Kelmo] 1\n", "", false},
      {"the text in a value only", "[Software\\\\Other] 1\n\"x\"=\"\\\\Kelmo\\\\Installazione]\"\n", "", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir home;
    MakePrefix(home / ".wine", r.system, 1700000000, r.user);
    EXPECT_EQ(FindMakersPrefixes(PlacesOf(home.path())).size(), r.kept ? 1u : 0u);
  }
  TempDir home;  // not a prefix: the registry's first line is not Wine's
  MakePrefix(home / ".wine");
  Put(home / ".wine/system.reg", "REGEDIT4\n\n" + kKey);
  EXPECT_TRUE(FindPrefixes(PlacesOf(home.path())).empty());
}

// Settings that name missing or looping folders, and one prefix reached two
// ways: one candidate, the one a manager names, and no failure.
TEST(PrefixDiscovery, OddFoldersGiveOneCandidateAndNoFailure) {
  TempDir home;
  const std::string h = home.path();
  MakePrefix(h + "/.wine");
  fs::create_symlink("/", h + "/.wine/dosdevices/z:");
  fs::create_symlink(h + "/.wine", h + "/.wine-link");  // the same prefix again
  Put(h + "/.config/lutris/games/tessiro.yml", "game:\n  prefix: " + h + "/.wine\nwine:\n  version: system\n");
  Put(h + "/.local/share/Steam/steamapps/libraryfolders.vdf", "\"libraryfolders\" { \"1\" { \"path\" \"/no/such/library\" } }");
  fs::create_directories(h + "/.local/share/wineprefixes");
  fs::create_symlink(h + "/.local/share/wineprefixes/b", h + "/.local/share/wineprefixes/a");
  fs::create_symlink(h + "/.local/share/wineprefixes/a", h + "/.local/share/wineprefixes/b");
  Put(h + "/.local/share/bottles/bottles/Rotta/bottle.yml", "Name: [unclosed\n  - : :\n");
  Put(h + "/.config/heroic/GamesConfig/x.json", "{\"x\": {\"winePrefix\": ");
  fs::create_directories(h + "/.cxoffice/chiusa");
  ::chmod((h + "/.cxoffice").c_str(), 0);
  const auto found = FindMakersPrefixes(PlacesOf(h));
  ::chmod((h + "/.cxoffice").c_str(), 0755);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].manager, "Lutris");
  EXPECT_EQ(found[0].path, h + "/.wine");
}

// Gives `path` (and all below it, links not followed) to `uid`.
void GiveTo(const std::string& path, uid_t uid) {
  ASSERT_EQ(::lchown(path.c_str(), uid, uid), 0) << path;
  if (!fs::is_directory(fs::symlink_status(path))) return;
  for (const auto& e : fs::recursive_directory_iterator(path)) {
    ASSERT_EQ(::lchown(e.path().c_str(), uid, uid), 0) << e.path();
  }
}

// Homes where another account (or an odd disk) wrote what would choose the
// prefix or the Wine: nothing of it is taken, and the person's own prefix is
// still found. As root the person is a second account and "another account"
// a third; otherwise the rows that need a file given away are skipped.
TEST(PrefixDiscovery, WhatAnotherAccountCouldWriteChoosesNothing) {
  const bool root = ::getuid() == 0;
  const uid_t person = root ? 4242 : ::getuid(), other = 4343;
  TempDir shared;  // a Steam library on a disk that all may write
  const std::string lib = shared.path();
  const std::string evil_wine = lib + "/evil/files/bin/wine";
  std::vector<std::string> gifts;  // given to the other account once the home is the person's
  const auto give = [&](const std::string& path) { gifts.push_back(path); };
  // A game of the person's whose config_info names another's Proton; its path.
  const auto own_game = [&](const std::string& h) {
    const std::string c = h + "/.local/share/Steam/steamapps/compatdata/4242";
    MakePrefix(c + "/pfx");
    Put(c + "/config_info", "8.0\n" + lib + "/evil/files/share/fonts/\n");
    Put(evil_wine, "");
    return c + "/config_info";
  };
  // A Lutris game naming another's Wine for the person's ~/.wine; its file.
  const auto lutris_game = [&](const std::string& h) {
    MakePrefix(h + "/.wine");
    Put(h + "/.config/lutris/games/x.yml", "game:\n  prefix: " + h + "/.wine\nwine:\n  custom_wine_path: " + evil_wine + "\n");
    return h + "/.config/lutris/games/x.yml";
  };
  // A bottle whose runner is "soda"; the runner's wine.
  const auto bottle_runner = [&](const std::string& h) {
    MakePrefix(h + "/.local/share/bottles/bottles/Office");
    Put(h + "/.local/share/bottles/bottles/Office/bottle.yml", "Runner: soda\n");
    Put(h + "/.local/share/bottles/runners/soda/bin/wine", "");
    return h + "/.local/share/bottles/runners/soda/bin/wine";
  };
  const struct {
    const char* what;
    bool needs_root;
    std::function<void(const std::string& h)> make;
    std::function<Expected(const std::string& h)> expect;  // manager "": nothing found
  } rows[] = {
      {"a shared library's new game, its pfx a link to ~/.wine, its own Proton", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.wine");
         Put(h + "/.local/share/Steam/steamapps/libraryfolders.vdf", "\"l\" { \"1\" { \"path\" \"" + lib + "\" } }");
         Put(lib + "/steamapps/compatdata/999/config_info", "8.0\n" + lib + "/evil/files/share/fonts/\n");
         Put(evil_wine, "");
         fs::create_symlink(h + "/.wine", lib + "/steamapps/compatdata/999/pfx");
         ::chmod((lib + "/steamapps/compatdata").c_str(), 0777);
         give(lib + "/steamapps/compatdata/999");
       },
       [](const std::string& h) { return Expected{"Wine", ".wine", h + "/.wine", {}}; }},
      {"the person's own game's config_info, writable by all", false,
       [&](const std::string& h) { ::chmod(own_game(h).c_str(), 0666); },
       [](const std::string& h) {
         return Expected{"Steam", "4242", h + "/.local/share/Steam/steamapps/compatdata/4242/pfx", {}};
       }},
      {"the person's own game's config_info, another account's", true,
       [&](const std::string& h) { give(own_game(h)); },
       [](const std::string& h) {
         return Expected{"Steam", "4242", h + "/.local/share/Steam/steamapps/compatdata/4242/pfx", {}};
       }},
      {"a bottle whose runner climbs out of runners/", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.local/share/bottles/bottles/Office");
         Put(h + "/.local/share/bottles/bottles/Office/bottle.yml", "Runner: ../../../../../../" + lib + "/evil\n");
         Put(evil_wine, "");
       },
       [](const std::string& h) { return Expected{"Bottles", "Office", h + "/.local/share/bottles/bottles/Office", {}}; }},
      {"a Lutris game writable by all, naming a Wine for ~/.wine", false,
       [&](const std::string& h) { ::chmod(lutris_game(h).c_str(), 0666); },
       [](const std::string& h) { return Expected{"Wine", ".wine", h + "/.wine", {}}; }},
      {"a Lutris game of another account's, naming a Wine for ~/.wine", true,
       [&](const std::string& h) { give(lutris_game(h)); },
       [](const std::string& h) { return Expected{"Wine", ".wine", h + "/.wine", {}}; }},
      {"a Lutris version that climbs out of runners/", false,
       [&](const std::string& h) {
         MakePrefix(h + "/Games/t");
         Put(h + "/.config/lutris/games/t.yml", "game:\n  prefix: " + h + "/Games/t\nwine:\n  version: ../../../../x\n");
       },
       [](const std::string& h) { return Expected{"Lutris", "t", h + "/Games/t", {}}; }},
      {"a runner in a folder that all may write", false,
       [&](const std::string& h) { ::chmod(fs::path(bottle_runner(h)).parent_path().c_str(), 0777); },
       [](const std::string& h) { return Expected{"Bottles", "Office", h + "/.local/share/bottles/bottles/Office", {}}; }},
      {"a runner's wine of another account's", true,
       [&](const std::string& h) { give(bottle_runner(h)); },
       [](const std::string& h) { return Expected{"Bottles", "Office", h + "/.local/share/bottles/bottles/Office", {}}; }},
      {"a prefix that all may write", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.wine");
         ::chmod((h + "/.wine").c_str(), 0777);
       },
       [](const std::string&) { return Expected{}; }},
      {"a link on the way, another account's", true,
       [&](const std::string& h) {
         MakePrefix(lib + "/real");
         fs::create_symlink(lib + "/real", h + "/.wine");
         if (root) {
           GiveTo(lib + "/real", person);
           give(h + "/.wine");
         }
       },
       [](const std::string&) { return Expected{}; }},
      {"a prefix whose registry is a FIFO, beside the person's", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.wine");
         MakePrefix(h + "/.wine-fifo");
         fs::remove(h + "/.wine-fifo/system.reg");
         ::mkfifo((h + "/.wine-fifo/system.reg").c_str(), 0600);
       },
       [](const std::string& h) { return Expected{"Wine", ".wine", h + "/.wine", {}}; }},
      {"a bottle's settings that are a FIFO", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.local/share/bottles/bottles/Office");
         ::mkfifo((h + "/.local/share/bottles/bottles/Office/bottle.yml").c_str(), 0600);
       },
       [](const std::string& h) { return Expected{"Bottles", "Office", h + "/.local/share/bottles/bottles/Office", {}}; }},
      {"a registry far larger than any prefix's", false,
       [&](const std::string& h) {
         MakePrefix(h + "/.wine");
         fs::resize_file(h + "/.wine/system.reg", 65 << 20);  // holes: the key is at its start
       },
       [](const std::string&) { return Expected{}; }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.needs_root && !root) {
      std::printf("skipped \"%s\": only root can give a file to another account\n", r.what);
      continue;
    }
    TempDir home;
    gifts.clear();
    r.make(home.path());
    if (root) GiveTo(home.path(), person);
    if (root) {
      for (const auto& path : gifts) GiveTo(path, other);
    }
    DiscoveryPlaces places = PlacesOf(home.path());
    places.trust = TrustPolicy{person, std::nullopt};
    const auto found = FindMakersPrefixes(places);
    const Expected e = r.expect(home.path());
    if (e.manager.empty()) {
      EXPECT_TRUE(found.empty()) << found.front().path;
    } else {
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0].manager, e.manager);
      EXPECT_EQ(found[0].path, e.path);
      EXPECT_EQ(found[0].wine, e.wine);
    }
    for (const auto& entry : fs::directory_iterator(lib)) fs::remove_all(entry.path());
  }
}

// A place that does not answer is passed over by the deadline, and the
// window's events are handled all the while: what the other places gave is
// kept, in the order they were started, a search's followers after it.
TEST(PrefixDiscovery, APlaceThatDoesNotAnswerIsPassedOverAndTheWindowLives) {
  std::promise<void> never;
  std::shared_future<void> answer = never.get_future().share();
  TaskGroup<int> tasks;
  using Spawner = TaskGroup<int>::Spawner;
  tasks.spawner().Spawn([](Spawner& s) {
    s.Spawn([](Spawner&) { return std::vector<int>{2}; });
    return std::vector<int>{1};
  });
  tasks.spawner().Spawn([answer](Spawner&) {
    answer.wait();
    return std::vector<int>{99};
  });
  tasks.spawner().Spawn([](Spawner&) { return std::vector<int>{3}; });
  EXPECT_EQ(tasks.Collect(std::chrono::steady_clock::now() + std::chrono::milliseconds(300)),
            (std::vector<int>{1, 2, 3}));
  never.set_value();

  int waits = 0;
  const auto slow = [](const DiscoveryPlaces&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return std::vector<PrefixCandidate>{{"Wine", "w", "/w", {}, 0}};
  };
  const auto found = FindWhileWaiting(slow, DiscoveryPlaces(), [&] { ++waits; });
  ASSERT_EQ(found.size(), 1u);
  EXPECT_GE(waits, 3) << "the window's events wait for the search";
}

// The run's prefix: WINEPREFIX as given, else the one of the maker's, else
// the person's choice among several (most recently used first), else ~/.wine.
TEST(WineSession, ThePrefixIsGivenFoundOrChosen) {
  struct Row {
    const char* what;
    std::vector<std::string> prefixes;  // the maker's, in ~, used in this order
    const char* given;                  // WINEPREFIX
    std::optional<std::size_t> answer;  // of the chooser
    bool asked;
    std::optional<std::string> settled;  // relative to ~; nothing: cancelled
  };
  const Row rows[] = {
      {"one prefix: taken, nothing asked", {".wine-a"}, nullptr, 0, false, ".wine-a"},
      {"none: ~/.wine", {}, nullptr, 0, false, ".wine"},
      {"several: the answer", {".wine-a", ".wine-b", ".wine-c"}, nullptr, 2, true, ".wine-a"},
      {"several: the first offered is the last used", {".wine-a", ".wine-b"}, nullptr, 0, true, ".wine-b"},
      {"several, cancelled", {".wine-a", ".wine-b"}, nullptr, std::nullopt, true, std::nullopt},
      {"WINEPREFIX: nothing looked for", {".wine-a", ".wine-b"}, "/given", 0, false, "/given"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir home;
    int64_t used = 1700000000;
    for (const auto& p : r.prefixes) MakePrefix(home / p, kKey, used += 100);
    if (r.given) ::setenv("WINEPREFIX", r.given, 1); else ::unsetenv("WINEPREFIX");
    bool asked = false;
    std::vector<std::string> offered;
    const auto session = FindWineSession(PlacesOf(home.path()), [&](const std::vector<PrefixCandidate>& c) {
      asked = true;
      for (const auto& p : c) offered.push_back(fs::path(p.path).filename().string());
      return r.answer;
    });
    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(asked, r.asked);
    if (asked) {
      std::vector<std::string> last_used_first(r.prefixes.rbegin(), r.prefixes.rend());
      EXPECT_EQ(offered, last_used_first);
    }
    ASSERT_EQ(session.has_value(), r.settled.has_value());
    if (!session) continue;
    const std::string expected = (*r.settled)[0] == '/' ? *r.settled : home / *r.settled;
    EXPECT_EQ(session->prefix, expected);
    EXPECT_EQ(session->discovered, !r.given && !r.prefixes.empty());
  }
}

// A Wine whose wine.inf is not the one the prefix recorded would update the
// prefix; so would a server of another Wine already serving it.
TEST(WineGuard, OnlyThePrefixsOwnWineKeepsIt) {
  TempDir dir;
  const std::string ours = dir / "ours/bin/wine", theirs = dir / "theirs/bin/wineserver";
  Put(ours, ""), Put(dir / "ours/share/wine/wine.inf", "");
  Put(theirs, ""), Put(dir / "theirs/share/wine/wine.inf", "");
  Put(dir / "bare/bin/wine", "");
  SetTime(dir / "ours/share/wine/wine.inf", 1676758571);
  MakePrefix(dir / "pfx");
  const struct {
    const char* what;
    std::optional<std::string> stamp;
    std::string wine;
    bool keeps;
  } stamps[] = {
      {"no record", std::nullopt, ours, true},
      {"updates disabled", "disable\n", dir / "bare/bin/wine", true},
      {"its own", "1676758571\n", ours, true},
      {"another time", "1676758572\n", ours, false},
      {"a Wine without wine.inf", "1676758571\n", dir / "bare/bin/wine", false},
  };
  for (const auto& r : stamps) {
    SCOPED_TRACE(r.what);
    fs::remove(dir / "pfx/.update-timestamp");
    if (r.stamp) Put(dir / "pfx/.update-timestamp", *r.stamp);
    EXPECT_EQ(WineKeepsPrefix(dir / "pfx", r.wine), r.keeps);
  }
  struct stat st {};
  ASSERT_EQ(::stat((dir / "pfx").c_str(), &st), 0);
  char server[96];
  std::snprintf(server, sizeof server, "/tmp/.wine-0/server-%llx-%llx", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino);
  const struct {
    const char* what;
    std::string cwd, exe;
    bool other;
  } servers[] = {
      {"its own Wine's server", server, dir / "ours/bin/wineserver", false},
      {"another Wine's server", server, theirs, true},
      {"an unknown program's", server, "/usr/bin/true", true},
      {"a server of another prefix", "/tmp/.wine-0/server-1-2", theirs, false},
  };
  Put(dir / "ours/bin/wineserver", "");
  for (const auto& r : servers) {
    SCOPED_TRACE(r.what);
    fs::remove_all(dir / "proc");
    fs::create_directories(dir / "proc/4242");
    fs::create_directories(dir / "proc/self");
    fs::create_symlink(r.cwd, dir / "proc/4242/cwd");
    fs::create_symlink(r.exe, dir / "proc/4242/exe");
    EXPECT_EQ(OtherWineServes(dir / "pfx", ours, dir / "proc"), r.other);
  }
}

// The settings readers on what the managers write.
TEST(ConfigReaders, ReadWhatTheManagersWrite) {
  EXPECT_EQ(YamlScalar("game:\n  prefix: '~/Games/a b'\n", {"game", "prefix"}), "~/Games/a b");
  EXPECT_EQ(YamlScalar("game: [1, 2]\n", {"game", "prefix"}), std::nullopt);
  EXPECT_EQ(YamlScalar("a: " + std::string(1 << 20, '[') + std::string(1 << 20, ']') + "\n", {"a"}), std::nullopt);
  EXPECT_EQ(JsonString(R"({"version": "v0", "g": {"winePrefix": "/p"}})", {"*", "winePrefix"}), "/p");
  EXPECT_EQ(JsonString("{not json", {"a"}), std::nullopt);
  EXPECT_EQ(JsonString(R"({"a": 1, "b": )" + std::string(1 << 20, '[') + std::string(1 << 20, ']') + "}", {"a"}),
            std::nullopt);
  EXPECT_EQ(KeyValuesStrings("// c\n\"a\" { \"Path\" \"/x \\\"y\\\"\" \"b\" { \"path\" \"/z\" } }", "path"),
            (std::vector<std::string>{"/x \"y\"", "/z"}));
  EXPECT_EQ(KeyValuesStrings("\"path\" \"/open", "path"), (std::vector<std::string>{"/open"}));
  EXPECT_EQ(LineSetting("ARCH=x86\n VERSION = \"7.0\"\n", "VERSION"), "7.0");
  EXPECT_EQ(LineSetting("XVERSION=1\n", "VERSION"), std::nullopt);
}

// Registration in a discovered prefix: through the prefix's own Wine, with
// the prefix's environment, and not at all where that would change the
// prefix. Each row runs in a child process, whose run settles once.
TEST(WineSession, RegistrationUsesThePrefixsOwnWine) {
  TempDir home;
  const std::string h = home.path();
  const std::string bottle = h + "/.local/share/bottles/bottles/Kelmo";
  const std::string runner = h + "/.local/share/bottles/runners/kelmo-8/bin/wine";
  MakePrefix(bottle);
  Put(bottle + "/bottle.yml", "Name: Kelmo\nRunner: kelmo-8\n");
  Put(bottle + "/drive_c/windows/system32/regsvr32.exe", "MZ\x90\x00 a Windows program");
  fs::create_directories(fs::path(runner).parent_path());
  fs::copy_file(TTU_RECORD_ARGS, runner);
  Put(h + "/.local/share/bottles/runners/kelmo-8/share/wine/wine.inf", "");
  SetTime(h + "/.local/share/bottles/runners/kelmo-8/share/wine/wine.inf", 1676758571);
  const std::string record = h + "/record.txt";
  // A server of another Wine: a program of that Wine's working in the folder
  // named after the prefix, as wineserver does.
  const std::string other_server = h + "/other-wine/bin/wineserver";
  fs::create_directories(h + "/other-wine/bin");
  fs::copy_file("/bin/sleep", other_server);
  Put(h + "/other-wine/share/wine/wine.inf", "");
  struct stat st {};
  ASSERT_EQ(::stat(bottle.c_str(), &st), 0);
  char server_dir[96];
  std::snprintf(server_dir, sizeof server_dir, "/server-%llx-%llx", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino);
  fs::create_directories(h + "/tmp" + server_dir);
  const struct {
    const char* what;
    std::string stamp;
    bool other_server;
    int status;  // the launch's: 0, or the RunError number
  } rows[] = {
      {"the prefix's own Wine", "1676758571\n", false, 0},
      {"a prefix another Wine updated", "1600000000\n", false, kErrPrefixNeedsItsWine},
      {"another Wine's server serves the prefix", "1676758571\n", true, kErrPathFileAccess},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Put(bottle + "/.update-timestamp", r.stamp);
    fs::remove(record);
    const pid_t server = r.other_server ? Spawn({other_server, "60"}, h + "/tmp" + server_dir) : -1;
    std::error_code ec;  // until it runs the server's program
    for (int k = 0; server > 0 && k < 500 && fs::read_symlink("/proc/" + std::to_string(server) + "/exe", ec) != other_server;
         ++k) {
      ::usleep(10000);
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::unsetenv("WINEPREFIX");
      ::setenv("HOME", h.c_str(), 1);
      ::unsetenv("XDG_DATA_HOME"), ::unsetenv("XDG_CONFIG_HOME");
      ::setenv("WINEARCH", "win32", 1), ::setenv("WINELOADER", "/elsewhere/wine", 1);
      ::setenv("TTU_RECORD", record.c_str(), 1);
      WineInstallation installation([](const auto&) { return std::optional<std::size_t>(); });
      if (!installation.Settle()) ::_exit(99);
      const int status = RunErrorNumberOf([] { NativeLauncher().Launch("regsvr32.exe \"C:\\K\\a.dll\" /s", kHide); });
      ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Stop(server);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), r.status % 256);
    if (r.status != 0) {
      EXPECT_FALSE(Exists(record)) << "launched";
      continue;
    }
    std::string recorded;
    for (int k = 0; k < 500 && recorded.find("end\n") == std::string::npos; ++k) {
      if (Exists(record)) recorded = ReadFile(record);
      ::usleep(10000);
    }
    EXPECT_NE(recorded.find("arg " + fs::canonical(bottle).string() + "/dosdevices/c:/windows/system32/regsvr32.exe\n"),
              std::string::npos) << recorded;
    EXPECT_NE(recorded.find("env WINEPREFIX=" + bottle + "\n"), std::string::npos) << recorded;
    EXPECT_EQ(recorded.find("env WINEARCH="), std::string::npos) << recorded;
    EXPECT_EQ(recorded.find("env WINELOADER="), std::string::npos) << recorded;
  }
}

}  // namespace
}  // namespace ttu::platform
