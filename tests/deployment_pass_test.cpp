#include "deploy/deployment_pass.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "deploy/manifest.h"
#include "support/delta_payload.h"
#include "support/run_error.h"
#include "tests/fakes.h"
#include "tests/grouped_maker.h"

namespace ttu::deploy {
namespace {

using namespace test;

class PassTest : public ::testing::Test {
 protected:
  PassTest() {
    loc.kelmo = "C:\\K";
    fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";
    fs.files["C:\\K\\Brenvia\\Brenvia.exe"] = "exe";
  }
  // Items as (descriptor, payload); sizes the tables as a press does.
  void Package(const std::vector<std::pair<std::string, std::string>>& items) {
    res.strings[100] = std::to_string(items.size());
    for (std::size_t j = 0; j < items.size(); ++j) {
      res.strings[101 + j] = items[j].first;
      res.payloads[101 + j] = items[j].second;
    }
    SizeTables(tables, res);
  }
  int FinishedMessages() const {
    int n = 0;
    for (const auto& s : dialogs.shown) n += s.prompt == "Aggiornamento terminato!";
    return n;
  }

  FakeResources res;
  FakeFileSystem fs;
  RecordingLauncher launcher;
  FakeDialogs dialogs;
  FakeLocations loc;
  ItemTables tables;
  DeploymentPass pass{tables, {res, fs, launcher, dialogs, loc}};
};

TEST_F(PassTest, ThisBuildsPackageIsWrittenAndTheEndIsAnnounced) {
  Package({{"Dossaro.zip|<APPPATH>Tessiro/|N|", "zip bytes"}});
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(fs.files["C:\\K\\Tessiro\\Dossaro.zip"], "zip bytes");
  EXPECT_EQ(tables.ItemState[0][0], "X");
  EXPECT_EQ(tables.TargetTemplate[0], "<APPPATH>Tessiro\\");
  EXPECT_TRUE(launcher.launches.empty());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].prompt, "Aggiornamento terminato!");
  EXPECT_EQ(dialogs.shown[0].style, 64);
  EXPECT_EQ(dialogs.shown[0].title, std::optional<std::string>("Kelmo S.r.l."));
}

