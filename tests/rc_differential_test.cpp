// Every resource script of the corpus (tests/rc/*.cases) goes through both
// tessiro-pack and the MinGW resource compiler; where the case expects "same",
// every string block and every CUSTOM resource must come out byte for byte the
// same (type, id, language, bytes), in the Linux updater's resource section and,
// read by wrestool, in a Windows updater packed from the 64-bit stub (when the
// Windows build is there); where it expects "refused", tessiro-pack
// must refuse with that message and write nothing.
//
// A case file holds cases one after another:
//   === case: what it shows
//   === expect: same            (or: refused: MESSAGE)
//   === file: NAME              (optional: a further file beside the script)
//   the script's text
// In the text, {{xHH}} stands for the byte HH, {{LONGn}} for n letters,
// {{CRLF}} makes the case's line ends CR LF, {{NOEOL}} ends the text there. Every case finds payloads a.bin, b.bin, payload/Dossaro.zip and
// "sub dir/c.bin" beside it, and i.bin in the include folder inc/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <tuple>

#include "support/linux_package.h"
#include "support/resource_section.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string source;  // file:line of the case
  std::string name, expect;
  std::map<std::string, std::string> files;  // "p.rc" is the script
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.source << " (" << c.name << ")"; }

std::string Unescape(const std::string& text) {
  std::string out;
  const bool crlf = text.find("{{CRLF}}") != std::string::npos;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 8, "{{CRLF}}") == 0) {
      i += 8;
    } else if (text.compare(i, 9, "{{NOEOL}}") == 0) {
      break;
    } else if (text.compare(i, 6, "{{LONG") == 0) {
      const std::size_t end = text.find("}}", i);
      out.append(std::stoul(text.substr(i + 6, end - i - 6)), 'a');
      i = end + 2;
    } else if (text.compare(i, 3, "{{x") == 0 && i + 7 <= text.size() && text.compare(i + 5, 2, "}}") == 0) {
      out += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
      i += 7;
    } else if (crlf && text[i] == '\n') {
      out += "\r\n", ++i;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(TTU_RC_CORPUS)) {
    if (e.path().extension() == ".cases") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::string line, current = "p.rc";
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (line.rfind("=== case: ", 0) == 0) {
        cases.push_back({path.filename().string() + ":" + std::to_string(number), line.substr(10), "", {}});
        current = "p.rc";
        cases.back().files[current];
      } else if (line.rfind("=== expect: ", 0) == 0 && !cases.empty()) {
        cases.back().expect = line.substr(12);
      } else if (line.rfind("=== file: ", 0) == 0 && !cases.empty()) {
        current = line.substr(10);
      } else if (!cases.empty()) {
        cases.back().files[current] += line + "\n";
      }
    }
  }
  for (auto& c : cases) {
    for (auto& [name, text] : c.files) text = Unescape(text);
  }
  return cases;
}

using Resources = std::map<std::tuple<std::string, unsigned, unsigned>, std::string>;  // (type, id, lang)

// A .res file: one header after another (size, header size, type, name, flags,
// language...), each field 4-byte aligned.
Resources ReadRes(const std::string& bytes) {
  Resources out;
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  auto name = [&](std::size_t& at) {
    std::string s;
    if (u16(at) == 0xFFFF) {
      s = std::to_string(u16(at + 2));
      at += 4;
      return s;
    }
    for (; u16(at) != 0; at += 2) s += static_cast<char>(u16(at));
    at += 2;
    return s;
  };
  for (std::size_t at = 0; at + 32 <= bytes.size();) {
    const std::size_t data_size = u32(at), header_size = u32(at + 4);
    std::size_t p = at + 8;
    const std::string type = name(p), id = name(p);
    p = (p + 3) & ~std::size_t{3};
    const unsigned language = u16(p + 6);
    if (data_size || type != "0") {
      out[{type == "6" ? "STRING" : type, std::stoul(id), language}] = bytes.substr(at + header_size, data_size);
    }
    at = (at + header_size + data_size + 3) & ~std::size_t{3};
  }
  return out;
}

