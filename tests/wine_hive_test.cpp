// The hive reader and the registry functions over Wine's text format.
#include "platform/linux/wine/hive.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include "platform/linux/wine/registry.h"
#include "tests/registry_fakes.h"

namespace ttu::platform {
namespace {

using test::TempPrefix;
using namespace std::string_literals;

std::vector<uint8_t> Utf16(const std::u16string& s) {
  std::vector<uint8_t> b;
  for (char16_t c : s) b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
  return b;
}

TEST(WineHive, ReadsEveryValueFormAndEscape) {
  const auto h = Hive::Parse(TempPrefix::Header("Machine", false) + R"([Software\\A\\B c] 1796681850
#time=1dd8698c005c0da
@="default"
"Quote \"q\""="a\\b\"c\n\t\x20ac\101"
"Exp"=str(2):"%SystemRoot%"
"Multi"=str(7):"a\0b\0"
"D"=dword:0000002a
"Bin"=hex:01,02,\
  03,04,\
  05
"Typed"=hex(2):25,00,41,00,00,00
"Big"=hex(100000):ff
"broken=
"Bad"=dword:xyz
[Software\\Escaped\\\]Key]
"v"=""
)");
  const HiveKey* k = h.Find("SOFTWARE\\A\\B C");
  ASSERT_NE(k, nullptr);
  ASSERT_NE(h.Find("SOFTWARE\\A"), nullptr) << "ancestors exist";
  EXPECT_EQ(k->Find("")->data, Utf16(u"default\0"s));
  const HiveValue* q = k->Find("QUOTE \"Q\"");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->type, 1u);
  EXPECT_EQ(q->data, Utf16(u"a\\b\"c\n\t\u20acA\0"s));
  EXPECT_EQ(k->Find("EXP")->type, 2u);
  EXPECT_EQ(k->Find("MULTI")->data, Utf16(u"a\0b\0\0"s));
  EXPECT_EQ(k->Find("D")->type, 4u);
  EXPECT_EQ(k->Find("D")->data, (std::vector<uint8_t>{42, 0, 0, 0}));
  EXPECT_EQ(k->Find("BIN")->type, 3u);
  EXPECT_EQ(k->Find("BIN")->data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(k->Find("TYPED")->type, 2u);
  EXPECT_EQ(k->Find("BIG")->type, 0x100000u);
  EXPECT_EQ(k->Find("BAD"), nullptr);
  EXPECT_NE(h.Find("SOFTWARE\\ESCAPED\\]KEY"), nullptr);
  EXPECT_FALSE(h.win64());
}

TEST(WineHive, GarbageNeverCrashesAndWithoutTheHeaderIsEmpty) {
  static constexpr char kNulText[] = "WINE REGISTRY Version 2\n[a]\n\"\0\"=str(";
  const std::string kEmbeddedNul(kNulText, sizeof kNulText - 1);
  EXPECT_EQ(Hive::Parse("REGEDIT4\n[Software\\\\A]\n\"a\"=\"b\"\n").key_count(), 1u);
  const std::string junk[] = {"WINE REGISTRY Version 2\n[", "WINE REGISTRY Version 2\n[a\\",
                              "WINE REGISTRY Version 2\n[a]\n\"x\"=hex:0,\\", "WINE REGISTRY Version 2\n\"a\"=\"b\"\n",
                              kEmbeddedNul};
  for (const auto& j : junk) EXPECT_GE(Hive::Parse(j).key_count(), 1u);
}

class WineRegistryTest : public ::testing::Test {
 protected:
  WineRegistryTest() : reg(prefix.path()) {}
  void TearDown() override { EXPECT_EQ(reg.open_handles(), 0u); }
  // Opens a path from a root and reads a value; "" when anything fails.
  std::string Value(HKEY32 root, const std::string& sub, const std::string& name) {
    HKEY32 h = 0;
    if (reg.RegOpenKeyExA(root, sub, 0, kKeyRead, &h) != 0) return "<no key>";
    uint32_t type = 0, size = 0;
    std::string out = "<no value>";
    if (reg.RegQueryValueExA(h, name, nullptr, &type, nullptr, &size) == 0) {
      out.assign(size, '\0');
      reg.RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<uint8_t*>(out.data()), &size);
    }
    reg.RegCloseKey(h);
    return out;
  }
  TempPrefix prefix;
  WineRegistry reg;
};