// Files compressed together: each written out of its group, in one pass, or
// after a file held in the middle on the next (its group decoded again up to
// it); a group or a part that lies writes nothing of its file, and the pass
// stops there as at any failure.
TEST_F(PassTest, GroupedFilesAreWrittenFromTheirGroupOnlyAsTheyWere) {
  const std::vector<std::string> files = {std::string(150000, 'a'), "bb", "", std::string(70000, 'c')};
  const MadeGroup made = MakeGroup(files);
  const auto flipped = [](std::string s, std::size_t at) { return s[at] ^= 1, s; };
  const struct {
    const char* what;
    std::string group, part1;  // item 1's part
    bool held;                 // item 1 held open in the first pass
    std::size_t written;       // items written in the first pass
  } rows[] = {
      {"as made", made.group, made.parts[1], false, 4},
      {"the second held, then released", made.group, made.parts[1], true, 1},
      {"a byte of the group's content changed", flipped(made.group, 150047), made.parts[1], false, 1},
      {"the group's header changed", flipped(made.group, 0), made.parts[1], false, 0},
      {"a part past its group's end", made.group, flipped(made.parts[1], 43), false, 1},
      {"a part naming a missing group", made.group, flipped(made.parts[1], 33), false, 1},
      {"a part of another file's size", made.group, flipped(made.parts[1], 8), false, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    res = {};
    fs.files.clear(), fs.fail_writes.clear();
    tables = {};
    Package({{"a|<APPPATH>Tessiro/|N|", ""}, {"b|<APPPATH>Tessiro/|N|", ""}, {"c|<APPPATH>Tessiro/|N|", ""},
             {"d|<APPPATH>Tessiro/|N|", ""}});
    res.payloads.clear();
    res.others[{"ZGROUP", 1}] = row.group;
    for (uint32_t j = 0; j < 4; ++j) res.others[{"ZPART", 101 + j}] = j == 1 ? row.part1 : made.parts[j];
    fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";
    if (row.held) fs.fail_writes["C:\\K\\Tessiro\\b"] = kErrPermissionDenied;
    EXPECT_EQ(pass.AggiornaFile(), row.written == 4);
    for (std::size_t j = 0; j < 4; ++j) {
      const std::string name = std::string("C:\\K\\Tessiro\\") + "abcd"[j];
      EXPECT_EQ(fs.files.count(name), j < row.written ? 1u : 0u) << name;
      if (j < row.written) {
        EXPECT_TRUE(fs.files[name] == files[j]) << name;
      }
    }
    if (!row.held) continue;
    fs.fail_writes.clear();
    EXPECT_TRUE(pass.AggiornaFile());
    for (std::size_t j = 0; j < 4; ++j) EXPECT_TRUE(fs.files[std::string("C:\\K\\Tessiro\\") + "abcd"[j]] == files[j]);
  }
}

// The files of a pass are staged, flushed together once, then put in place in
// order and their folders flushed. A failure at the first, a middle or the
// last item (held when staged, its rename refused, its "Setup" box cancelled)
// leaves exactly the items before it done and in place, and no staged file.
// At every step each file is old or new: none is put in place before its
// bytes were flushed, and at every box the items before it are in place. A
// payload damaged there, found by the press's check beside the pass, leaves
// nothing in place and shows nothing but the press's own report.
TEST_F(PassTest, FilesAreFlushedTogetherAndAFailureLeavesExactlyTheItemsBeforeItDone) {
  const auto path = [](int j) { return "C:\\K\\Tessiro\\f" + std::to_string(j); };
  for (const std::string failure : {"", "held", "rename refused", "box cancelled", "damaged", "held, then damaged"}) {
    for (const int at : {0, 2, 4}) {
      if (failure.empty() && at > 0) continue;
      SCOPED_TRACE(failure + " at item " + std::to_string(at));
      res = {}, fs = {}, tables = {}, dialogs = {};
      fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";
      std::vector<std::pair<std::string, std::string>> items;
      for (int j = 0; j < 5; ++j) {
        const bool elsewhere = failure == "box cancelled" && j == at;  // a product not installed
        items.push_back({"f" + std::to_string(j) + (elsewhere ? "|<APPPATH>Zelmo/|N|" : "|<APPPATH>Tessiro/|N|"),
                         "nuovo " + std::to_string(j)});
      }
      Package(items);
      if (failure.rfind("held", 0) == 0) fs.fail_writes[path(at)] = kErrPermissionDenied;
      if (failure == "rename refused") fs.fail_commits[path(at)] = kErrPermissionDenied;
      const bool damaged = failure.find("damaged") != std::string::npos;
      for (int j = 0; j < 5; ++j) res.checksums[101 + j] = RecordedChecksum(items[j].second);
      if (damaged) res.checksums[101 + (failure == "damaged" ? at : 4)] = RecordedChecksum("not what it carries");
      std::vector<int> in_place_at_box;
      dialogs.while_open = [&] {
        int n = 0;
        for (int j = 0; j < 5; ++j) n += fs.files.count(path(j)) > 0;
        in_place_at_box.push_back(n);
      };
      bool finished = false;
      EXPECT_EQ(RunErrorNumberOf([&] { finished = pass.Press(); }), damaged ? 31037 : 0);
      EXPECT_EQ(finished, failure.empty());
      const int done = failure.empty() ? 5 : damaged ? 0 : at;
      for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(fs.files.count(path(j)), j < done ? 1u : 0u) << j;
        EXPECT_EQ(tables.IsDone(j), j < done) << j;
      }
      EXPECT_EQ(fs.staged_now, 0) << "no staged file is left";
      for (const auto& step : fs.trace) EXPECT_FALSE(damaged && step.rfind("commit", 0) == 0) << step;
      // One flush for the files staged before the failure (all, when it is a rename).
      const int staged = failure == "rename refused" ? 5 : done;
      if (!damaged) {
        EXPECT_EQ(std::count(fs.trace.begin(), fs.trace.end(), "flush " + std::to_string(staged)), staged > 0 ? 1 : 0);
      }
      for (const auto& step : fs.trace) EXPECT_EQ(step.rfind("unflushed", 0), std::string::npos) << step;
      if (done > 0) {
        EXPECT_EQ(fs.trace.back(), "folders " + std::to_string(done));
      }
      // The final message, or the "Setup" box, sees the items before it in place.
      EXPECT_EQ(in_place_at_box, (failure.empty() || failure == "box cancelled" ? std::vector<int>{done} : std::vector<int>{}));
      if (!damaged) continue;
      // A tick of a timer armed before is a pass like any other.
      EXPECT_EQ(pass.AggiornaFile(), failure == "damaged");
      for (int j = 0; j < 5; ++j) EXPECT_EQ(tables.IsDone(j), failure == "damaged" || j < at) << j;
    }
  }
}