// The package that tessiro-pack put into the Linux stub.
Resources ReadPacked(const std::string& bytes) {
  const std::vector<uint8_t> all(bytes.begin(), bytes.end());
  const auto package = resfmt::FindLinuxPackage(MemorySource(all));
  if (!package) return {{{"no package", 0, 0}, ""}};
  Resources out;
  for (const auto& b : package->dir.strings) out[{"STRING", b.block, b.language}].assign(b.bytes.begin(), b.bytes.end());
  for (const auto& d : package->dir.data) {
    if (d.type != "XXH3_128" && d.type != "TTU_SEAL") {  // the packer's own
      out[{d.type, d.id, d.language}] = bytes.substr(d.offset, d.size);
    }
  }
  return out;
}

// A Windows updater packed from the stub, read back by icoutils' wrestool; the
// stub's own resources (icon, icon group, version, manifest) and the
// payloads' checksums and the seals, which the packer adds, left out.
Resources ReadWithWrestool(const std::string& exe, const std::string& tmp) {
  const auto list = RunProgram({"/usr/bin/wrestool", "-l", exe});
  Resources out;
  const std::regex line(R"(--type='?([^ ']+)'? --name='?([^ ']+)'? --language=(\d+))");
  for (std::sregex_iterator it(list.output.begin(), list.output.end(), line), end; it != end; ++it) {
    const std::string type = (*it)[1], name = (*it)[2], language = (*it)[3];
    if (type == "3" || type == "14" || type == "16" || type == "24" || type == "XXH3_128" ||
        type == "TTU_SEAL") {
      continue;
    }
    fs::remove(tmp);
    RunProgram({"/usr/bin/wrestool", "-x", "--raw", "--type=" + type, "--name=" + name, "--language=" + language,
                "-o", tmp, exe});
    out[{type == "6" ? "STRING" : type, std::stoul(name), std::stoul(language)}] = Exists(tmp) ? ReadFile(tmp) : "";
  }
  return out;
}

std::string Describe(const Resources& r) {
  std::string s;
  for (const auto& [key, bytes] : r) {
    const auto& [type, id, language] = key;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", language);
    s += "  " + type + " " + std::to_string(id) + " lang " + hex + ": " + std::to_string(bytes.size()) + " bytes [";
    for (std::size_t k = 0; k < bytes.size() && k < 48; ++k) {
      std::snprintf(hex, sizeof hex, "%02x", uint8_t(bytes[k]));
      s += hex;
    }
    s += bytes.size() > 48 ? "...]\n" : "]\n";
  }
  return s;
}

class RcDifferential : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (!Exists(TTU_WINDRES)) GTEST_SKIP() << "no resource compiler at " TTU_WINDRES;
    fs::create_directories(dir / "payload");
    fs::create_directories(dir / "sub dir");
    fs::create_directories(dir / "inc");
    WriteFile(dir / "a.bin", "payload a\n");
    WriteFile(dir / "b.bin", PseudoRandomBytes(70000, 7));
    WriteFile(dir / "payload/Dossaro.zip", PseudoRandomBytes(5000, 8));
    WriteFile(dir / "sub dir/c.bin", "");
    WriteFile(dir / "inc/i.bin", "from the include folder\n");
  }
  TempDir dir;
};

