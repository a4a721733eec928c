// Windows updaters made by tessiro-pack from a prebuilt stub, read back by
// independent tools: icoutils' wrestool for the resources, osslsigncode for
// signing. The Windows builds (scripts/test makes them) provide the stubs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "support/little_endian.h"
#include "support/payload_checksum.h"
#include "support/resource_section.h"
#include "support/pe_image.h"
#include "support/pe_resources.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

namespace fs = std::filesystem;
const std::string kPack = TTU_PACK_EXE;
const std::string kSource = TTU_SOURCE_DIR;

bool Have(const std::string& tool) { return fs::exists("/usr/bin/" + tool); }

// wrestool -l: one line per resource, "--type=6 --name=7 --language=1033 [...]".
using Key = std::tuple<std::string, std::string, std::string>;
std::vector<Key> ListResources(const std::string& exe) {
  const auto r = RunProgram({"/usr/bin/wrestool", "-l", exe});
  EXPECT_EQ(r.status, 0) << r.output;
  std::vector<Key> keys;
  const std::regex line(R"(--type='?([^ ']+)'? --name='?([^ ']+)'? --language=(\d+))");
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), line), end; it != end; ++it) {
    keys.emplace_back((*it)[1], (*it)[2], (*it)[3]);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::string Extract(const std::string& exe, const Key& k, const std::string& to) {
  const auto& [type, name, language] = k;
  const auto r = RunProgram({"/usr/bin/wrestool", "-x", "--raw", "--type=" + type, "--name=" + name,
                             "--language=" + language, "-o", to, exe});
  EXPECT_EQ(r.status, 0) << r.output;
  return to;
}

bool SameFiles(const std::string& a, const std::string& b) { return RunProgram({"/usr/bin/cmp", "-s", a, b}).status == 0; }

std::optional<pe::Image> ImageOf(const std::string& path) {
  const std::string s = ReadFile(path);
  return pe::ReadImage(pe::MemorySource({reinterpret_cast<const uint8_t*>(s.data()), s.size()}));
}

uint32_t ChecksumOf(const std::string& path, const pe::Image& image) {
  std::string s = ReadFile(path);
  s.replace(image.ChecksumOffset(), 4, 4, '\0');
  return pe::FinishChecksum(pe::SumWords({reinterpret_cast<const uint8_t*>(s.data()), s.size()}), s.size());
}

class ShippedUpdater : public ::testing::TestWithParam<const char*> {};

// The shipped updater (stub + tessiro-pack) against the same package linked
// in by the resource compiler: every resource, every byte.
TEST_P(ShippedUpdater, CarriesExactlyTheResourcesOfTheLinkedOne) {
  const std::string dir = kSource + "/" + GetParam();
  const std::string packed = dir + "/TessiroTinyUpdater.exe", linked = dir + "/TessiroTinyUpdater-linked.exe";
  if (!fs::exists(packed) || !fs::exists(linked)) GTEST_SKIP() << "no Windows build in " << dir;
  if (!Have("wrestool")) GTEST_SKIP() << "no wrestool (Debian package icoutils)";
  // The packer adds what the resource compiler cannot: each payload's checksum, and the seal.
  auto keys = ListResources(packed);
  const Key checksum{"XXH3_128", "101", "1033"}, seal{"TTU_SEAL", "100", "1033"};
  for (const Key& added : {checksum, seal}) {
    ASSERT_EQ(std::count(keys.begin(), keys.end(), added), 1) << std::get<0>(added);
    keys.erase(std::find(keys.begin(), keys.end(), added));
  }
  EXPECT_EQ(keys, ListResources(linked));
  EXPECT_EQ(keys.size(), 6u);  // icon, icon group, manifest, version, string block 7, CUSTOM 101
  TempDir tmp;
  const std::string sum = ReadFile(Extract(packed, checksum, tmp / "sum"));
  EXPECT_EQ(ttu::checksum::Hex({reinterpret_cast<const uint8_t*>(sum.data()), sum.size()}),
            RunProgram({"/usr/bin/xxhsum", "-q", "-H2", TTU_DOSSARO_ZIP}).output.substr(0, 32))
      << "the recorded checksum is the payload's XXH3-128";
  for (const auto& k : keys) {
    EXPECT_TRUE(SameFiles(Extract(packed, k, tmp / "a"), Extract(linked, k, tmp / "b")))
        << std::get<0>(k) << " " << std::get<1>(k);
  }
  EXPECT_TRUE(SameFiles(Extract(packed, {"CUSTOM", "101", "1033"}, tmp / "zip"), TTU_DOSSARO_ZIP));
  const auto image = ImageOf(packed);
  ASSERT_TRUE(image);
  EXPECT_EQ(ChecksumOf(packed, *image), image->checksum);
}

// Windows loads the DLLs of its KnownDLLs list from the system folder only,
// whatever folder the program was started from: the updater imports no other.
TEST_P(ShippedUpdater, ImportsOnlyLibrariesWindowsTakesFromTheSystemFolder) {
  const std::string stub = kSource + "/" + GetParam() + "/TessiroTinyUpdater-stub.exe";
  if (!fs::exists(stub)) GTEST_SKIP() << "no Windows build";
  const auto r = RunProgram({"/usr/bin/x86_64-w64-mingw32-objdump", "-p", stub});
  ASSERT_EQ(r.status, 0) << r.output;
  static const std::set<std::string> kKnownDlls = {
      "advapi32.dll", "combase.dll",  "comdlg32.dll", "gdi32.dll",   "gdiplus.dll", "imagehlp.dll", "imm32.dll",
      "kernel32.dll", "msctf.dll",    "msvcrt.dll",   "normaliz.dll", "nsi.dll",    "ole32.dll",    "oleaut32.dll",
      "psapi.dll",    "rpcrt4.dll",   "sechost.dll",  "setupapi.dll", "shcore.dll", "shell32.dll",  "shlwapi.dll",
      "user32.dll",   "wldap32.dll",  "ws2_32.dll"};
  const std::regex dll(R"(DLL Name: (\S+))");
  int count = 0;
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), dll), end; it != end; ++it, ++count) {
    std::string name = (*it)[1];
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(kKnownDlls.count(name)) << name << " is not loaded from the system folder only";
  }
  EXPECT_GT(count, 0);
}