TEST_F(WineRegistryTest, AbsentPrefixIsAnEmptyRegistry) {
  WineRegistry none(prefix / "missing");
  HKEY32 h = 0;
  EXPECT_EQ(none.RegOpenKeyExA(kHkeyLocalMachine, "Software", 0, kKeyRead, &h), 2);
  ASSERT_EQ(none.RegOpenKeyExA(kHkeyLocalMachine, "", 0, kKeyRead, &h), 0);
  EXPECT_EQ(none.RegCloseKey(h), 0);
  EXPECT_EQ(none.RegCloseKey(h), 6) << "a closed handle is gone";
  EXPECT_EQ(none.open_handles(), 0u);
}

TEST_F(WineRegistryTest, QueriesFollowTheAnsiConventions) {
  prefix.WriteSystem("[Software\\\\K]\n\"S\"=\"caf\\xe9 \\x4e2d\"\n");
  HKEY32 h = 0;
  ASSERT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "software\\k", 0, kKeyRead, &h), 0);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(reg.RegQueryValueExA(h, "s", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(size, 7u);  // "café ?" and the NUL, one byte each
  uint8_t small[3];
  uint32_t small_size = sizeof small;
  EXPECT_EQ(reg.RegQueryValueExA(h, "s", nullptr, &type, small, &small_size), 234);
  EXPECT_EQ(small_size, 7u);
  std::string buf(7, ' ');
  EXPECT_EQ(reg.RegQueryValueExA(h, "S", nullptr, &type, reinterpret_cast<uint8_t*>(buf.data()), &size), 0);
  EXPECT_EQ(buf, std::string("caf\xE9 ?\0", 7));
  EXPECT_EQ(reg.RegQueryValueExA(h, "missing", nullptr, &type, nullptr, &size), 2);
  EXPECT_EQ(reg.RegCloseKey(h), 0);
  // Best fit where the code page lacks a character; one '?' per UTF-16 unit.
  prefix.WriteSystem("[Software\\\\K]\n\"S\"=\"C:\\\\users\\\\\\x141ukasz \\xd83d\\xde00 \\x2264\"\n");
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\K", "S"), std::string("C:\\users\\Lukasz ?? =\0", 21));
  ASSERT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "software\\k", 0, kKeyRead, &h), 0);
  EXPECT_EQ(reg.RegQueryValueExA(0xDEAD, "S", nullptr, &type, nullptr, &size), 6);
  EXPECT_EQ(reg.RegCloseKey(h), 0);
}

TEST_F(WineRegistryTest, RootsMapToTheHiveFiles) {
  prefix.WriteSystem("[Software\\\\Classes\\\\.zip]\n@=\"zipfile\"\n[System\\\\X]\n\"v\"=\"machine\"\n");
  prefix.WriteUser("[Software\\\\Kelmo]\n\"v\"=\"user\"\n");
  EXPECT_EQ(Value(kHkeyClassesRoot, ".zip", ""), std::string("zipfile\0", 8));
  EXPECT_EQ(Value(kHkeyLocalMachine, "System\\X", "v"), std::string("machine\0", 8));
  EXPECT_EQ(Value(kHkeyCurrentUser, "Software\\Kelmo", "v"), std::string("user\0", 5));
  EXPECT_EQ(Value(kHkeyUsers, "Software", "v"), "<no key>");
}