TEST_F(PassTest, AllDoneTouchesNothingAndSucceeds) {
  Package({{"a|<APPPATH>Tessiro/|S|", "a"}});
  ASSERT_TRUE(pass.AggiornaFile());
  fs.writes.clear(), fs.probes.clear(), launcher.launches.clear(), res.string_reads.clear();
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_TRUE(fs.writes.empty());
  EXPECT_TRUE(fs.probes.empty());
  EXPECT_TRUE(launcher.launches.empty());
  EXPECT_TRUE(res.string_reads.empty());
  EXPECT_EQ(FinishedMessages(), 2);
}

TEST_F(PassTest, FailureInTheMiddleStopsSilentlyAndTheNextPassPicksUpThere) {
  Package({{"a.zip|<APPPATH>Tessiro/|N|", "A"},
           {"b.dll|<APPPATH>Brenvia/|S|R", "B"},
           {"c.zip|<APPPATH>Tessiro/|N|", "C"}});
  fs.fail_writes["C:\\K\\Brenvia\\b.dll"] = kErrPermissionDenied;  // held open
  EXPECT_FALSE(pass.AggiornaFile());
  EXPECT_EQ(tables.ItemState[0][0], "X");
  EXPECT_EQ(tables.ItemState[1][0], "S");
  EXPECT_EQ(tables.FileName[2], "") << "item 2 not visited";
  EXPECT_EQ(tables.ItemState[2][0], "");
  EXPECT_TRUE(dialogs.shown.empty()) << "an abandoned pass says nothing";
  EXPECT_TRUE(launcher.launches.empty());

  fs.fail_writes.clear();
  fs.writes.clear();
  res.string_reads.clear();
  res.payload_reads.clear();
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(fs.writes, (std::vector<std::string>{"C:\\K\\Brenvia\\b.dll", "C:\\K\\Tessiro\\c.zip"}));
  EXPECT_EQ(res.string_reads, (std::vector<uint32_t>{102, 103}));
  EXPECT_EQ(res.payload_reads, (std::vector<uint32_t>{102, 103}));
  ASSERT_EQ(launcher.launches.size(), 2u) << "registered after the write";
  EXPECT_EQ(fs.files["C:\\K\\Tessiro\\c.zip"], "C");
}

TEST_F(PassTest, TemplatesAreResolvedOncePerRunAndLetterCaseMakesTwoRows) {
  fs.files.erase("C:\\K\\Tessiro\\Tessiro.exe");
  fs.files["D:\\T\\Tessiro.exe"] = "";
  dialogs.input_answers = {"D:\\T", "D:\\T"};
  Package({{"a|<APPPATH>Tessiro/|N|", "a"},
           {"b|<APPPATH>Tessiro\\|N|", "b"},  // the same template once "/" is turned
           {"c|<APPPATH>TESSIRO/|N|", "c"}});
  EXPECT_TRUE(pass.AggiornaFile());
  int prompts = 0;
  for (const auto& s : dialogs.shown) prompts += s.kind == "input";
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(tables.PathCache[0][0], "<APPPATH>Tessiro\\");
  EXPECT_EQ(tables.PathCache[1][0], "<APPPATH>TESSIRO\\");
  EXPECT_EQ(tables.PathCache[2][0], "");
  EXPECT_EQ(fs.files["D:\\T\\b"], "b");
}