// What Debian's python3-pefile reads from a Windows executable, line by line
// ("key: value"); nothing without it.
std::multimap<std::string, std::string> PeFacts(const std::string& exe) {
  std::multimap<std::string, std::string> facts;
  const auto r = RunProgram({"/usr/bin/python3", kSource + "/tests/pe_facts.py", exe});
  EXPECT_EQ(r.status, 0) << r.output;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(": ");
    if (colon != std::string::npos) facts.emplace(line.substr(0, colon), line.substr(colon + 2));
  }
  return facts;
}

std::string Fact(const std::multimap<std::string, std::string>& facts, const std::string& key) {
  const auto it = facts.find(key);
  return it == facts.end() ? "<none>" : it->second;
}

bool HavePefile() { return RunProgram({"/usr/bin/python3", "-c", "import pefile"}).status == 0; }

// The stub and the packed updater as Windows and release tools take them: an
// application manifest that asks for administrator rights, DPI awareness and
// the common controls; one version language; the loader's flags; one resource
// section; a right checksum and nothing pefile warns about.
TEST_P(ShippedUpdater, CarriesWhatWindowsAsksOfAReleasedProgram) {
  const std::string dir = kSource + "/" + GetParam();
  if (!fs::exists(dir + "/TessiroTinyUpdater.exe")) GTEST_SKIP() << "no Windows build in " << dir;
  if (!HavePefile()) GTEST_SKIP() << "no python3-pefile";
  const bool pe32_plus = std::string(GetParam()) == "build-windows64";
  // The packed updater of the tests (a small package) is read whole by pefile in a moment.
  for (const std::string& exe : {dir + "/TessiroTinyUpdater-stub.exe", dir + "/tests/windows/TessiroTinyUpdaterComTest.exe"}) {
    SCOPED_TRACE(exe);
    const auto facts = PeFacts(exe);
    const std::pair<std::string, std::string> expected[] = {
        {"checksum_ok", "True"},
        {"warnings", "0 "},
        {"large_address_aware", "True"},
        {"dynamic_base", "True"},
        {"nx_compat", "True"},
        {"high_entropy_va", pe32_plus ? "True" : "False"},
        {"terminal_server_aware", "True"},
        {"resource_sections", "1"},
        {"directory_in_rsrc", "True"},
        {"manifest_xml_ok", "True"},
        {"manifest_level", "requireAdministrator false"},
        {"manifest_supported_os", "5"},
        {"manifest_dpiAware", "true"},
        {"manifest_dpiAwareness", "PerMonitorV2"},
        {"version_block", "041004B0"},
        {"version_var", "Translation = 0x0410 0x04b0"},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(Fact(facts, key), value) << key;
    std::set<std::string> resources, strings;
    for (auto [it, end] = facts.equal_range("resource"); it != end; ++it) resources.insert(it->second.substr(0, it->second.rfind(' ')));
    EXPECT_TRUE(resources.count("24 1 1040") && resources.count("16 1 1040")) << "manifest and version, in Italian";
    for (auto [it, end] = facts.equal_range("version_string"); it != end; ++it) strings.insert(it->second.substr(0, it->second.find(' ')));
    for (const char* key : {"FileDescription", "ProductName", "CompanyName", "LegalCopyright", "FileVersion",
                            "ProductVersion", "OriginalFilename"}) {
      EXPECT_TRUE(strings.count(key)) << key;
    }
    bool common_controls = false;
    for (auto [it, end] = facts.equal_range("manifest_identity"); it != end; ++it) {
      common_controls |= it->second == "Microsoft.Windows.Common-Controls 6.0.0.0";
    }
    EXPECT_TRUE(common_controls);
  }
}

// Release pipelines strip and copy executables with binutils: the resources
// live where binutils looks for them (the one section named .rsrc), so every
// tool lists them and the package survives with the same bytes, from a packed
// updater and from one that was signed first (the signature is gone then).
TEST_P(ShippedUpdater, ThePackageSurvivesStripAndObjcopy) {
  const std::string dir = kSource + "/" + GetParam();
  const std::string packed = dir + "/tests/windows/TessiroTinyUpdaterComTest.exe";
  if (!fs::exists(packed)) GTEST_SKIP() << "no Windows build in " << dir;
  const std::string triple = std::string(GetParam()) == "build-windows64" ? "x86_64-w64-mingw32" : "i686-w64-mingw32";
  TempDir tmp;
  const auto listing = RunProgram({kPack, "--list", packed});
  ASSERT_EQ(listing.status, 0) << listing.output;
  auto package = [](const std::string& list) { return list.substr(list.find('\n') + 1); };
  // binutils read the same resources as wrestool.
  const auto rc = RunProgram({"/usr/bin/" + triple + "-windres", "-i", packed, "-O", "rc", "-o", tmp / "out.rc"});
  ASSERT_EQ(rc.status, 0) << rc.output;
  const std::string text = ReadFile(tmp / "out.rc");
  for (const char* what : {"Type: \"CUSTOM\"", "Name: 101.", "Name: 102.", "STRINGTABLE", "VERSIONINFO", "Type: 24"}) {
    EXPECT_NE(text.find(what), std::string::npos) << what;
  }
  const auto objdump = RunProgram({"/usr/bin/" + triple + "-objdump", "-p", packed});
  EXPECT_NE(objdump.output.find("Entry: name: [val: 80000"), std::string::npos);
  EXPECT_NE(objdump.output.find("CUSTOM"), std::string::npos);

  std::vector<std::string> inputs = {packed};
  if (Have("osslsigncode") && Have("openssl")) {
    ASSERT_EQ(RunProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                          "/CN=Tessiro test signer", "-keyout", tmp / "key.pem", "-out", tmp / "cert.pem"}).status, 0);
    ASSERT_EQ(RunProgram({"/usr/bin/osslsigncode", "sign", "-certs", tmp / "cert.pem", "-key", tmp / "key.pem",
                          "-in", packed, "-out", tmp / "signed.exe"}).status, 0);
    inputs.push_back(tmp / "signed.exe");
  }
  const std::vector<std::vector<std::string>> tools = {
      {"/usr/bin/" + triple + "-strip"}, {"/usr/bin/strip", "--strip-debug"}, {"/usr/bin/objcopy"},
      {"/usr/bin/" + triple + "-objcopy"}};
  for (const auto& in : inputs) {
    for (const auto& tool : tools) {
      SCOPED_TRACE(in + " through " + tool[0]);
      const std::string out = tmp / "out.exe";
      fs::copy_file(in, out, fs::copy_options::overwrite_existing);
      std::vector<std::string> argv = tool;
      if (tool[0].find("objcopy") != std::string::npos) {
        argv.push_back(in);
      }
      argv.push_back(out);
      const auto r = RunProgram(argv);
      ASSERT_EQ(r.status, 0) << r.output;
      const auto after = RunProgram({kPack, "--list", out});
      ASSERT_EQ(after.status, 0) << after.output;
      EXPECT_EQ(package(after.output), package(listing.output));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, ShippedUpdater, ::testing::Values("build-windows32", "build-windows64"));

// Stubs as an attacker would craft them, from a real one.
struct Crafted {
  static pe::Image Headers(const std::string& bytes) {
    return *pe::ReadImage(pe::MemorySource({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
  }
  static void Put32(std::string& b, std::size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(v >> (8 * k));
  }
  // A certificate table that claims bytes inside the program.
  static std::string Certificate(std::string b, uint32_t at, uint32_t size) {
    const auto img = Headers(b);
    Put32(b, img.DirectoryOffset(pe::kCertificateDirectory), at);
    Put32(b, img.DirectoryOffset(pe::kCertificateDirectory) + 4, size);
    return b;
  }
  // Section `k`'s data placed at `raw` (inside the headers, or over another section).
  static std::string SectionData(std::string b, std::size_t k, uint32_t raw) {
    Put32(b, Headers(b).section_table_offset + pe::kSectionHeaderSize * k + 20, raw);
    return b;
  }
  static std::string SizeOfHeaders(std::string b, uint32_t size) {
    Put32(b, Headers(b).optional_offset + 60, size);
    return b;
  }
  // A resource directory whose every entry at each level leads to the same
  // table: a few KiB that fan out into hundreds of thousands of resources.
  static std::string SharedResourceTables(std::string b) {
    const auto img = Headers(b);
    const auto dir = img.Directory(pe::kResourceDirectory);
    const uint64_t at = *img.FileOffset(dir.address, 1);
    uint32_t raw = 0;
    for (const auto& sec : img.sections) {
      if (dir.address >= sec.virtual_address && dir.address < sec.virtual_address + sec.raw_size) {
        raw = sec.raw_size - (dir.address - sec.virtual_address);
      }
    }
    const uint32_t n = (raw - 16) / 24 - 3, table = 16 + 8 * n;
    for (uint32_t level = 0; level < 3; ++level) {
      const uint64_t t = at + level * table;
      b.replace(t, 16, std::string(16, '\0'));
      b[t + 14] = static_cast<char>(n & 0xFF), b[t + 15] = static_cast<char>(n >> 8);
      for (uint32_t k = 0; k < n; ++k) {
        Put32(b, t + 16 + 8 * k, k + 1);
        Put32(b, t + 20 + 8 * k, level < 2 ? (0x80000000u | (level + 1) * table) : 3 * table);
      }
    }
    Put32(b, at + 3 * table, dir.address), Put32(b, at + 3 * table + 4, 16), Put32(b, at + 3 * table + 8, 0);
    Put32(b, img.DirectoryOffset(pe::kResourceDirectory) + 4, 3 * table + 16);
    return b;
  }
};

class PePackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(stub)) GTEST_SKIP() << "no Windows stub: " << stub;
  }
  RunResult Pack(const std::string& rc, const std::string& from, const std::string& out) {
    WriteFile(dir / "p.rc", rc);
    return RunProgram({kPack, "--stub", from, dir / "p.rc", "-o", out});
  }
  std::string stub = kSource + "/build-windows64/TessiroTinyUpdater-stub.exe";
  TempDir dir;
};

TEST_F(PePackTest, ListsWhatAnyUpdaterCarries) {
  WriteFile(dir / "a.bin", PseudoRandomBytes(100000, 3));
  WriteFile(dir / "b.bin", "");
  const std::string rc =
      "LANGUAGE 0x10, 1\nSTRINGTABLE { 100 \"2\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" 102 \"b.bin|<APPPATH>Brenvia/|S|R4\" }\n"
      "101 CUSTOM a.bin\n102 CUSTOM b.bin\nLANGUAGE 9, 1\nSTRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n";
  ASSERT_EQ(Pack(rc, stub, dir / "w.exe").status, 0);
  ASSERT_EQ(Pack(rc, TTU_LINUX_STUB, dir / "l").status, 0);
  const auto sha = RunProgram({"/usr/bin/sha256sum", dir / "a.bin"}).output.substr(0, 64);
  const auto xxh = RunProgram({"/usr/bin/xxhsum", "-q", "-H2", dir / "a.bin"}).output.substr(0, 32);
  for (const auto& [file, kind] : {std::pair{dir / "w.exe", "Windows updater, PE32+ (x86-64)"},
                                   std::pair{dir / "l", "Linux updater"}}) {
    const auto r = RunProgram({kPack, "--list", file});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(kind), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("language 0x0410: item count \"2\"\n  item 0: \"a.bin|<APPPATH>Tessiro/|N|\"\n"
                            "    payload CUSTOM 101 (0x0410): 100000 bytes, SHA-256 " + sha + "\n"
                            "    checksum XXH3-128 " + xxh + ": the payload matches it\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("  item 1: \"b.bin|<APPPATH>Brenvia/|S|R4\"\n    payload CUSTOM 102 (0x0410): 0 bytes, "
                            "SHA-256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
              std::string::npos)
        << r.output;
    // English has its own strings and falls back to the Italian payload, as the loader would.
    EXPECT_NE(r.output.find("language 0x0409: item count \"1\"\n  item 0: \"a.bin|<APPPATH>Tessiro/|N|\"\n"
                            "    payload CUSTOM 101 (0x0410)"),
              std::string::npos)
        << r.output;
  }
  for (const std::string& bare : {stub, std::string(TTU_LINUX_STUB), dir / "a.bin"}) {
    const auto r = RunProgram({kPack, "--list", bare});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("carries no package"), std::string::npos) << r.output;
  }
}