// HKEY_USERS holds the default user's hive and the user's own, under the SID
// that user.reg names; both found in any letter case, nothing else is there.
TEST_F(WineRegistryTest, TheUsersRootHoldsTheDefaultAndTheCurrentUser) {
  prefix.WriteUser("[Software\\\\Kelmo]\n\"v\"=\"user\"\n");
  test::WriteFile(prefix / "userdef.reg", TempPrefix::Header("User\\\\.Default", false) +
                                              "[Control Panel\\\\Desktop]\n\"v\"=\"default\"\n");
  const std::string sid = "S-1-5-21-0-0-0-1000";
  const struct {
    std::string sub, name, value;
  } rows[] = {
      {".DEFAULT\\Control Panel\\Desktop", "v", std::string("default\0", 8)},
      {".default\\control panel\\desktop", "V", std::string("default\0", 8)},
      {sid + "\\Software\\Kelmo", "v", std::string("user\0", 5)},
      {"s-1-5-21-0-0-0-1000\\software\\kelmo", "v", std::string("user\0", 5)},
      {"S-1-5-18\\Software", "v", "<no key>"},
      {"", "v", "<no value>"},
      {"Software", "v", "<no key>"},
  };
  for (const auto& r : rows) EXPECT_EQ(Value(kHkeyUsers, r.sub, r.name), r.value) << r.sub;
}

// A 32-bit program in a 64-bit prefix: Software is seen through Wow6432Node,
// level by level, with no way back to the 64-bit keys.
TEST_F(WineRegistryTest, ThirtyTwoBitViewOfASixtyFourBitPrefix) {
  const std::string body =
      "[Software\\\\Wow6432Node\\\\Kelmo\\\\Installazione]\n\"strPath\"=\"C:\\\\x86\"\n\"only32\"=\"yes\"\n"
      "[Software\\\\Kelmo\\\\Installazione]\n\"strPath\"=\"C:\\\\native\"\n\"only64\"=\"yes\"\n"
      "[Software\\\\Kelmo\\\\Solo64]\n\"v\"=\"64\"\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n\"ProgramFilesDir\"=\"C:\\\\PF\"\n"
      "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n\"ProgramFilesDir\"=\"C:\\\\PF86\"\n";
  prefix.WriteSystem(body, true);
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Kelmo\\Installazione", "strPath"), std::string("C:\\x86\0", 7));
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"),
            std::string("C:\\PF86\0", 8));
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Kelmo\\Solo64", "v"), "<no key>");  // no fallback
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Kelmo\\Installazione", "only64"), "<no value>");
  // Level by level, as the registry module walks, gives the same view.
  HKEY32 sw = 0, kelmo = 0, inst = 0;
  ASSERT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "Software", 0, kKeyRead, &sw), 0);
  ASSERT_EQ(reg.RegOpenKeyExA(sw, "Kelmo", 0, kKeyRead, &kelmo), 0);
  ASSERT_EQ(reg.RegOpenKeyExA(kelmo, "Installazione", 0, kKeyRead, &inst), 0);
  uint32_t size = 0;
  EXPECT_EQ(reg.RegQueryValueExA(inst, "only32", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(reg.RegQueryValueExA(inst, "only64", nullptr, nullptr, nullptr, &size), 2);
  for (HKEY32 h : {sw, kelmo, inst}) reg.RegCloseKey(h);
  // Wow6432Node named in one call is found, as Wine finds it; level by level
  // it is looked for inside the 32-bit key, which has none.
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Wow6432Node\\Kelmo\\Installazione", "strPath"),
            std::string("C:\\x86\0", 7));
  ASSERT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "Software", 0, kKeyRead, &sw), 0);
  EXPECT_EQ(reg.RegOpenKeyExA(sw, "Wow6432Node", 0, kKeyRead, &kelmo), 2);
  reg.RegCloseKey(sw);
  // A 32-bit prefix has no such view; nor has a 64-bit one that a Wine without
  // its 32-bit part made (Wow6432Node's CurrentVersion holds only sub-keys).
  prefix.WriteSystem(body, false);
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Kelmo\\Installazione", "strPath"),
            std::string("C:\\native\0", 10));
  prefix.WriteSystem("[Software\\\\Kelmo\\\\Installazione]\n\"strPath\"=\"C:\\\\native\"\n"
                     "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths]\n",
                     true);
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Kelmo\\Installazione", "strPath"),
            std::string("C:\\native\0", 10));
}

