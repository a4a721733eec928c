#include "deploy/target_resolution.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace ttu::deploy {
namespace {

using test::FakeDialogs;
using test::FakeFileSystem;
using test::FakeLocations;

constexpr const char* kTessiroPrompt = "Specificare il percorso in cui è stato installato Tessiro";
constexpr const char* kBrenviaPrompt =
    "Specificare il percorso in cui sono presenti i file del programma Brenvia";
constexpr const char* kCommonPrompt =
    "Specificare il percorso in cui sono presenti i file comuni Kelmo nel sistema.";

class ResolveTest : public ::testing::Test {
 protected:
  std::string Resolve(const std::string& t) { return resolver.GeneraPathDll(t); }
  void ExpectOneMessage(const std::string& text) {
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "message");
    EXPECT_EQ(dialogs.shown[0].prompt, text);
    EXPECT_EQ(dialogs.shown[0].style, 16);
    EXPECT_EQ(dialogs.shown[0].title, std::optional<std::string>("Attenzione"));
  }
  FakeLocations loc;
  FakeFileSystem fs;
  FakeDialogs dialogs;
  TargetResolver resolver{loc, fs, dialogs};
};

TEST_F(ResolveTest, MakerFolderWithTheProbeFileResolvesWithoutAPrompt) {
  loc.kelmo = "C:\\K";
  fs.files["C:\\K\\Tessiro\\Tessiro.exe"] = "";
  EXPECT_EQ(Resolve("<APPPATH>Tessiro\\"), "C:\\K\\Tessiro\\");
  EXPECT_EQ(loc.kelmo_calls, 2) << "found once, then taken from a second lookup";
  EXPECT_EQ(loc.program_files_calls, 0);
  EXPECT_TRUE(dialogs.shown.empty());
  loc.kelmo = "C:\\K\\";  // no second separator
  EXPECT_EQ(Resolve("<apppath>tessiro\\"), "C:\\K\\Tessiro\\");  // any letter case
  EXPECT_EQ(Resolve("<APPPATH>Tessiro"), "C:\\K\\Tessiro\\");  // no separator: the folder itself
}

TEST_F(ResolveTest, ProgramFilesFallbackAndItsPromptWithTheCandidateAsDefault) {
  loc.program_files = "C:\\P";
  dialogs.input_answers = {""};
  EXPECT_EQ(Resolve("<APPPATH>Tessiro\\"), "");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].kind, "input");
  EXPECT_EQ(dialogs.shown[0].prompt, kTessiroPrompt);
  EXPECT_EQ(dialogs.shown[0].title, std::optional<std::string>("Setup"));
  EXPECT_EQ(dialogs.shown[0].default_text, "C:\\P\\Kelmo\\Tessiro\\");
  EXPECT_EQ(fs.probes, std::vector<std::string>{"C:\\P\\Kelmo\\Tessiro\\Tessiro.exe"});
}

TEST_F(ResolveTest, EmptyRegistryGivesRootedCandidates) {
  dialogs.input_answers = {"", ""};
  Resolve("<APPPATH>Brenvia\\");
  Resolve("<COMMONPATH>Kelmo\\");
  EXPECT_EQ(fs.probes, (std::vector<std::string>{"\\Kelmo\\Brenvia\\Brenvia.exe", "\\Kelmo\\Zelmora.dll"}));
  EXPECT_EQ(dialogs.shown[0].prompt, kBrenviaPrompt);
  EXPECT_EQ(dialogs.shown[1].prompt, kCommonPrompt);
}

TEST_F(ResolveTest, PromptLoopsUntilTheProbeFileIsFound) {
  loc.kelmo = "C:\\K";
  fs.files["D:\\Altro\\Tessiro.exe"] = "";
  fs.files["D:\\Prodotti\\Tessiro\\Tessiro.exe"] = "";
  // The default unchanged, then a folder holding only the product's subfolder
  // (the word is not appended to a typed folder), then the right one without "\".
  dialogs.input_answers = {"C:\\K\\Tessiro\\", "D:\\Prodotti", "D:\\Altro"};
  EXPECT_EQ(Resolve("<APPPATH>Tessiro\\sub\\"), "D:\\Altro\\sub\\");
  ASSERT_EQ(dialogs.shown.size(), 3u);
  EXPECT_EQ(dialogs.shown[1].default_text, "C:\\K\\Tessiro\\");
  EXPECT_EQ(dialogs.shown[2].default_text, "D:\\Prodotti\\");
  EXPECT_EQ(fs.probes.back(), "D:\\Altro\\Tessiro.exe");
}

TEST_F(ResolveTest, PrefixReplacementTakesTheTemplateAsWritten) {
  loc.kelmo = "C:\\K";
  fs.files["C:\\K\\Brenvia\\Brenvia.exe"] = "";
  fs.files["C:\\C\\Kelmo\\Zelmora.dll"] = "";
  loc.common = "C:\\C";
  EXPECT_EQ(Resolve("<APPPATH>Brenvia\\x\\y\\"), "C:\\K\\Brenvia\\x\\y\\");
  // The letter after the word goes with the prefix.
  EXPECT_EQ(Resolve("<APPPATH>BrenviaPlus\\"), "C:\\K\\Brenvia\\lus\\");
  EXPECT_EQ(Resolve("<COMMONPATH>ABCDE\\lib\\"), "C:\\C\\Kelmo\\lib\\");
  // Every occurrence of the prefix is replaced.
  EXPECT_EQ(Resolve("<APPPATH>Brenvia\\<APPPATH>Brenvia\\"), "C:\\K\\Brenvia\\C:\\K\\Brenvia\\");
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ResolveTest, UnhandledTemplatesAreReportedAfterTheRootLookup) {
  EXPECT_EQ(Resolve("<APPPATH>Zelmo\\"), "");
  ExpectOneMessage("TargetDir non gestita! (<APPPATH>Zelmo\\)");
  EXPECT_EQ(loc.kelmo_calls, 1) << "the root is formed before the word is examined";
  EXPECT_EQ(loc.program_files_calls, 1);
  dialogs.shown.clear();
  EXPECT_EQ(Resolve("<commonpath>Kelmo\\"), "");
  ExpectOneMessage("TargetDir non gestita! (<commonpath>Kelmo\\)");
  dialogs.shown.clear();
  EXPECT_EQ(Resolve("C:\\Kelmo\\"), "");
  ExpectOneMessage("TargetDir non gestita! (C:\\Kelmo\\)");
  EXPECT_TRUE(fs.probes.empty());
}

TEST_F(ResolveTest, AFailureInAStepIsReportedAndGivesTheEmptyText) {
  loc.kelmo = "C:\\K";
  dialogs.input_answers = {"C:\\bad*"};
  EXPECT_EQ(Resolve("<APPPATH>Tessiro\\"), "");
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].prompt,
            "ERRORE -> TargetDir non gestita! (<APPPATH>Tessiro\\)\r\nError 52 (Bad file name or "
            "number) in procedure GeneraPathDll");
  EXPECT_EQ(dialogs.shown[1].style, 16);
  EXPECT_EQ(dialogs.shown[1].title, std::optional<std::string>("Attenzione"));
}

}  // namespace
}  // namespace ttu::deploy