TEST_F(PePackTest, RefusesStubsItCannotPackSafely) {
  WriteFile(dir / "a.bin", "x");
  const std::string rc = "STRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM a.bin\n";
  ASSERT_EQ(Pack(rc, stub, dir / "once.exe").status, 0);
  auto again = Pack(rc, dir / "once.exe", dir / "twice.exe");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("already carries a package"), std::string::npos) << again.output;

  const std::string bytes = ReadFile(stub);
  const uint32_t pe = static_cast<uint8_t>(bytes[60]) | static_cast<uint8_t>(bytes[61]) << 8;
  const pe::Image image = Crafted::Headers(bytes);
  const std::size_t last = image.sections.size() - 1;
  const std::pair<std::string, std::string> damaged[] = {
      {bytes.substr(0, pe + 10), "not a usable Windows executable"},                 // cut in the headers
      {bytes.substr(0, 0x1000), "not a usable Windows executable"},                  // sections past the end
      {std::string(bytes).replace(pe, 2, "XX"), "not a usable Windows executable"},  // no PE signature
      {"MZ", "not a usable Windows executable"},
      {Crafted::Certificate(bytes, 0x10, 0x100), "signature is not at its end"},     // within the headers
      {Crafted::Certificate(bytes, 0x600, 0x100), "signature is not at its end"},    // within a section
      {Crafted::SizeOfHeaders(bytes, 0xFFFFFFF0u), "not a usable Windows executable"},
      {Crafted::SharedResourceTables(bytes), "resource directory is damaged"},
      {Crafted::SectionData(bytes, last, 0x200), "a section's data lies inside its headers"},
      {Crafted::SectionData(bytes, 1, image.sections[0].raw_pointer + 0x10), "two sections' data overlap"}};
  for (const auto& [content, message] : damaged) {
    WriteFile(dir / "bad.exe", content);
    const auto r = Pack(rc, dir / "bad.exe", dir / "out.exe");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    EXPECT_FALSE(Exists(dir / "out.exe"));
  }
}