// Only a flag of exactly "S" registers: "s", "S " and "N" with kind "R" launch nothing.
TEST_F(PassTest, OnlyTheExactRegisterFlagLaunches) {
  Package({{"a.dll|<APPPATH>Tessiro/|s|R", "a"}, {"b.dll|<APPPATH>Tessiro/|S |R", "b"},
           {"c.dll|<APPPATH>Tessiro/|N|R", "c"}, {"d.dll|<APPPATH>Tessiro/|S|R", "d"}});
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(fs.writes.size(), 4u);
  ASSERT_FALSE(launcher.launches.empty());
  for (const auto& l : launcher.launches) {
    EXPECT_NE(l.command_line.find("d.dll"), std::string::npos) << l.command_line;
  }
}

// An unresolved folder fails its item and is not cached: each pass resolves
// it again, so a product installed meanwhile is found; a resolved one is kept.
TEST_F(PassTest, UnresolvedFolderFailsTheItemAndIsResolvedAgainNextPass) {
  fs.files.erase("C:\\K\\Tessiro\\Tessiro.exe");
  Package({{"a|<APPPATH>Tessiro/|N|", "a"}, {"b|<APPPATH>Zelmo/|N|", "b"}});
  EXPECT_FALSE(pass.AggiornaFile());  // the Setup prompt is cancelled
  EXPECT_TRUE(fs.writes.empty()) << "nothing lands in the current folder";
  EXPECT_EQ(tables.ItemState[0][0], "N");
  EXPECT_EQ(tables.PathCache[0][0], "") << "no row for what did not resolve";
  fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";  // installed meanwhile
  const std::size_t prompts = dialogs.shown.size();
  EXPECT_FALSE(pass.AggiornaFile());  // item 0 now written; Zelmo is no product
  EXPECT_EQ(fs.files["C:\\K\\Tessiro\\a"], "a");
  EXPECT_EQ(tables.PathCache[0][0], "<APPPATH>Tessiro\\");
  EXPECT_EQ(dialogs.shown.size(), prompts + 1) << "the unhandled template is reported again";
  const std::size_t probes = fs.probes.size();
  EXPECT_FALSE(pass.AggiornaFile());
  EXPECT_EQ(fs.probes.size(), probes) << "the resolved folder comes from the cache";
}

TEST_F(PassTest, ManifestFailuresAbandonThePassOnEveryAttempt) {
  Package({{"a|<APPPATH>Tessiro/|N|", "a"}, {"b|<APPPATH>Tessiro/|N", "b"}});
  EXPECT_FALSE(pass.AggiornaFile());
  EXPECT_EQ(tables.ItemState[1][0], "N") << "fields before the missing one are stored";
  EXPECT_FALSE(pass.AggiornaFile());
  res.strings[102] = "b|<APPPATH>Tessiro/|N|";
  res.payloads.erase(102);
  EXPECT_FALSE(pass.AggiornaFile());
  EXPECT_EQ(fs.files.count("C:\\K\\Tessiro\\b"), 0u);
  res.payloads[102] = "b";
  EXPECT_TRUE(pass.AggiornaFile());
}

TEST_F(PassTest, FailedRegistrationLaunchRepeatsTheWriteAndTheLaunch) {
  Package({{"x.dll|<APPPATH>Brenvia/|S|R4", "X"}});
  launcher.fail_on = "/nologo";
  EXPECT_FALSE(pass.AggiornaFile());
  EXPECT_EQ(fs.writes.size(), 1u);
  launcher.fail_on.clear();
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(fs.writes.size(), 2u);
  EXPECT_EQ(launcher.launches.size(), 2u);
}

TEST_F(PassTest, ASecondPassRequestedFromInsideADialogIsDropped) {
  Package({{"a|<APPPATH>Tessiro/|N|", "a"}});
  int nested = 0;
  dialogs.while_open = [&] {
    EXPECT_TRUE(pass.Running());
    EXPECT_FALSE(pass.AggiornaFile());
    ++nested;
  };
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(fs.writes.size(), 1u);
  EXPECT_FALSE(pass.Running());
}

}  // namespace
}  // namespace ttu::deploy

