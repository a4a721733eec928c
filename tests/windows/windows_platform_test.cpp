// The Windows platform layer on the real services (run under Wine here).
#include "platform/windows/windows_api.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/windows/wide.h"
#include "platform/registry_api.h"
#include "platform/resources.h"
#include "registry/module2.h"
#include "tests/fakes.h"

namespace ttu::platform {
namespace {

std::string TempFolder() {
  wchar_t buf[MAX_PATH];
  GetTempPathW(MAX_PATH, buf);
  std::wstring dir = std::wstring(buf) + L"ttu-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetTickCount()) + L"\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::string out;
  for (wchar_t c : dir) out += static_cast<char>(c);  // temp paths are ASCII here
  return out;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

Blob Memory(const std::string& s) { return Blob{"", s.data(), 0, s.size(), nullptr}; }

TEST(WindowsResources, StringsAndCustomResourcesOfTheModule) {
  auto& res = OwnResources();
  EXPECT_EQ(res.String(100), "2");
  EXPECT_EQ(res.String(101), "perch\xC3\xA8.txt|<APPPATH>Tessiro/|N|");
  EXPECT_FALSE(res.String(102).has_value());
  const auto blob = res.Data(101, "CUSTOM");
  ASSERT_TRUE(blob.has_value());
  EXPECT_EQ(std::string(static_cast<const char*>(blob->data), blob->size).substr(0, 7), "LIBRARY");
  EXPECT_FALSE(res.Data(102, "CUSTOM").has_value());
}

// The updater reads its own file as tessiro-pack reads it: a copy cut short,
// or whose resource directory is damaged, is a damaged package; the file as
// built is not.
TEST(WindowsResources, AnExecutableCutShortOrWithADamagedDirectoryIsDamaged) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::string whole = Read(Narrow(self));
  ASSERT_GT(whole.size(), 8192u);
  EXPECT_FALSE(OwnResources().Damage().has_value()) << *OwnResources().Damage();
  const std::string dir = TempFolder();
  std::string no_resources_root = whole;  // the resource directory's RVA pointed nowhere
  const uint32_t pe = static_cast<uint8_t>(whole[60]) | static_cast<uint8_t>(whole[61]) << 8;
  const bool plus = static_cast<uint8_t>(whole[pe + 24]) == 0x0B && whole[pe + 25] == 2;
  const std::size_t resource_dir = pe + 24 + (plus ? 112 : 96) + 8 * 2;
  for (int k = 0; k < 4; ++k) no_resources_root[resource_dir + k] = '\x7F';
  const struct {
    const char* what;
    std::string bytes;
    const char* damage;  // what Damage() says, or "" for none
  } rows[] = {
      {"as built", whole, ""},
      {"cut in half", whole.substr(0, whole.size() / 2), "cut short or its headers are damaged"},
      {"cut in its headers", whole.substr(0, 200), "cut short or its headers are damaged"},
      {"its resource directory nowhere", no_resources_root, "its resource directory is damaged"},
  };
  for (const auto& r : rows) {
    const std::string path = dir + "copy.exe";
    Write(path, r.bytes);
    const auto damage = ResourcesOfFile(path)->Damage();
    if (*r.damage) {
      EXPECT_NE(damage.value_or("").find(r.damage), std::string::npos) << r.what << ": " << damage.value_or("none");
    } else {
      EXPECT_FALSE(damage.has_value()) << r.what << ": " << *damage;
    }
    DeleteFileW(Widen(path).c_str());
  }
  RemoveDirectoryW(Widen(dir).c_str());
}

TEST(WindowsRegistry, ModuleReadsRealKeysAndRecordsTheirErrors) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TessiroUnitTest\\Installazione", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char path[] = "C:\\Programmi\\Kelmo";
  RegSetValueExA(key, "strPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
  const DWORD ten = 10;
  RegSetValueExA(key, "Ten", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ten), sizeof ten);
  RegCloseKey(key);
  test::FakeDialogs dialogs;
  registry::Module2 m(NativeRegistry(), dialogs);
  std::string holder;
  EXPECT_EQ(m.RegReadValue(" hkey_current_user\\Software\\\\TessiroUnitTest\\Installazione ", "STRPATH", holder), 0);
  EXPECT_EQ(holder, path);
  EXPECT_EQ(m.RegReadValue("HKEY_CURRENT_USER\\Software\\TessiroUnitTest\\Installazione", "Ten", holder), 0);
  EXPECT_EQ(holder, "0000000A");
  EXPECT_EQ(m.RegReadValue("HKEY_CURRENT_USER\\Software\\TessiroUnitTest\\Nope", "x", holder), -1);
  EXPECT_EQ(m.RegLastError.Code, 2);
  EXPECT_EQ(m.RegLastError.Description, "La chiave/valore specificata/o non esiste");
  EXPECT_EQ(m.RegOpenPath("HKLM\\Software", kKeyRead), -1);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TessiroUnitTest\\Installazione");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TessiroUnitTest");
}