// --list tells a damaged updater from a file that carries no package.
TEST_F(PePackTest, ListTellsADamagedUpdaterFromNone) {
  WriteFile(dir / "a.bin", PseudoRandomBytes(70000, 9));
  const std::string rc = "STRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM a.bin\n";
  ASSERT_EQ(Pack(rc, stub, dir / "w.exe").status, 0);
  ASSERT_EQ(Pack(rc, TTU_LINUX_STUB, dir / "l").status, 0);
  const std::string windows = ReadFile(dir / "w.exe"), linux = ReadFile(dir / "l");
  const uint32_t pe = static_cast<uint8_t>(windows[60]) | static_cast<uint8_t>(windows[61]) << 8;
  std::string bad_note = linux;
  bad_note[linux.rfind(std::string("Tessiro\0", 8)) + 1] = 'X';  // the package note's owner
  const std::pair<std::string, std::string> rows[] = {
      {windows.substr(0, pe + 10), "damaged: a Windows executable whose headers are damaged or cut short"},
      {Crafted::SharedResourceTables(windows), "damaged: its resource directory is damaged"},
      {linux.substr(0, linux.size() - 100), "damaged: the program is cut short"},
      {bad_note, "damaged: its package (section .note.tessiro) is damaged"},
      {"just some text\n", "carries no package"},
      {ReadFile(TTU_LINUX_STUB), "carries no package"},
  };
  for (const auto& [content, message] : rows) {
    WriteFile(dir / "x", content);
    const auto r = RunProgram({kPack, "--list", dir / "x"});
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
  }
}