namespace ttu::deploy {
namespace {

// The installed system is settled before the first folder is looked up; a
// cancelled choice is a failed item like a cancelled "Setup" box: nothing
// written, nothing said, and the next pass asks again.
TEST_F(PassTest, AnInstallationIsSettledFirstAndACancelledChoiceWritesNothing) {
  const struct {
    const char* what;
    std::vector<bool> answers;
    std::vector<bool> passes;  // what each pass returns
    int asks;
  } rows[] = {
      {"settled at once", {true}, {true}, 1},
      {"cancelled, then chosen", {false, true}, {false, true}, 2},
      {"cancelled twice", {false}, {false, false}, 2},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    FakeInstallation installation;
    installation.answers = r.answers;
    ItemTables t;
    FakeDialogs d;
    FakeFileSystem f;
    f.files = fs.files;
    DeploymentPass p{t, {res, f, launcher, d, loc, &installation}};
    res.strings[100] = "2";
    res.strings[101] = "a.zip|<APPPATH>Tessiro/|N|", res.payloads[101] = "A";
    res.strings[102] = "b.zip|<COMMONPATH>Kelmo/|N|", res.payloads[102] = "B";
    loc.common = "C:\\C";
    f.files["C:\\C\\Kelmo\\Zelmora.dll"] = "dll";
    SizeTables(t, res);
    for (std::size_t k = 0; k < r.passes.size(); ++k) {
      const bool cancelled = !r.answers[std::min(k, r.answers.size() - 1)];
      EXPECT_EQ(p.AggiornaFile(), r.passes[k]);
      EXPECT_EQ(f.writes.empty(), cancelled) << "pass " << k;
      EXPECT_EQ(f.probes.empty(), cancelled) << "pass " << k;
      if (cancelled) {
        EXPECT_TRUE(d.shown.empty());
      }
    }
    EXPECT_EQ(installation.asks, r.asks) << "asked until settled, then never again";
  }
}

// A registration refused because only the prefix's own Wine may make it is
// said once a run, with the reason; the item stays pending like any failure.
TEST_F(PassTest, ARegistrationForTheWrongWineIsSaidOnce) {
  Package({{"a.dll|<APPPATH>Tessiro/|S|", "A"}});
  launcher.fail_on = "regsvr32";
  launcher.fail_with = kErrPrefixNeedsItsWine;
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(pass.AggiornaFile());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].prompt, RunErrorDescription(kErrPrefixNeedsItsWine));
  EXPECT_EQ(dialogs.shown[0].style, 16);
  EXPECT_EQ(tables.ItemState[0][0], "S");
}

// The header of a delta that makes `installed` from itself.
delta::Header SameAs(const std::string& installed) {
  checksum::Hasher hash;
  hash.Add({reinterpret_cast<const uint8_t*>(installed.data()), installed.size()});
  delta::Header h;
  h.size = h.base_size = installed.size();
  h.digest = h.base_digest = hash.Finish();
  return h;
}