TEST_P(RcDifferential, PackerAndResourceCompilerAgree) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.source + " " + c.name);
  for (const auto& [name, text] : c.files) {
    fs::create_directories((fs::path(dir.path()) / name).parent_path());
    WriteFile(dir / name, text);
  }
  // The resource compiler finds payloads from its working folder, the script's here.
  const auto rc = RunProgram({TTU_WINDRES, "-c", "65001", "-I", "inc", "-O", "res", "p.rc", "p.res"}, dir.path());
  const auto pack = RunProgram({TTU_PACK_EXE, "--stub", TTU_LINUX_STUB, "-I", dir / "inc", dir / "p.rc", "-o", dir / "out"});
  if (c.expect == "same") {
    ASSERT_EQ(rc.status, 0) << "the resource compiler refused a case expected to agree:\n" << rc.output;
    ASSERT_EQ(pack.status, 0) << pack.output;
    const Resources want = ReadRes(ReadFile(dir / "p.res")), got = ReadPacked(ReadFile(dir / "out"));
    EXPECT_EQ(want, got) << "resource compiler:\n" << Describe(want) << "tessiro-pack:\n" << Describe(got);
    // The same package packed into the Windows stub, read by an independent PE reader.
    if (Exists(TTU_WINDOWS_STUB) && Exists("/usr/bin/wrestool")) {
      const auto win = RunProgram({TTU_PACK_EXE, "--stub", TTU_WINDOWS_STUB, "-I", dir / "inc", dir / "p.rc", "-o", dir / "w.exe"});
      ASSERT_EQ(win.status, 0) << win.output;
      const Resources pe = ReadWithWrestool(dir / "w.exe", dir / "x");
      EXPECT_EQ(want, pe) << "resource compiler:\n" << Describe(want) << "Windows updater:\n" << Describe(pe);
    }
  } else {
    ASSERT_EQ(c.expect.rfind("refused: ", 0), 0u) << "bad expectation: " << c.expect;
    EXPECT_EQ(pack.status, 1) << pack.output;
    const std::string message = c.expect.substr(9);
    EXPECT_NE(pack.output.find(message), std::string::npos) << "expected: " << message << "\ngot: " << pack.output;
    EXPECT_FALSE(Exists(dir / "out"));
  }
}

// Where the MinGW compiler (and so its Windows headers) is not installed,
// tessiro-pack reads <windows.h> and the like from its own headers: for every
// case that includes them, the same package as the resource compiler's.
class RcOwnHeaders : public RcDifferential {};

TEST_P(RcOwnHeaders, GiveWhatTheResourceCompilerGives) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.source + " " + c.name);
  for (const auto& [name, text] : c.files) WriteFile(dir / name, text);
  fs::create_directories(dir / "bin");
  fs::create_symlink("/usr/bin/cpp", dir / "bin/cpp");  // a PATH with cpp and no MinGW compiler
  const auto rc = RunProgram({TTU_WINDRES, "-c", "65001", "-I", "inc", "-O", "res", "p.rc", "p.res"}, dir.path());
  const auto pack = RunProgram({"/usr/bin/env", "PATH=" + (dir / "bin"), TTU_PACK_EXE, "--stub", TTU_LINUX_STUB, "-I",
                                dir / "inc", dir / "p.rc", "-o", dir / "out"});
  ASSERT_EQ(rc.status, 0) << rc.output;
  ASSERT_EQ(pack.status, 0) << pack.output;
  const Resources want = ReadRes(ReadFile(dir / "p.res")), got = ReadPacked(ReadFile(dir / "out"));
  EXPECT_EQ(want, got) << "resource compiler:\n" << Describe(want) << "tessiro-pack:\n" << Describe(got);
}

std::vector<Case> CasesWithWindowsHeaders() {
  std::vector<Case> out;
  for (const auto& c : LoadCases()) {
    const std::string& script = c.files.at("p.rc");
    if (c.expect == "same" && (script.find("#include <win") != std::string::npos ||
                               script.find("#include \"winres.h\"") != std::string::npos)) {
      out.push_back(c);
    }
  }
  return out;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.source;
  for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, RcDifferential, ::testing::ValuesIn(LoadCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Corpus, RcOwnHeaders, ::testing::ValuesIn(CasesWithWindowsHeaders()), CaseName);

TEST(RcCorpus, HoldsAtLeastAHundredScripts) { EXPECT_GE(LoadCases().size(), 100u); }

}  // namespace
}  // namespace ttu::test