// A program run to its end (killed after a minute): its status, output and peak resident memory.
struct PeakRun {
  int status = -1;
  std::string output;
  double peak_mib = 0;
};
PeakRun RunWithPeak(const std::vector<std::string>& argv, const std::string& output) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1), ::dup2(fd, 2);
    ::alarm(60);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(output),
          static_cast<double>(ru.ru_maxrss) / 1024};
}

// A Linux updater of the kind packed before packages were a section, its
// directory crafted: `n` CUSTOM entries, the k-th at `offset(k)` with `size`.
std::string CraftedLinuxUpdater(uint64_t file_bytes, int n, uint64_t (*offset)(int), uint64_t size) {
  resfmt::Directory dir;
  resfmt::Strings16 count;
  count[100 % 16] = std::u16string(u"1");
  dir.strings.push_back({100 / 16 + 1, 0x0409, resfmt::EncodeStringBlock(count)});
  for (int k = 0; k < n; ++k) dir.data.push_back({static_cast<uint16_t>(101 + k), 0x0409, "CUSTOM", offset(k), size});
  std::string file(file_bytes, 'x');
  const auto encoded = resfmt::EncodeDirectory(dir);
  const auto trailer = resfmt::EncodeTrailer({file_bytes, 0});
  file.append(encoded.begin(), encoded.end());
  file.append(trailer.begin(), trailer.end());
  return file;
}

