// The run controller, driven by presses and ticks without a display or a wait.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "tests/fakes.h"

namespace ttu::app {
namespace {

using namespace test;

constexpr const char* kTarget = "C:\\K\\Tessiro\\Dossaro.zip";

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    loc.kelmo = "C:\\K";
    fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "";
    res.strings[100] = "1";
    res.strings[101] = "Dossaro.zip|<APPPATH>Tessiro/|N|";
    res.payloads[101] = "zip";
    form = std::make_unique<Form1>(deploy::DeployServices{res, fs, launcher, dialogs, loc},
                                   [this](const platform::WindowLayout& l, platform::WindowEvents) {
                                     layout = l;
                                     auto w = std::make_unique<FakeWindow>(l.button_caption);
                                     window = w.get();
                                     return w;
                                   });
  }
  bool Press() { return EndsProcess([this] { form->cmdAvviaConTimer_Click(); }); }
  bool Tick() { return EndsProcess([this] { form->Timer_Timer(); }); }
  void Hold() { fs.fail_writes[kTarget] = kErrPermissionDenied; }
  void Release() { fs.fail_writes.clear(); }
  std::vector<std::string> Prompts() const {
    std::vector<std::string> p;
    for (const auto& s : dialogs.shown) p.push_back(s.prompt);
    return p;
  }

  FakeResources res;
  FakeFileSystem fs;
  RecordingLauncher launcher;
  FakeDialogs dialogs;
  FakeLocations loc;
  FakeWindow* window = nullptr;
  platform::WindowLayout layout;
  std::unique_ptr<Form1> form;
};

TEST_F(ControllerTest, TheTimerTicksEveryTwentySeconds) { EXPECT_EQ(layout.timer_interval_ms, 20000); }

TEST_F(ControllerTest, StartsIdleWithItsCaption) {
  EXPECT_FALSE(window->timer_on);
  EXPECT_EQ(window->caption, "Installa Dossaro");
  EXPECT_EQ(form->AttemptCount, 0);
  EXPECT_EQ(form->tables.LastIndex, -1) << "no tables before the first press";
  EXPECT_TRUE(res.string_reads.empty());
}

TEST_F(ControllerTest, CompletedFirstPassEndsTheProcessAfterItsMessage) {
  EXPECT_TRUE(Press());
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Aggiornamento terminato!"});
  EXPECT_FALSE(window->timer_on);
  EXPECT_EQ(window->caption, "Installa Dossaro");
  EXPECT_EQ(fs.files[kTarget], "zip");
}

TEST_F(ControllerTest, FailedFirstPassArmsTheTimerAndTicksCountOnTheCaption) {
  Hold();
  EXPECT_FALSE(Press());
  EXPECT_TRUE(window->timer_on);
  EXPECT_EQ(window->caption, "Installa Dossaro");
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(Tick());
  EXPECT_EQ(window->caption, "1");
  EXPECT_EQ(dialogs.yields, 1);
  EXPECT_FALSE(Tick());
  EXPECT_EQ(window->caption, "2");
  Release();
  EXPECT_TRUE(Tick());
  EXPECT_FALSE(window->timer_on) << "switched off before the end";
  EXPECT_EQ(window->caption, "2");
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Aggiornamento terminato!"});
}

TEST_F(ControllerTest, TheQuestionComesOnTheFortyFirstTickAndNoStartsTheCountAgain) {
  Hold();
  Press();
  for (int k = 1; k <= 40; ++k) Tick();
  EXPECT_EQ(window->caption, "40");
  EXPECT_TRUE(dialogs.shown.empty()) << "no question within the first 40 ticks";
  dialogs.message_answers = {platform::kResultNo};
  Tick();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].prompt, "Interrompere?");
  EXPECT_EQ(dialogs.shown[0].style, 36);
  EXPECT_EQ(dialogs.shown[0].title, std::optional<std::string>("Attenzione"));
  EXPECT_EQ(window->caption, "1");
  EXPECT_TRUE(window->timer_on);
  for (int k = 2; k <= 40; ++k) Tick();
  EXPECT_EQ(dialogs.shown.size(), 1u);
  dialogs.message_answers = {platform::kResultNo};
  Tick();
  ASSERT_EQ(dialogs.shown.size(), 2u) << "asked again 40 ticks later";
  EXPECT_EQ(dialogs.shown[1].prompt, "Interrompere?");
}