// Links (#link with SymbolicLinkValue), which Wine uses for keys that both
// views share; letter case folded beyond Latin-1.
TEST_F(WineRegistryTest, LinksAreFollowedAndNamesMatchInAnyCase) {
  auto link_to = [](const std::u16string& target) {
    std::string hex;
    char b[8];
    for (char16_t c : target) {
      std::snprintf(b, sizeof b, "%02x,%02x,", c & 0xFF, c >> 8);
      hex += b;
    }
    hex.pop_back();
    return "#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n";
  };
  prefix.WriteSystem("[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n"
                     "\"ProgramFilesDir\"=\"C:\\\\Program Files (x86)\"\n"
                     "[Software\\\\Wow6432Node\\\\Shared]\n" + link_to(u"\\Registry\\Machine\\Software\\Shared") +
                     "[Software\\\\Shared\\\\Kelmo]\n\"v\"=\"shared\"\n"
                     "[Software\\\\Wow6432Node\\\\Loop]\n" +
                     link_to(u"\\Registry\\Machine\\Software\\Wow6432Node\\Loop") +
                     "[Software\\\\Wow6432Node\\\\ToUser]\n" +
                     link_to(u"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1000\\Software\\Kelmo") +
                     "[Software\\\\Wow6432Node\\\\\\x160ociet\\xe0 \\x152uvre \\x178]\n\"\\x161\\xff\"=\"x\"\n",
                     true);
  prefix.WriteUser("[Software\\\\Kelmo]\n\"v\"=\"user\"\n");
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Shared\\Kelmo", "v"), std::string("shared\0", 7));
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\Loop", "v"), "<no key>");
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\ToUser", "v"), std::string("user\0", 5));
  // "šOCIETÀ œUVRE ÿ" in the ANSI code page (Windows-1252), value "Šÿ" as "šŸ".
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software\\\x9A" "OCIET\xC0 \x9CUVRE \xFF", "\x8A\x9F"), std::string("x\0", 2));
}

TEST_F(WineRegistryTest, TheHiveIsParsedAgainOnlyWhenItChanges) {
  prefix.WriteSystem("[K]\n\"v\"=\"1\"\n");
  EXPECT_EQ(Value(kHkeyLocalMachine, "K", "v"), std::string("1\0", 2));
  EXPECT_EQ(Value(kHkeyLocalMachine, "K", "v"), std::string("1\0", 2));
  EXPECT_EQ(reg.system_hive().parse_count(), 1);
  prefix.WriteSystem("[K]\n\"v\"=\"22\"\n");
  EXPECT_EQ(Value(kHkeyLocalMachine, "K", "v"), std::string("22\0", 3));
  EXPECT_EQ(reg.system_hive().parse_count(), 2);
  // A handle whose key vanished from the file answers "key deleted".
  HKEY32 h = 0;
  ASSERT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "K", 0, kKeyRead, &h), 0);
  prefix.WriteSystem("[Other]\n");
  uint32_t size = 0;
  EXPECT_EQ(reg.RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size), 1018);
  EXPECT_EQ(reg.RegCloseKey(h), 0);
}

TEST_F(WineRegistryTest, UnreadableHiveIsEmpty) {
  ::mkdir((prefix / "system.reg").c_str(), 0755);  // a folder where the file should be
  EXPECT_EQ(Value(kHkeyLocalMachine, "Software", "x"), "<no key>");
}

}  // namespace
}  // namespace ttu::platform