// --list reads each byte of a file at most once and keeps a bounded amount in
// memory, whatever its directory's entries share: payloads of several
// languages share theirs (read once), entries that overlap otherwise are
// damage, and string tables are bounded in bytes, not in entries.
TEST_F(PePackTest, ListIsBoundedWhateverTheEntriesShare) {
  // A Windows updater whose 400 small string blocks are made to point at its one block of 2 MB.
  std::string rc = "STRINGTABLE {\n100 \"1\"\n";
  for (int k = 0; k < 16; ++k) rc += std::to_string(112 + k) + " \"" + std::string(60000, 'a' + k) + "\"\n";
  for (int k = 0; k < 400; ++k) rc += std::to_string(1000 + 16 * k) + " \"s\"\n";
  ASSERT_EQ(Pack(rc + "}\n", stub, dir / "w.exe").status, 0);
  std::string shared = ReadFile(dir / "w.exe");
  const std::vector<uint8_t> bytes(shared.begin(), shared.end());
  const MemorySource source(bytes);
  const auto image = pe::ReadImage(source);
  ASSERT_TRUE(image);
  const auto resources = pe::ReadResources(source, *image);
  ASSERT_TRUE(resources);
  uint32_t big_rva = 0, big_size = 0;
  for (const auto& r : *resources) {
    if (!r.type.Named() && r.type.id == pe::kStringTableType && r.name.id == 8) big_rva = r.rva, big_size = r.size;
  }
  ASSERT_GT(big_size, 1u << 20);
  int redirected = 0;
  for (const auto& r : *resources) {
    if (r.type.Named() || r.type.id != pe::kStringTableType || r.name.id < 63) continue;
    std::string entry(8, '\0');
    le::Put32(reinterpret_cast<uint8_t*>(entry.data()), r.rva);
    le::Put32(reinterpret_cast<uint8_t*>(entry.data()) + 4, r.size);
    const std::size_t at = shared.find(entry);
    ASSERT_NE(at, std::string::npos);
    le::Put32(reinterpret_cast<uint8_t*>(shared.data()) + at, big_rva);
    le::Put32(reinterpret_cast<uint8_t*>(shared.data()) + at + 4, big_size);
    ++redirected;
  }
  EXPECT_EQ(redirected, 400);
  const struct {
    const char* what;
    std::string file;
    int status;
    const char* message;
  } rows[] = {
      {"400 string entries sharing one 2 MB block", shared, 1, "damaged: its string tables are larger than any package's"},
      {"5,000 payloads shifted by 1,000 bytes over 10 MB",
       CraftedLinuxUpdater(10 << 20, 5000, [](int k) { return uint64_t(k) * 1000; }, 5 << 20), 1,
       "damaged: two of its resources overlap"},
      {"400 payloads sharing one 2 MB range, as languages share one",
       CraftedLinuxUpdater(2 << 20, 400, [](int) { return uint64_t{0}; }, 2 << 20), 0, "payload CUSTOM 101"},
  };
  for (const auto& r : rows) {
    WriteFile(dir / "x", r.file);
    const auto run = RunWithPeak({kPack, "--list", dir / "x"}, dir / "listed");
    EXPECT_EQ(run.status, r.status) << r.what << "\n" << run.output.substr(0, 2000);
    EXPECT_NE(run.output.find(r.message), std::string::npos) << r.what << "\n" << run.output.substr(0, 2000);
    // Far more than --list needs (a few MiB; the sanitizers' build takes more), far less than these take unbounded.
    EXPECT_LT(run.peak_mib, 128) << r.what;
  }
}