// An item carried as "unchanged since the installed version": the press
// checks the installed file first; the right one is kept as it is, any other
// stops the press before anything is written, naming the file; a folder the
// person does not give is asked for once a press, and fails the item.
TEST_F(PassTest, AnUnchangedItemNeedsItsInstalledVersion) {
  const std::string installed = "versione 2.3";
  delta::Header h = SameAs(installed);
  const auto header = delta::EncodeHeader(h);
  const struct {
    const char* what;
    std::optional<std::string> file;  // what is installed
    bool product_found;
    const char* error;  // what the press's check raises; "" none
    bool done;
  } rows[] = {
      {"the installed version", installed, true, "", true},
      {"another version", "versione 2.2", true, "C:\\K\\Tessiro\\a.dll (the update needs 12 bytes", false},
      {"missing", std::nullopt, true, "it is missing", false},
      {"no folder given", installed, false, "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeResources r;
    FakeFileSystem files;
    FakeDialogs boxes;
    ItemTables t;
    DeploymentPass p{t, {r, files, launcher, boxes, loc}};
    if (row.product_found) files.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";
    if (row.file) files.files["C:\\K\\Tessiro\\a.dll"] = *row.file;
    r.strings[100] = "1";
    r.strings[101] = "a.dll|<APPPATH>Tessiro/|N|";
    r.deltas[101] = std::string(header.begin(), header.end());
    SizeTables(t, r);
    std::string raised;
    try {
      p.CheckBases();
    } catch (const RunError& e) {
      EXPECT_EQ(e.Number(), 31039);
      raised = e.Description();
    }
    if (*row.error) {
      EXPECT_NE(raised.find(row.error), std::string::npos) << raised;
    } else {
      EXPECT_EQ(raised, "");
    }
    if (raised.empty()) {
      EXPECT_EQ(p.AggiornaFile(), row.done);
    }
    EXPECT_TRUE(files.writes.empty()) << "an unchanged file is never written";
    int prompts = 0;
    for (const auto& s : boxes.shown) prompts += s.kind == "input";
    EXPECT_EQ(prompts, row.product_found ? 0 : 1);
  }
}

// A zstd frame that holds `bytes` (at most 255) as they are.
std::string RawFrame(const std::string& bytes) {
  const uint32_t block = 1u | static_cast<uint32_t>(bytes.size()) << 3;  // the last block, raw
  std::string f = {'\x28', '\xB5', '\x2F', '\xFD', '\x20', static_cast<char>(bytes.size()),
                   static_cast<char>(block & 0xFF), static_cast<char>(block >> 8 & 0xFF), static_cast<char>(block >> 16)};
  return f + bytes;
}

// A delta that rebuilds `base` (at most 255 bytes) from itself, record by record.
std::string RebuildingDelta(const std::string& base) {
  delta::Header h = SameAs(base);
  std::string record(24, '\0');
  record[0] = static_cast<char>(base.size());  // add the whole base, as it is
  const std::string streams[] = {RawFrame(record), RawFrame(""), RawFrame(""), RawFrame("")};
  h.control = streams[0].size(), h.runs = streams[1].size(), h.values = streams[2].size(), h.extra = streams[3].size();
  const auto header = delta::EncodeHeader(h);
  return std::string(header.begin(), header.end()) + streams[0] + streams[1] + streams[2] + streams[3];
}

// An item whose file an earlier item of the same pass replaces is made from
// that item's file: it goes in place first.
TEST_F(PassTest, AFileStagedForAnEarlierItemIsInPlaceBeforeALaterItemIsMadeFromIt) {
  fs.files["C:\\K\\Tessiro\\a.dll"] = "versione 2.2";
  Package({{"a.dll|<APPPATH>Tessiro/|N|", "versione 2.3"}, {"a.dll|<APPPATH>Tessiro/|N|", ""}});
  res.payloads.erase(102);
  res.deltas[102] = RebuildingDelta("versione 2.3");
  EXPECT_TRUE(pass.AggiornaFile());
  EXPECT_EQ(fs.files["C:\\K\\Tessiro\\a.dll"], "versione 2.3");
  EXPECT_EQ(FinishedMessages(), 1);
  EXPECT_EQ(dialogs.shown.size(), 1u);
}

// An installed file that changes after the press checked it and before the
// pass rebuilds it: the file made fails its checksum, the old one stays, and
// the person is told once, naming the file, instead of retries in silence.
TEST_F(PassTest, AnInstalledFileThatChangesUnderTheRebuildIsSaidOnce) {
  const std::string installed = "versione 2.3";
  FakeResources r;
  FakeFileSystem files;
  FakeDialogs boxes;
  ItemTables t;
  DeploymentPass p{t, {r, files, launcher, boxes, loc}};
  files.files["C:\\K\\Tessiro\\Tessiro.exe"] = "exe";
  files.files["C:\\K\\Tessiro\\a.dll"] = installed;
  r.strings[100] = "1";
  r.strings[101] = "a.dll|<APPPATH>Tessiro/|N|";
  r.deltas[101] = RebuildingDelta(installed);
  SizeTables(t, r);
  p.CheckBases();
  files.files["C:\\K\\Tessiro\\a.dll"] = "versione 2.4";  // changed since the check
  EXPECT_FALSE(p.AggiornaFile());
  EXPECT_FALSE(p.AggiornaFile());
  EXPECT_EQ(files.files["C:\\K\\Tessiro\\a.dll"], "versione 2.4");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.shown[0].prompt.find("C:\\K\\Tessiro\\a.dll (the update needs 12 bytes"), std::string::npos)
      << boxes.shown[0].prompt;
  EXPECT_EQ(t.ItemState[0][0], "N");
  files.files["C:\\K\\Tessiro\\a.dll"] = installed;  // the right one back: the retry makes it
  EXPECT_TRUE(p.AggiornaFile());
}

}  // namespace
}  // namespace ttu::deploy