TEST_F(ControllerTest, YesStopsTheTimerShowsTheSummaryAndStillMakesALastAttempt) {
  Hold();
  Press();
  for (int k = 1; k <= 40; ++k) Tick();
  Tick();  // Yes (the fake's default answer to a Yes/No box)
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].prompt,
            "Elenco file NON aggiornati: Dossaro.zip\r\n\r\nAggiornamento interrotto!");
  EXPECT_EQ(dialogs.shown[1].style, 48);
  EXPECT_EQ(dialogs.shown[1].title, std::optional<std::string>("Aggiornamento"));
  EXPECT_FALSE(window->timer_on);
  EXPECT_EQ(window->caption, "41");
  // Idle again: a press starts a fresh run from 0, and its failure arms the timer.
  EXPECT_FALSE(Press());
  EXPECT_EQ(form->AttemptCount, 0);
  EXPECT_TRUE(window->timer_on);
  EXPECT_FALSE(Tick());
  EXPECT_EQ(window->caption, "1") << "counted from 0 again";
  Release();
  EXPECT_TRUE(Tick());
}

TEST_F(ControllerTest, YesWhoseLastAttemptCompletesEndsTheProcess) {
  Hold();
  Press();
  for (int k = 1; k <= 40; ++k) Tick();
  Release();
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Prompts().back(), "Aggiornamento terminato!");
  EXPECT_FALSE(window->timer_on);
}

TEST_F(ControllerTest, PressWhileRetryingRestartsCountAndTablesButNotTheTimer) {
  res.strings[100] = "2";
  res.strings[102] = "b.zip|<APPPATH>Tessiro/|N|";
  res.payloads[102] = "b";
  fs.fail_writes["C:\\K\\Tessiro\\b.zip"] = kErrPermissionDenied;
  Press();
  Tick();
  Tick();
  EXPECT_EQ(form->tables.ItemState[0][0], "X");
  fs.writes.clear();
  EXPECT_FALSE(Press());
  EXPECT_EQ(fs.writes.front(), kTarget) << "every item is attempted again";
  EXPECT_EQ(form->AttemptCount, 0);
  EXPECT_EQ(window->caption, "2") << "the caption keeps its number until the next tick";
  EXPECT_TRUE(window->timer_on);
  Tick();
  EXPECT_EQ(window->caption, "1");
}

TEST_F(ControllerTest, PressWhileRetryingWhosePassCompletesEndsTheProcess) {
  Hold();
  Press();
  Tick();
  Release();
  EXPECT_TRUE(Press());
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Aggiornamento terminato!"});
}

TEST_F(ControllerTest, FailingPressShowsTheErrorAndLeavesTheTimerAsItWas) {
  res.strings[100] = "0";
  EXPECT_FALSE(Press());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].prompt,
            "Error 9 (Subscript out of range) in procedure cmdAvviaConTimer_Click of Form Form1");
  EXPECT_EQ(dialogs.shown[0].style, 0);
  EXPECT_FALSE(dialogs.shown[0].title.has_value()) << "the application title stands in";
  EXPECT_FALSE(window->timer_on);

  res.strings[100] = "1";
  Hold();
  Press();
  res.strings.erase(100);
  EXPECT_FALSE(Press());
  EXPECT_EQ(dialogs.shown.back().prompt,
            "Error 326 (Resource with identifier '100' not found) in procedure cmdAvviaConTimer_Click of Form Form1");
  EXPECT_TRUE(window->timer_on);
  EXPECT_EQ(form->tables.LastIndex, 0) << "the tables of the run stay usable";
  Tick();
  EXPECT_EQ(window->caption, "1");
}