// A package that a process of the stub's kind could not map is refused before
// anything is written (the payloads here are sparse files: they cost nothing).
TEST_F(PePackTest, RefusesPackagesTooLargeForTheStubsKindOfProcess) {
  const std::string stub32 = kSource + "/build-windows32/TessiroTinyUpdater-stub.exe";
  if (!fs::exists(stub32)) GTEST_SKIP() << "no 32-bit stub";
  const std::string rc = "STRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM a.bin\n";
  const struct {
    std::string stub;
    uint64_t payload;
    const char* message;
  } rows[] = {
      {stub32, 1001ull << 20, "too large for a PE32 (x86) program: its image would be 1001 MiB, and at most 1000 MiB load"},
      {stub32, 3ull << 30, "too large for a PE32 (x86) program"},
      {stub, 2048ull << 20, "too large for a PE32+ (x86-64) program: its image would be 2048 MiB, and at most 2047 MiB"},
      {stub, 5ull << 30, "too large for a PE32+ (x86-64) program"},
  };
  for (const auto& r : rows) {
    WriteFile(dir / "a.bin", "");
    ASSERT_EQ(::truncate((dir / "a.bin").c_str(), static_cast<off_t>(r.payload)), 0);
    const auto out = Pack(rc, r.stub, dir / "big.exe");
    EXPECT_EQ(out.status, 1) << r.payload;
    EXPECT_NE(out.output.find(r.message), std::string::npos) << out.output;
    EXPECT_FALSE(Exists(dir / "big.exe"));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"a.bin", "p.rc"})) << "a temporary file was left";
  }
}

// A packed updater signs and verifies; a signed stub loses its signature with
// a note; the checksum that signing writes is the one the packer computes.
TEST_F(PePackTest, PackedUpdatersCanBeSigned) {
  if (!Have("osslsigncode") || !Have("openssl")) GTEST_SKIP() << "no osslsigncode or openssl";
  const auto key = RunProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                               "-subj", "/CN=Tessiro test signer", "-keyout", dir / "key.pem", "-out", dir / "cert.pem"});
  ASSERT_EQ(key.status, 0) << key.output;
  auto sign = [&](const std::string& in, const std::string& out) {
    return RunProgram({"/usr/bin/osslsigncode", "sign", "-certs", dir / "cert.pem", "-key", dir / "key.pem",
                       "-n", "Tessiro Tiny Updater", "-in", in, "-out", out});
  };
  WriteFile(dir / "a.bin", PseudoRandomBytes(300000, 5));
  const std::string rc = "STRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM a.bin\n";
  ASSERT_EQ(Pack(rc, stub, dir / "u.exe").status, 0);
  ASSERT_EQ(sign(dir / "u.exe", dir / "signed.exe").status, 0);
  const auto verify = RunProgram({"/usr/bin/osslsigncode", "verify", "-CAfile", dir / "cert.pem", "-in", dir / "signed.exe"});
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_NE(verify.output.find("Signature verification: ok"), std::string::npos) << verify.output;
  EXPECT_EQ(RunProgram({kPack, "--list", dir / "signed.exe"}).status, 0);

  // The checksum osslsigncode wrote, recomputed by the packer's own code.
  const auto image = ImageOf(dir / "signed.exe");
  ASSERT_TRUE(image);
  ASSERT_NE(image->checksum, 0u);
  EXPECT_EQ(ChecksumOf(dir / "signed.exe", *image), image->checksum);

  // A signed stub: packed without its signature, with the checksum kept right.
  ASSERT_EQ(sign(stub, dir / "signed-stub.exe").status, 0);
  const auto packed = Pack(rc, dir / "signed-stub.exe", dir / "from-signed.exe");
  ASSERT_EQ(packed.status, 0) << packed.output;
  EXPECT_NE(packed.output.find("note: the stub was signed: its signature was removed"), std::string::npos) << packed.output;
  const auto fimg = ImageOf(dir / "from-signed.exe");
  ASSERT_TRUE(fimg);
  EXPECT_EQ(fimg->Directory(pe::kCertificateDirectory).size, 0u);
  EXPECT_NE(fimg->checksum, 0u);
  EXPECT_EQ(ChecksumOf(dir / "from-signed.exe", *fimg), fimg->checksum);
  ASSERT_EQ(sign(dir / "from-signed.exe", dir / "resigned.exe").status, 0);
  EXPECT_EQ(RunProgram({"/usr/bin/osslsigncode", "verify", "-CAfile", dir / "cert.pem", "-in", dir / "resigned.exe"}).status, 0);
}