TEST(WindowsFiles, ExistenceCountsVisibleFilesOnly) {
  const std::string dir = TempFolder();
  Write(dir + "Tessiro.exe", "MZ");
  Write(dir + "hidden.exe", "MZ");
  SetFileAttributesA((dir + "hidden.exe").c_str(), FILE_ATTRIBUTE_HIDDEN);
  auto& fs = NativeFileSystem();
  EXPECT_TRUE(fs.FileExists(dir + "Tessiro.exe"));
  EXPECT_TRUE(fs.FileExists(dir + "TESSIRO.EXE"));
  EXPECT_FALSE(fs.FileExists(dir + "hidden.exe"));
  EXPECT_FALSE(fs.FileExists(dir.substr(0, dir.size() - 1)));  // the folder itself
  EXPECT_FALSE(fs.FileExists(dir + "missing.exe"));
  // A listing: wildcards match, in the name; in a folder name nothing matches.
  EXPECT_TRUE(fs.FileExists(dir + "tess*.EX?"));
  EXPECT_FALSE(fs.FileExists(dir + "*.dll"));
  EXPECT_FALSE(fs.FileExists(dir + "*\\Tessiro.exe"));
}

TEST(WindowsFiles, ReadOnlyTargetIsNotReplaced) {
  const std::string dir = TempFolder();
  const std::string target = dir + "Dossaro.zip";
  Write(target, "old");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  auto& fs = NativeFileSystem();
  EXPECT_EQ(test::RunErrorNumberOf([&] { fs.ReplaceFile(target, Memory("new")); }), kErrPermissionDenied);
  EXPECT_EQ(Read(target), "old");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  fs.ReplaceFile(target, Memory("new"));
  EXPECT_EQ(Read(target), "new");
}

bool TemporaryLeft(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA((dir + ".Dossaro.zip.tessiro-update-*").c_str(), &fd);
  if (f != INVALID_HANDLE_VALUE) FindClose(f);
  return f != INVALID_HANDLE_VALUE;
}

