// The registry module over a real hive file in a temporary Wine prefix.
#include <gtest/gtest.h>

#include "registry/module2.h"
#include "tests/fakes.h"
#include "tests/registry_fakes.h"

namespace ttu::registry {
namespace {

using test::FakeDialogs;
using test::ScriptedRegistry;
using test::TempPrefix;

constexpr const char* kHive = R"([Software\\Kelmo\\Installazione] 1796681850
#time=1dd8698c005c0da
"strPath"="C:\\Programmi\\Kelmo"
"Empty"=""
"NoData"=hex:
"Multi"=str(7):"uno\0due\0"
"Expand"=str(2):"%ProgramFiles%\\Kelmo"
"Ten"=dword:0000000a
"Max"=dword:ffffffff
"Bin"=hex:01,0a,ff
"Odd"=hex(4):01,02,03
"Accented"="perch\xe8 \x20ac"
@="unnamed"

[Software\\Microsoft\\Windows\\CurrentVersion] 1796681851
"CommonFilesDir"="C:\\Program Files\\Common Files"
"ProgramFilesDir"="C:\\Program Files\\"
)";

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : wine(prefix.path()), api(wine), m(api, dialogs) { prefix.WriteSystem(kHive); }
  void TearDown() override { EXPECT_EQ(wine.open_handles(), 0u) << "a registry handle leaked"; }

  void ExpectError(int32_t code, const std::string& text) {
    EXPECT_EQ(m.RegLastError.Code, code);
    EXPECT_EQ(m.RegLastError.Description, text);
    EXPECT_EQ(m.RegLastError.Source, code ? "GestioneRegistro" : "");
  }
  std::string Read(const std::string& name, const std::string& path = kKelmo) {
    std::string holder = "<untouched>";
    last_result = m.RegReadValue(path, name, holder);
    return holder;
  }
  void OpenAndClose(const std::string& path) {
    const int32_t h = m.RegOpenPath(path, platform::kKeyRead);
    ASSERT_TRUE(h != -1 && h != 0) << path << ": " << m.RegLastError.Description;
    EXPECT_EQ(m.RegCloseHandle(h), 0);
  }

  static constexpr const char* kKelmo = "HKEY_LOCAL_MACHINE\\Software\\Kelmo\\Installazione";
  TempPrefix prefix;
  platform::WineRegistry wine;
  ScriptedRegistry api;
  FakeDialogs dialogs;
  Module2 m;
  int32_t last_result = 99;
};

TEST_F(RegistryTest, PathsWithBlanksAndExtraSeparatorsOpenTheSameKey) {
  OpenAndClose(kKelmo);
  OpenAndClose("  hkey_local_machine \\\\ Software\\ \\Kelmo\\Installazione\\\\ ");
  OpenAndClose("\\HKEY_LOCAL_MACHINE\\SOFTWARE\\kelmo\\INSTALLAZIONE\\");
  EXPECT_EQ(Read("strPath", " HKEY_LOCAL_MACHINE \\\\Software \\ Kelmo\\ Installazione\\"),
            "C:\\Programmi\\Kelmo");
  ExpectError(0, "");
}

TEST_F(RegistryTest, RootNamesAreRecognisedWholeOnly) {
  EXPECT_EQ(m.RegOpenPath("HKLM\\Software", platform::kKeyRead), -1);
  ExpectError(2, "La chiave/valore specificata/o non esiste");
  EXPECT_EQ(api.opens, 0);
  for (const char* root : {"HKEY_CURRENT_USER", "hkey_classes_root", "HKEY_USERS", "HKEY_CURRENT_CONFIG",
                           "HKEY_DYN_DATA", "HKEY_PERFORMANCE_DATA", "HKEY_LOCAL_MACHINE"}) {
    OpenAndClose(root);  // the root alone: a new handle from the empty sub-key name
  }
}

TEST_F(RegistryTest, ThirtyTwoPartsOpenAndThirtyThreeFail) {
  std::string key, path = "HKEY_LOCAL_MACHINE";
  for (int k = 1; k < 32; ++k) key += (k > 1 ? "\\\\" : "") + std::string("k") + std::to_string(k);
  prefix.WriteSystem(std::string(kHive) + "\n[" + key + "]\n\"v\"=\"deep\"\n");
  for (int k = 1; k < 32; ++k) path += "\\k" + std::to_string(k);
  EXPECT_EQ(Read("v", path), "deep");
  const int before = api.opens;
  EXPECT_EQ(m.RegOpenPath(path + "\\k32", platform::kKeyRead), -1);
  ExpectError(100, "Il massimo numero di chiavi previste è stato superato");
  EXPECT_EQ(api.opens, before) << "nothing may be opened";
}