// The writer, given resources in any order (a stub from another linker may
// hold names differing only in case, or languages out of order), writes a
// directory whose order is strict and reads back as the same resources.
TEST(ResourceWriter, WritesAnyResourcesInAStrictOrderThatReadsBack) {
  using pe::ResId;
  auto id = [](uint16_t n) { return ResId{n, {}}; };
  auto named = [](const char16_t* n) { return ResId{0, n}; };
  const std::vector<std::vector<std::tuple<ResId, ResId, uint16_t>>> rows = {
      {{id(10), id(101), 0x410}, {id(6), id(7), 0x409}, {id(6), id(7), 0x410}},
      {{named(u"CUSTOM"), id(1), 5}, {named(u"custom"), id(1), 1}, {named(u"CUSTOM"), id(1), 0}},
      {{id(10), named(u"abc"), 5}, {id(10), named(u"ABC"), 1}, {id(10), named(u"abc"), 0}, {id(10), id(3), 2}},
      {{id(3), id(1), 7}, {id(3), id(1), 7}, {named(u"Z"), named(u"a"), 0}, {named(u"z"), named(u"A"), 0}},
  };
  for (std::size_t row = 0; row < rows.size(); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    std::vector<pe::NewResource> in;
    for (const auto& [type, name, language] : rows[row]) {
      in.push_back({type, name, language, 0, {static_cast<uint8_t>(in.size() + 1)}, false, 0});
    }
    const auto layout = pe::LayOutResources(in, 0x1000, 0x400, 0x10000);
    std::vector<uint8_t> bytes(0x400);
    bytes.insert(bytes.end(), layout.head.begin(), layout.head.end());
    pe::Image image;
    image.file_size = bytes.size();
    const auto n = static_cast<uint32_t>(layout.head.size());
    image.sections.push_back({{}, n, 0x1000, n, 0x400, 0});
    image.directories.resize(3);
    image.directories[pe::kResourceDirectory] = {0x1000, n};
    const auto back = pe::ReadResources(pe::MemorySource(bytes), image);
    ASSERT_TRUE(back);
    // Every resource once, with its own bytes, and the whole directory in
    // order: no later entry sorts before an earlier one.
    ASSERT_EQ(back->size(), in.size());
    std::vector<pe::NewResource> read;
    std::set<uint8_t> seen;
    for (const auto& b : *back) seen.insert(bytes.at(0x400 + b.rva - 0x1000));
    EXPECT_EQ(seen.size(), in.size());
    for (const auto& b : *back) read.push_back({b.type, b.name, b.language, 0, {bytes.at(0x400 + b.rva - 0x1000)}, false, 0});
    for (std::size_t i = 0; i < read.size(); ++i) {
      for (std::size_t j = i + 1; j < read.size(); ++j) EXPECT_FALSE(pe::InDirectoryOrder(read[j], read[i])) << i << " " << j;
      const auto& source = in.at(read[i].bytes[0] - 1u);
      EXPECT_TRUE(source.type == read[i].type && source.name == read[i].name && source.language == read[i].language) << i;
    }
  }
}

// Compressed payloads (here small files' parts and their group) lie at 8-byte
// offsets among 64 KiB-aligned stored ones, with odd sizes: the PE checksum
// still counts every word, in both kinds of stub.
TEST_F(PePackTest, CompressedPayloadsKeepThePeChecksumRight) {
  if (!HavePefile()) GTEST_SKIP() << "no python3-pefile";
  std::string rc = "STRINGTABLE { 100 \"5\" }\n";
  for (int k = 0; k < 5; ++k) {
    const std::string name = "f" + std::to_string(k);
    // Compressible (odd sizes) but for item 2, which stays stored.
    WriteFile(dir / name, k == 2 ? PseudoRandomBytes(70001, 2) : std::string(1000 * k + 3 + k, 'a' + k) + "fine");
    rc += std::to_string(101 + k) + " CUSTOM " + name + "\n";
  }
  for (const std::string& from : {stub, kSource + "/build-windows32/TessiroTinyUpdater-stub.exe"}) {
    if (!fs::exists(from)) continue;
    SCOPED_TRACE(from);
    WriteFile(dir / "p.rc", rc);
    const auto packed = RunProgram({kPack, "--stub", from, "--compress", dir / "p.rc", "-o", dir / "c.exe"});
    ASSERT_EQ(packed.status, 0) << packed.output;
    const auto facts = PeFacts(dir / "c.exe");
    EXPECT_EQ(Fact(facts, "checksum_ok"), "True");
    EXPECT_EQ(Fact(facts, "warnings"), "0 ");
    const auto listed = RunProgram({kPack, "--list", dir / "c.exe"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("payload ZPART 105"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("payload CUSTOM 103"), std::string::npos) << listed.output;
  }
}

}  // namespace
}  // namespace ttu::test