// A staged file is gone, nothing of it left beside the target, when it goes
// uncommitted and when its process is ended while it is staged; committed,
// it is the target. Temporaries a killed run left are removed.
TEST(WindowsFiles, AStagedFileLeavesNothingUnlessCommittedAlsoWhenItsProcessIsEnded) {
  if (const char* target = std::getenv("TTU_STAGE_AND_WAIT")) {  // the process that is ended
    const auto staged = NativeFileSystem().Stage(target, Memory("staged"));
    Write(std::string(target) + ".ready", "");
    Sleep(INFINITE);
  }
  const std::string dir = TempFolder(), target = dir + "Dossaro.zip";
  Write(target, "old");
  auto& fs = NativeFileSystem();
  fs.Stage(target, Memory("new"));
  EXPECT_FALSE(TemporaryLeft(dir));
  EXPECT_EQ(Read(target), "old");

  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=WindowsFiles.AStagedFile*";
  SetEnvironmentVariableA("TTU_STAGE_AND_WAIT", target.c_str());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("TTU_STAGE_AND_WAIT", nullptr);
  ASSERT_TRUE(started);
  for (int k = 0; k < 600 && GetFileAttributesA((target + ".ready").c_str()) == INVALID_FILE_ATTRIBUTES; ++k) Sleep(50);
  EXPECT_TRUE(TemporaryLeft(dir)) << "the other process has its file staged";
  TerminateProcess(pi.hProcess, 1);
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread), CloseHandle(pi.hProcess);
  EXPECT_FALSE(TemporaryLeft(dir));
  EXPECT_EQ(Read(target), "old");

  // What a killed run of another kind left, of any target in the folder, goes with the next staging.
  Write(dir + ".other.dll.tessiro-update-123", "left");
  fs.ReplaceFile(target, Memory("new"));
  EXPECT_EQ(Read(target), "new");
  EXPECT_FALSE(TemporaryLeft(dir));
  EXPECT_EQ(GetFileAttributesA((dir + ".other.dll.tessiro-update-123").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsFiles, ReplacementIsWholeAndRefusedWhileTheFileIsInUse) {
  const std::string dir = TempFolder();
  const std::string target = dir + "Dossaro.zip";
  Write(target, std::string(50000, 'o'));
  auto& fs = NativeFileSystem();
  fs.ReplaceFile(target, Memory("short"));
  EXPECT_EQ(Read(target), "short");
  // Held open without delete sharing, as a running program holds its files.
  HANDLE h = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(test::RunErrorNumberOf([&] { fs.ReplaceFile(target, Memory("new")); }), kErrPermissionDenied);
  CloseHandle(h);
  EXPECT_EQ(Read(target), "short");
  EXPECT_FALSE(TemporaryLeft(dir));
  fs.ReplaceFile(target, Memory("new"));
  EXPECT_EQ(Read(target), "new");
  EXPECT_EQ(test::RunErrorNumberOf([&] { fs.ReplaceFile(dir + "no\\such\\folder\\a.zip", Memory("x")); }),
            kErrPathNotFound);
}

TEST(WindowsLauncher, StartsProgramsAndFailsOnMissingOnes) {
  auto& launcher = NativeLauncher();
  const std::string dir = TempFolder();
  launcher.Launch("cmd.exe /c echo started> \"" + dir + "out.txt\"", kHide);
  for (int k = 0; k < 200 && Read(dir + "out.txt").empty(); ++k) Sleep(50);
  EXPECT_EQ(Read(dir + "out.txt").substr(0, 7), "started");
  EXPECT_EQ(test::RunErrorNumberOf([] {
              NativeLauncher().Launch("\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v0.0\\regasm.exe\" /nologo", 2);
            }),
            kErrFileNotFound);
}

// A bare program name is the system's own program: one that is only in the
// current folder or beside the running program is never started (53).
TEST(WindowsLauncher, ABareNameIsNeverSearchedFor) {
  wchar_t system[MAX_PATH], self[MAX_PATH], cwd[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::wstring beside(self);
  beside.resize(beside.rfind(L'\\'));
  const std::string dir = TempFolder();
  SetCurrentDirectoryW(Widen(dir).c_str());
  for (const std::wstring& folder : {Widen(dir), beside}) {
    const std::wstring planted = folder + L"\\tessiro-planted.exe";
    ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\cmd.exe").c_str(), planted.c_str(), FALSE));
    EXPECT_EQ(test::RunErrorNumberOf([&] {
                NativeLauncher().Launch("tessiro-planted.exe /c echo ran> \"" + dir + "ran.txt\"", kHide);
              }),
              kErrFileNotFound)
        << Narrow(folder);
    DeleteFileW(planted.c_str());
  }
  SetCurrentDirectoryW(cwd);
  Sleep(500);
  EXPECT_EQ(Read(dir + "ran.txt"), "");
}

}  // namespace
}  // namespace ttu::platform