// A payload that does not match its recorded checksum: the press reports it
// as its own failure, writes nothing and arms no retry; a press once the
// package is whole again deploys it.
TEST_F(ControllerTest, ADamagedPackageIsReportedByThePressAndWritesNothing) {
  res.checksums[101] = "not the checksum";  // 16 bytes, not zip's
  fs.files[kTarget] = "old";
  EXPECT_FALSE(Press());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].prompt,
            "Error 31037 (The package is damaged: resource 101 (Dossaro.zip) does not match its checksum; "
            "download the updater again) in procedure cmdAvviaConTimer_Click of Form Form1");
  EXPECT_FALSE(dialogs.shown[0].title.has_value());
  EXPECT_FALSE(window->timer_on) << "no retry can mend a damaged package";
  EXPECT_EQ(fs.files[kTarget], "old");
  EXPECT_FALSE(Press()) << "a new press checks again";
  EXPECT_EQ(dialogs.shown.size(), 2u);
  res.checksums[101] = RecordedChecksum("zip");
  EXPECT_TRUE(Press());
  EXPECT_EQ(fs.files[kTarget], "zip");
}

TEST_F(ControllerTest, TickErrorOutsideThePassCountsSilently) {
  Hold();
  Press();
  for (int k = 1; k <= 40; ++k) Tick();
  dialogs.message_answers = {-1};
  dialogs.while_open = [] { throw RunError::Of(kErrOutOfMemory); };  // the question itself fails
  EXPECT_FALSE(Tick());
  EXPECT_EQ(window->caption, "41");
  EXPECT_EQ(dialogs.yields, 41);
}

TEST_F(ControllerTest, EventsDuringAPassOrAQuestionNeverStartAnotherPass) {
  Hold();
  Press();
  for (int k = 1; k <= 40; ++k) Tick();
  std::size_t writes_in_question = 0;
  dialogs.message_answers = {platform::kResultNo};
  dialogs.while_open = [&] {
    const auto before = fs.writes.size();
    form->Timer_Timer();  // a tick while the question is open: dropped
    writes_in_question = fs.writes.size() - before;
  };
  Tick();
  EXPECT_EQ(writes_in_question, 0u);
  EXPECT_EQ(dialogs.shown.size(), 1u) << "no second question";

  // A prompt of the pass: neither a tick nor a press may start a pass. While
  // the prompt is open the product's file appears, so a nested pass would
  // find the folder and write.
  fs.files.erase("C:\\K\\Tessiro\\Tessiro.exe");
  dialogs.input_answers = {""};
  int nested = 0;
  dialogs.while_open = [&] {
    fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "";
    const auto before = fs.writes.size();
    const auto reads = res.string_reads.size();
    form->Timer_Timer();
    form->cmdAvviaConTimer_Click();
    nested += static_cast<int>(fs.writes.size() - before + res.string_reads.size() - reads);
  };
  Release();
  Press();
  EXPECT_EQ(nested, 0);
  EXPECT_EQ(form->AttemptCount, 0);
}

struct SummaryCase {
  std::vector<std::pair<std::string, bool>> items;  // name, done
  const char* text;
};

class SummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SummaryTest, ListsFollowTheirLayoutRules) {
  deploy::ItemTables t;
  const auto& items = GetParam().items;
  t.LastIndex = static_cast<int32_t>(items.size()) - 1;
  t.FileName.resize(items.size());
  t.ItemState.resize(items.size());
  for (std::size_t j = 0; j < items.size(); ++j) {
    t.FileName[j] = items[j].first;
    t.ItemState[j][0] = items[j].second ? "X" : "N";
  }
  EXPECT_EQ(AbandonMessage(t), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SummaryTest,
    ::testing::Values(
        SummaryCase{{{"a", true}, {"b", false}, {"c", false}},
                    "Elenco file aggiornati: a\r\n\r\nElenco file NON aggiornati: b, c\r\n\r\n"
                    "Aggiornamento interrotto!"},
        SummaryCase{{{"a", true}, {"b", true}},
                    "Elenco file aggiornati: a, b\r\n\r\nAggiornamento interrotto!"},
        SummaryCase{{{"", false}, {"", false}}, "Aggiornamento interrotto!"},
        // Unreached items have no name: leading ones leave no trace, later ones leave separators.
        SummaryCase{{{"", false}, {"b", false}, {"", false}, {"", false}},
                    "Elenco file NON aggiornati: b, , \r\n\r\nAggiornamento interrotto!"},
        SummaryCase{{{"a", false}, {"", false}, {"c", false}},
                    "Elenco file NON aggiornati: a, , c\r\n\r\nAggiornamento interrotto!"}));

}  // namespace
}  // namespace ttu::app