TEST_F(RegistryTest, EmptyPathGivesZeroAndAValueReadThroughItFails) {
  m.SetRegApiError(5);
  EXPECT_EQ(m.RegOpenPath("", platform::kKeyRead), 0);
  ExpectError(0, "");
  EXPECT_EQ(m.RegOpenPath("  \\ \\\\ ", platform::kKeyRead), 0);
  EXPECT_EQ(api.opens, 0);
  EXPECT_EQ(Read("strPath", " \\ "), "<untouched>");
  EXPECT_EQ(last_result, -1);
  ExpectError(6, "Errore non previsto");
}

TEST_F(RegistryTest, MissingOrRefusedLevelsFailAndCloseWhatWasOpened) {
  EXPECT_EQ(m.RegOpenPath("HKEY_LOCAL_MACHINE\\Software\\Kelmo\\Nope", platform::kKeyRead), -1);
  ExpectError(2, "La chiave/valore specificata/o non esiste");
  api.fail_open["Kelmo"] = 5;
  EXPECT_EQ(m.RegOpenPath(kKelmo, platform::kKeyRead), -1);
  ExpectError(5, "Accesso negato al registro");
  api.fail_open["Kelmo"] = 1010;
  EXPECT_EQ(Read("strPath"), "<untouched>");
  EXPECT_EQ(last_result, -1);
  ExpectError(1010, "Il nome della chiave non risulta essere corretto");
  EXPECT_EQ(wine.open_handles(), 0u);
}

TEST_F(RegistryTest, CloseFailureIsRecordedWithoutClearingFirst) {
  EXPECT_EQ(m.RegCloseHandle(12345), -1);
  ExpectError(6, "Errore non previsto");
  api.close_code = 1013;
  EXPECT_EQ(Read("strPath"), "C:\\Programmi\\Kelmo");
  EXPECT_EQ(last_result, 0);  // the read does not show it
  ExpectError(1013, "Non è stato possibile scrivere la chiave specificata");
}

TEST_F(RegistryTest, ValuesAreDecodedByType) {
  EXPECT_EQ(Read("strPath"), "C:\\Programmi\\Kelmo");
  EXPECT_EQ(Read("STRPATH"), "C:\\Programmi\\Kelmo");
  EXPECT_EQ(Read("Empty"), "");
  EXPECT_EQ(Read("Multi"), std::string("uno\0due\0", 8));
  EXPECT_EQ(Read("Expand"), "%ProgramFiles%\\Kelmo");
  EXPECT_EQ(Read("Ten"), "0000000A");
  EXPECT_EQ(Read("Max"), "FFFFFFFF");
  EXPECT_EQ(Read("Bin"), "1 A FF");
  EXPECT_EQ(Read("Accented"), "perch\xC3\xA8 \xE2\x82\xAC");  // through Windows-1252 and back
  EXPECT_EQ(Read(""), "unnamed");
  EXPECT_EQ(last_result, 0);
  ExpectError(0, "");
}

TEST_F(RegistryTest, ZeroLengthValueSucceedsAndLeavesTheHolder) {
  EXPECT_EQ(Read("NoData"), "<untouched>");
  EXPECT_EQ(last_result, 0);
  ExpectError(0, "");
}

TEST_F(RegistryTest, MissingValueFailsWithCodeTwoAndTheKeyIsClosed) {
  EXPECT_EQ(Read("nope"), "<untouched>");
  EXPECT_EQ(last_result, -1);
  ExpectError(2, "La chiave/valore specificata/o non esiste");
  EXPECT_EQ(api.closes, api.opens);
}

TEST_F(RegistryTest, QueryCodesOtherThanTheAcceptedOnesFail) {
  api.query_codes = {234};  // the size query may answer "more data"
  EXPECT_EQ(Read("strPath"), "C:\\Programmi\\Kelmo");
  api.query_codes = {1012};
  EXPECT_EQ(Read("strPath"), "<untouched>");
  ExpectError(1012, "Non è stato possibile leggere la chiave specificata");
  api.query_codes = {0, 234};  // the data query may not
  EXPECT_EQ(Read("strPath"), "<untouched>");
  EXPECT_EQ(last_result, -1);
  ExpectError(234, "Errore non previsto");
}

TEST_F(RegistryTest, DecodingFailurePassesToTheCallerWithTheKeyClosed) {
  std::string holder = "h";
  try {
    m.RegReadValue(kKelmo, "Odd", holder);
    FAIL() << "odd-length double word decoded";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrSubscript);
  }
  EXPECT_EQ(holder, "h");
  EXPECT_EQ(wine.open_handles(), 0u);
}

TEST(RegistryErrorTexts, TablesAndTheirFallbacks) {
  FakeDialogs d;
  TempPrefix p;
  platform::WineRegistry w(p.path());
  Module2 m(w, d);
  const std::pair<int32_t, const char*> api_texts[] = {
      {2, "La chiave/valore specificata/o non esiste"}, {5, "Accesso negato al registro"},
      {14, "Out of memory"}, {87, "Parametro non valido"},
      {1009, "Il database del registro risulta essere danneggiato"},
      {1011, "Non è stato possibile aprire la chiave specificata"},
      {6, "Errore non previsto"}, {0, "Errore non previsto"}, {-5, "Errore non previsto"}};
  for (const auto& [code, text] : api_texts) {
    m.SetRegApiError(code);
    EXPECT_EQ(m.RegLastError.Code, code);
    EXPECT_EQ(m.RegLastError.Description, text);
    EXPECT_EQ(m.RegLastError.Source, "GestioneRegistro");
  }
  m.SetRegInternalError(200);
  EXPECT_EQ(m.RegLastError.Description, "Il tipo dichiarato non corrisponde al valore passato come parametro");
  m.SetRegInternalError(300);
  EXPECT_EQ(m.RegLastError.Description, "Il tipo passato come parametro non risulta essere valido");
  m.SetRegInternalError(2);
  EXPECT_EQ(m.RegLastError.Description, "Errore imprevisto");
  m.ResetRegError();
  EXPECT_EQ(m.RegLastError.Code, 0);
  EXPECT_EQ(m.RegLastError.Source + m.RegLastError.Description, "");
}

TEST(ErrorReport, ShowsTheFailureBeingHandledInItsLayout) {
  FakeDialogs d;
  TempPrefix p;
  platform::WineRegistry w(p.path());
  Module2 m(w, d);
  m.SetRegApiError(5);
  m.ShowErrorReport(RunError(-2147217900, "Descrizione", "Origine"), std::string("ModReg - X:"));
  m.ShowErrorReport(RunError(9, ""));
  ASSERT_EQ(d.shown.size(), 2u);
  EXPECT_EQ(d.shown[0].prompt, "ModReg - X:. ErrorLine:0.  -2147217900 - Descrizione; ID : Origine");
  EXPECT_EQ(d.shown[0].style, 16);
  EXPECT_EQ(d.shown[0].title, std::optional<std::string>(""));
  EXPECT_EQ(d.shown[1].prompt, ". ErrorLine:0.  9 - ; ID : TessiroTinyUpdater");
  EXPECT_EQ(d.pointer_resets, 2);
  EXPECT_EQ(m.RegLastError.Code, 5) << "the report leaves the record alone";
}

TEST_F(RegistryTest, LookupsReadTheirValuesAndTurnFailuresIntoEmptyText) {
  EXPECT_EQ(m.RetrieveProgramFilesKelmoPath(), "C:\\Programmi\\Kelmo");
  EXPECT_EQ(m.RetrieveCommonPath(), "C:\\Program Files\\Common Files");
  EXPECT_EQ(m.RetrieveProgramFilesPath(), "C:\\Program Files\\");
  prefix.WriteSystem("[Software\\\\Other]\n\"a\"=\"b\"\n");
  EXPECT_EQ(m.RetrieveProgramFilesKelmoPath(), "");  // read afresh: the key is gone
  EXPECT_EQ(m.RetrieveCommonPath(), "");
  EXPECT_TRUE(dialogs.shown.empty()) << "absent values are not reported";
}

// Each lookup reports a failure raised during its read under its own caption.
TEST_F(RegistryTest, LookupReportsAFailureRaisedDuringTheRead) {
  prefix.WriteSystem(
      "[Software\\\\Kelmo\\\\Installazione]\n\"strPath\"=hex(4):01,02,03\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n\"CommonFilesDir\"=hex(4):01\n"
      "\"ProgramFilesDir\"=hex(4):01,02,03,04,05\n");
  EXPECT_EQ(m.RetrieveProgramFilesKelmoPath(), "");
  EXPECT_EQ(m.RetrieveCommonPath(), "");
  EXPECT_EQ(m.RetrieveProgramFilesPath(), "");
  ASSERT_EQ(dialogs.shown.size(), 3u);
  const char* captions[] = {"RetrieveProgramFilesKelmoPath", "RetrieveCommonPath", "RetrieveProgramFilesPath"};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(dialogs.shown[k].prompt, std::string("ModReg - ") + captions[k] +
                                           ":. ErrorLine:0.  9 - Subscript out of range; ID : TessiroTinyUpdater");
  }
  EXPECT_EQ(dialogs.pointer_resets, 3);
}

}  // namespace
}  // namespace ttu::registry
