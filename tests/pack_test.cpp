// Packs small packages with the real tessiro-pack and reads them back through
// the packed program's own resource lookup.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/elf_image.h"
#include "support/little_endian.h"
#include "tests/fakes.h"
#include "tests/test_util.h"
#include "tools/pack/output_file.h"
#include "tools/pack/package_description.h"

namespace ttu::test {
namespace {

const std::string kPack = TTU_PACK_EXE;
const std::string kProbe = TTU_PROBE_EXE;

class PackTest : public ::testing::Test {
 protected:
  RunResult Pack(const std::string& rc_text, std::vector<std::string> extra = {}) {
    WriteFile(dir / "p.rc", rc_text);
    std::vector<std::string> argv{kPack, "--stub", kProbe};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {dir / "p.rc", "-o", dir / "out"});
    return RunProgram(argv);
  }
  std::string Probe(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto r = RunProgram(argv);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }
  TempDir dir;
};

TEST_F(PackTest, EveryStringAndEveryPayloadByteComesBack) {
  TempDir inc;
  const std::string a = PseudoRandomBytes(10000, 1), b = PseudoRandomBytes(4096 * 3, 2);
  WriteFile(dir / "a.bin", a);
  WriteFile(inc / "b.bin", b);  // found through -I
  WriteFile(dir / "empty.bin", "");
  const auto r = Pack(
      "LANGUAGE 0x09, 0x01\nSTRINGTABLE\nBEGIN\n 100 \"3\"\n 101 \"a.bin|<APPPATH>Tessiro/|N|\"\n"
      " 102 \"b.bin|<COMMONPATH>Kelmo/|S|R\"\n 103 \"empty.bin|<APPPATH>Brenvia/|N|\"\n"
      " 1000 \"perch\xC3\xA8 \xE2\x82\xAC\"\nEND\n101 CUSTOM \"a.bin\"\n102 CUSTOM \"b.bin\"\n"
      "103 CUSTOM \"empty.bin\"\n",
      {"-I", inc.path()});
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string out = dir / "out";
  EXPECT_EQ(Probe(out, {"s", "100"}), "3");
  EXPECT_EQ(Probe(out, {"s", "101"}), "a.bin|<APPPATH>Tessiro/|N|");
  EXPECT_EQ(Probe(out, {"s", "102"}), "b.bin|<COMMONPATH>Kelmo/|S|R");
  EXPECT_EQ(Probe(out, {"s", "1000"}), "perch\xC3\xA8 \xE2\x82\xAC");
  EXPECT_EQ(Probe(out, {"s", "104"}), "missing");
  EXPECT_EQ(Probe(out, {"d", "104", dir / "x"}), "missing");
  const std::pair<const char*, const std::string*> payloads[] = {{"101", &a}, {"102", &b}};
  for (const auto& [id, bytes] : payloads) {
    const std::string offset = Probe(out, {"d", id, dir / "got"});
    EXPECT_EQ(std::stoull(offset.substr(7)) % 65536, 0u) << "payload not aligned";
    EXPECT_EQ(ReadFile(dir / "got"), *bytes) << id;
  }
  Probe(out, {"d", "103", dir / "got"});
  EXPECT_EQ(ReadFile(dir / "got"), "");
  // The bare stub has no resources at all.
  EXPECT_EQ(Probe(kProbe, {"s", "100"}), "missing");
}

// As with a Windows stub, a program that carries a package is no stub: the
// bare stub is packed, never an updater.
TEST_F(PackTest, APackedProgramIsRefusedAsAStub) {
  WriteFile(dir / "a.bin", "first");
  ASSERT_EQ(Pack("STRINGTABLE { 100 \"1\" }\n101 CUSTOM a.bin\n").status, 0);
  WriteFile(dir / "p2.rc", "STRINGTABLE { 100 \"2\" }\n");
  const auto r = RunProgram({kPack, "--stub", dir / "out", dir / "p2.rc", "-o", dir / "out2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("already carries a package"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(dir / "out2"));
}

TEST_F(PackTest, BadDescriptionsGiveFileAndLineAndNoOutput) {
  const auto r = Pack("STRINGTABLE\nBEGIN\n 100 \"1\nEND\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("p.rc:3: error: unterminated string"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(dir / "out"));

  const auto missing = Pack("STRINGTABLE { 100 \"1\" }\n\n101 CUSTOM \"nope.zip\"\n");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("p.rc:3: error: payload file 'nope.zip' not found"),
            std::string::npos)
      << missing.output;
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"p.rc"});  // no temporary left

  EXPECT_EQ(RunProgram({kPack, dir / "p.rc"}).status, 2);  // no -o: usage
}

// The packed updater reads the user's language from the locale, as LANG,
// LC_MESSAGES and LC_ALL give it, and picks among the package's languages.
TEST_F(PackTest, TheUsersLanguageChoosesAmongThePackagesLanguages) {
  ASSERT_EQ(Pack("LANGUAGE 0x10, 1\nSTRINGTABLE { 100 \"italiano\" }\n"
                 "LANGUAGE 0x09, 1\nSTRINGTABLE { 100 \"english\" }\n"
                 "LANGUAGE 0x07, 2\nSTRINGTABLE { 100 \"schweizerdeutsch\" }\n")
                .status,
            0);
  auto in = [&](std::vector<std::string> env) {
    std::vector<std::string> argv{"/usr/bin/env", "-u", "LC_ALL", "-u", "LC_MESSAGES", "-u", "LANG"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {dir / "out", "s", "100"});
    return RunProgram(argv).output;
  };
  EXPECT_EQ(in({"LANG=it_IT.UTF-8"}), "italiano");
  EXPECT_EQ(in({"LANG=de_CH.UTF-8"}), "schweizerdeutsch");
  EXPECT_EQ(in({"LANG=de_DE.UTF-8"}), "english");
  EXPECT_EQ(in({}), "english");
  EXPECT_EQ(in({"LANG=de_CH.UTF-8", "LC_MESSAGES=it_IT.UTF-8"}), "italiano");
  EXPECT_EQ(in({"LC_MESSAGES=it_IT.UTF-8", "LC_ALL=C"}), "english");
}

// Every language of a package is sealed, unless some user would read the
// resources of several languages in a way no one seal stands for (neutral
// strings with payloads in two languages: an Italian user gets the Italian
// payload, while the seal the loader picks for him is the neutral one's).
TEST_F(PackTest, EachLanguageIsSealedWhereOneSealCanStandForItsUsers) {
  WriteFile(dir / "a.bin", "a");
  const std::string item = " 101 \"a.bin|<APPPATH>Tessiro/|N|\"";
  const struct {
    const char* what;
    std::string rc;
    int seals;  // lines "the package matches it"; 0: unsealed, with a note
  } rows[] = {
      {"one language", "STRINGTABLE { 100 \"1\"" + item + " }\n101 CUSTOM a.bin\n", 1},
      {"strings in three languages, the payload in one",
       "LANGUAGE 0x10, 1\nSTRINGTABLE { 100 \"1\"" + item + " }\nLANGUAGE 9, 1\nSTRINGTABLE { 100 \"1\"" + item +
           " }\nLANGUAGE 7, 2\nSTRINGTABLE { 100 \"1\"" + item + " }\n101 CUSTOM a.bin\n",
       3},
      {"neutral strings, payloads in two languages",
       "LANGUAGE 0, 0\nSTRINGTABLE { 100 \"1\"" + item + " }\nLANGUAGE 0x10, 1\n101 CUSTOM a.bin\n"
       "LANGUAGE 9, 1\n101 CUSTOM a.bin\n",
       0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const auto packed = Pack(r.rc);
    ASSERT_EQ(packed.status, 0) << packed.output;
    EXPECT_EQ(packed.output.find("the updater is not sealed") != std::string::npos, r.seals == 0) << packed.output;
    const auto listed = RunProgram({kPack, "--list", dir / "out"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    int matching = 0;
    for (std::size_t at = 0; (at = listed.output.find(": the package matches it", at)) != std::string::npos; ++at) {
      ++matching;
    }
    EXPECT_EQ(matching, r.seals) << listed.output;
  }
}

TEST_F(PackTest, RunTimeRefusalsStillPack) {
  EXPECT_EQ(Pack("STRINGTABLE { 100 \"0\" 101 \"x|y\" }\n").status, 0);
  EXPECT_EQ(Probe(dir / "out", {"s", "100"}), "0");
}

// Distributions strip every program they package: the package is a section
// of the program that every strip tool keeps, its bytes and its 64 KiB-aligned
// payloads unchanged, and the program reads it wherever the tool put it.
TEST_F(PackTest, ThePackageSurvivesEveryStripTool) {
  const std::string payload = PseudoRandomBytes(300000, 7);
  WriteFile(dir / "a.bin", payload);
  ASSERT_EQ(Pack("STRINGTABLE { 100 \"1\" 101 \"a.bin|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM a.bin\n").status, 0);
  const std::string packed = dir / "out", stripped = dir / "stripped", debug = dir / "stripped.debug";
  const auto listing = RunProgram({kPack, "--list", packed});
  ASSERT_EQ(listing.status, 0) << listing.output;
  ASSERT_EQ(RunProgram({"/usr/bin/objcopy", "--dump-section", ".note.tessiro=" + (dir / "section"), packed}).status, 0);
  using Steps = std::vector<std::vector<std::string>>;
  const struct {
    const char* tool;
    Steps steps;  // run in turn on `stripped`, a copy of the packed program
  } rows[] = {
      {"strip", {{"/usr/bin/strip", stripped}}},
      {"strip --strip-all", {{"/usr/bin/strip", "--strip-all", stripped}}},
      {"strip --strip-unneeded", {{"/usr/bin/strip", "--strip-unneeded", stripped}}},
      {"strip --strip-debug", {{"/usr/bin/strip", "--strip-debug", stripped}}},
      {"objcopy --strip-debug", {{"/usr/bin/objcopy", "--strip-debug", stripped}}},
      {"eu-strip", {{"/usr/bin/eu-strip", stripped}}},
      {"objcopy", {{"/usr/bin/objcopy", packed, stripped}}},
      {"dh_strip's steps",
       {{"/usr/bin/objcopy", "--only-keep-debug", "--compress-debug-sections", stripped, debug},
        {"/usr/bin/strip", "--remove-section=.comment", "--remove-section=.note", stripped},
        {"/usr/bin/objcopy", "--add-gnu-debuglink", debug, stripped}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.tool);
    std::filesystem::copy_file(packed, stripped, std::filesystem::copy_options::overwrite_existing);
    for (const auto& step : r.steps) {
      const auto done = RunProgram(step);
      ASSERT_EQ(done.status, 0) << done.output;
    }
    const auto after = RunProgram({kPack, "--list", stripped});
    ASSERT_EQ(after.status, 0) << after.output;
    EXPECT_EQ(after.output.substr(after.output.find('\n')), listing.output.substr(listing.output.find('\n')));
    ASSERT_EQ(RunProgram({"/usr/bin/objcopy", "--dump-section", ".note.tessiro=" + (dir / "again"), stripped}).status, 0);
    EXPECT_TRUE(ReadFile(dir / "again") == ReadFile(dir / "section")) << "the section's bytes changed";
    const std::string offset = Probe(stripped, {"d", "101", dir / "got"});
    EXPECT_EQ(std::stoull(offset.substr(7)) % 65536, 0u) << "payload not aligned: " << offset;
    EXPECT_TRUE(ReadFile(dir / "got") == payload);
  }
}

// The program with its section table grown to 65,279 sections (copies of the
// empty first one): one more would reach the counts that ELF stores elsewhere.
std::string ManySections(std::string elf) {
  const auto* header = reinterpret_cast<const uint8_t*>(elf.data());
  const uint64_t table = le::Get64(header + 40);
  const uint16_t count = le::Get16(header + 60);
  std::string sections = elf.substr(table, std::size_t{count} * elf::kSectionHeaderSize);
  sections.resize(std::size_t{0xFEFF} * elf::kSectionHeaderSize, '\0');
  const uint64_t new_table = le::AlignUp(elf.size(), 8);
  elf.resize(new_table);
  elf += sections;
  le::Put64(reinterpret_cast<uint8_t*>(elf.data()) + 40, new_table);
  le::Put16(reinterpret_cast<uint8_t*>(elf.data()) + 60, 0xFEFF);
  return elf;
}

// tessiro-pack reads only regular files, and a Linux stub only when it is a
// program of the updater's kind: anything else is refused at once, with the
// file named, and leaves nothing behind (a FIFO would otherwise wait forever).
TEST_F(PackTest, OnlyRegularFilesAndRealStubsAreRead) {
  WriteFile(dir / "a.bin", "x");
  WriteFile(dir / "p.rc", "STRINGTABLE { 100 \"1\" }\n101 CUSTOM a.bin\n");
  WriteFile(dir / "fifo.rc", "");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  WriteFile(dir / "empty", "");
  WriteFile(dir / "text", "#!/bin/sh\necho not a program\n");
  WriteFile(dir / "fifo-payload.rc", "STRINGTABLE { 100 \"1\" }\n101 CUSTOM fifo\n");
  const std::string probe = ReadFile(kProbe);
  WriteFile(dir / "cut", probe.substr(0, probe.size() - 100));
  WriteFile(dir / "many-sections", ManySections(probe));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{"--stub", kProbe, dir / "fifo", "-o", dir / "out"}, "fifo: error: not a regular file"},
      {{"--stub", dir / "fifo", dir / "p.rc", "-o", dir / "out"}, "fifo: error: not a regular file"},
      {{"--stub", kProbe, dir / "fifo-payload.rc", "-o", dir / "out"}, "payload file 'fifo' is not a regular file"},
      {{"--list", dir / "fifo"}, "fifo: error: not a regular file"},
      {{"--stub", "/dev/null", dir / "p.rc", "-o", dir / "out"}, "/dev/null: error: not a regular file"},
      {{"--stub", dir / "empty", dir / "p.rc", "-o", dir / "out"}, "not an updater stub"},
      {{"--stub", dir / "text", dir / "p.rc", "-o", dir / "out"}, "not an updater stub"},
      {{"--stub", dir / "cut", dir / "p.rc", "-o", dir / "out"},
       "not a usable Linux program: the program is cut short (its section table lies past its end)"},
      {{"--stub", dir / "many-sections", dir / "p.rc", "-o", dir / "out"}, "too many sections to add one"},
      {{"--stub", "/bin/sh", dir / "p.rc", "-o", dir / "out"}, ""},  // a program of the kind: packed
  };
  for (const auto& r : rows) {
    std::vector<std::string> argv{"/usr/bin/timeout", "10", kPack};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    const auto run = RunProgram(argv);
    EXPECT_EQ(run.status, *r.message ? 1 : 0) << r.args[1] << ": " << run.output;
    EXPECT_NE(run.output.find(r.message), std::string::npos) << run.output;
    if (*r.message) {
      EXPECT_FALSE(Exists(dir / "out"));
    }
    std::filesystem::remove(dir / "out");
    for (const auto& name : ListDir(dir.path())) EXPECT_EQ(name.find("out."), std::string::npos) << "left: " << name;
  }
}

// The C preprocessor runs with an empty environment and no standard input,
// and its end is awaited even where SIGCHLD is ignored: a script it refuses is
// refused.
TEST_F(PackTest, ThePreprocessorIsRunCleanlyAndItsEndDecides) {
  TempDir elsewhere;
  WriteFile(elsewhere / "ids.h", "#define IDS_COUNT 100\n");
  WriteFile(dir / "error.rc", "#error stop here\nSTRINGTABLE { 100 \"1\" }\n");
  WriteFile(dir / "ids.rc", "#include \"ids.h\"\nSTRINGTABLE { IDS_COUNT \"1\" }\n");
  const std::string pack = "'" + kPack + "' --stub '" + kProbe + "' ";
  const struct {
    std::string shell;  // run by /bin/sh
    int status;
    const char* message;
  } rows[] = {
      {"trap '' CHLD; exec " + pack + "'" + (dir / "error.rc") + "' -o out", 1, "#error stop here"},
      {"CPATH='" + elsewhere.path() + "' C_INCLUDE_PATH='" + elsewhere.path() + "' exec " + pack + "'" +
           (dir / "ids.rc") + "' -o out",
       1, "ids.h"},
      {"exec " + pack + "-I '' '" + (dir / "ids.rc") + "' -o out < /dev/null", 2, "-I needs a folder's name"},
      {"exec " + pack + "-I '" + elsewhere.path() + "' '" + (dir / "ids.rc") + "' -o out", 0, ""},
  };
  for (const auto& r : rows) {
    const auto run = RunProgram({"/bin/sh", "-c", r.shell}, dir.path());
    EXPECT_EQ(run.status, r.status) << r.shell << "\n" << run.output;
    EXPECT_NE(run.output.find(r.message), std::string::npos) << run.output;
    EXPECT_EQ(Exists(dir / "out"), r.status == 0) << r.shell;
    std::filesystem::remove(dir / "out");
  }
}

// Interrupted while it writes a large updater, tessiro-pack removes what it
// had written.
TEST_F(PackTest, AnInterruptedPackLeavesNothing) {
  WriteFile(dir / "big.bin", "");
  ASSERT_EQ(::truncate((dir / "big.bin").c_str(), off_t{2} << 30), 0);  // sparse: costs no disk until copied
  WriteFile(dir / "p.rc", "STRINGTABLE { 100 \"1\" }\n101 CUSTOM big.bin\n");
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t pid = Spawn({kPack, "--stub", kProbe, dir / "p.rc", "-o", dir / "out"}, dir.path());
    bool writing = false;  // the temporary output is there
    for (int k = 0; k < 400 && !writing; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (const auto& name : ListDir(dir.path())) writing |= name.rfind("out.", 0) == 0;
    }
    EXPECT_TRUE(writing) << "signal " << sig;
    ::kill(pid, sig);
    EXPECT_EQ(WaitExit(pid, 10000), 128 + sig);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"big.bin", "p.rc"})) << "signal " << sig;
  }
}

// A signal that arrives while the temporary output is being made waits until
// the handler knows its name, then removes it: raised at that very moment,
// so that no timing decides.
TEST_F(PackTest, ASignalWhileTheTemporaryIsMadeLeavesNothing) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child makes its temporary in this test's folder
  static std::string out;
  out = dir / "out";
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    static int raised;
    raised = sig;
    EXPECT_EXIT(
        {
          pack::TempOutput temp(out, [] { ::raise(raised); });
          std::_Exit(0);
        },
        ::testing::KilledBySignal(sig), "");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{}) << "signal " << sig;
  }
}

void WriteAt(const std::string& path, uint64_t offset, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// The checksums come from the bytes written, and a source that is no longer
// the file that was planned is refused, whether it changed before the copy or
// while it was copied (here, right after its first piece: no timing decides).
TEST_F(PackTest, APayloadNotAsPlannedIsRefused) {
  const std::string bytes = PseudoRandomBytes((20 << 20) + 12345, 31);
  const std::string path = dir / "a.bin";
  using Change = void (*)(const std::string& path, pack::SourceFile& planned);
  const struct {
    const char* what;
    Change before, during;
  } rows[] = {
      {"as planned", nullptr, nullptr},
      {"cut short before", [](const std::string&, pack::SourceFile& f) { f.size += 3000; }, nullptr},
      {"edited before", [](const std::string&, pack::SourceFile& f) { f.mtime_ns -= 1; }, nullptr},
      {"replaced before", [](const std::string&, pack::SourceFile& f) { f.inode += 1; }, nullptr},
      {"cut short while copied", nullptr,
       [](const std::string& p, pack::SourceFile&) { ASSERT_EQ(::truncate(p.c_str(), 10 << 20), 0); }},
      {"grown while copied", nullptr,
       [](const std::string& p, pack::SourceFile&) { WriteAt(p, std::filesystem::file_size(p), "more"); }},
      {"edited in place while copied", nullptr,
       [](const std::string& p, pack::SourceFile&) { WriteAt(p, 15 << 20, "x"); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    WriteFile(path, bytes);
    const timespec long_ago[2] = {{946684800, 0}, {946684800, 0}};  // any write since makes a new time
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), long_ago, 0), 0);
    pack::SourceFile source = pack::StatSource(path);
    if (r.before) r.before(path, source);
    bool changed = false;
    pack::TempOutput out(dir / "out");
    try {
      const auto sums = pack::CopyPayloads({source}, {65536}, out.fd(), true, [&](std::size_t) {
        if (r.during && !changed) r.during(path, source);
        changed = true;
      });
      EXPECT_STREQ(r.what, "as planned");
      ASSERT_EQ(sums.digests.size(), 1u);
      EXPECT_EQ(std::string(sums.digests[0].begin(), sums.digests[0].end()), RecordedChecksum(bytes));
      EXPECT_EQ(sums.words, pe::SumWords({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
    } catch (const pack::PackError& e) {
      EXPECT_STRNE(r.what, "as planned") << e.what();
      EXPECT_NE(std::string(e.what()).find("a.bin: error: the file changed while it was packed"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"a.bin"});
}

// --delta-from: each payload with a previous version becomes its delta (or,
// unchanged, a header alone), one without stays whole and is named, one whose
// delta would not be smaller stays whole; --list says what each needs.
TEST_F(PackTest, DeltasAreMadeWhereTheyPayAndListed) {
  std::string text;
  for (int k = 0; k < 3000; ++k) text += "riga " + std::to_string(k) + "\n";
  const std::string changed = text.substr(0, 9000) + "nuova riga\n" + text.substr(9000);
  std::filesystem::create_directories(dir / "old");
  WriteFile(dir / "old/a.txt", text);
  WriteFile(dir / "old/b.txt", "uguale");
  WriteFile(dir / "old/r.bin", PseudoRandomBytes(20000, 1));
  WriteFile(dir / "a.txt", changed);
  WriteFile(dir / "b.txt", "uguale");
  WriteFile(dir / "r.bin", PseudoRandomBytes(20000, 2));
  WriteFile(dir / "c.txt", "nuovo");
  // Previous versions that are no regular files: as none at all.
  std::filesystem::create_directories(dir / "odd/b.txt");
  ASSERT_EQ(::mkfifo((dir / "odd/a.txt").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "odd/r.bin");
  const std::string rc =
      "STRINGTABLE { 100 \"4\" 101 \"a.txt|<APPPATH>T/|N|\" 102 \"b.txt|<APPPATH>T/|N|\" "
      "103 \"r.bin|<APPPATH>T/|N|\" 104 \"c.txt|<APPPATH>T/|N|\" }\n"
      "101 CUSTOM a.txt\n102 CUSTOM b.txt\n103 CUSTOM r.bin\n104 CUSTOM c.txt\n";
  const struct {
    const char* what;
    std::vector<std::string> options;
    int status;
    std::vector<std::string> said, listed;  // each must appear
  } rows[] = {
      {"--with-full alone", {"--with-full"}, 2, {"usage:"}, {}},
      {"no such folder", {"--delta-from", dir / "nowhere"}, 1, {"--delta-from needs the folder"}, {}},
      {"deltas",
       {"--delta-from", dir / "old"},
       0,
       {"note: no previous version of c.txt"},
       {"payload DELTA 101", "delta (plain): needs the installed file of " + std::to_string(text.size()) + " bytes",
        "makes " + std::to_string(changed.size()) + " bytes", "payload DELTA 102", "unchanged: keeps the installed file of 6 bytes",
        "payload CUSTOM 103", "payload CUSTOM 104", "the package matches it"}},
      {"previous versions that are a FIFO, a folder, a link to a device, and none",
       {"--delta-from", dir / "odd"},
       0,
       {"note: no previous version of a.txt, b.txt, r.bin, c.txt in"},
       {"payload CUSTOM 101", "payload CUSTOM 102", "payload CUSTOM 103", "payload CUSTOM 104"}},
      {"deltas beside the files whole",
       {"--delta-from", dir / "old", "--with-full", "--compress"},
       0,
       {},
       {"payload ZSTD 101", "payload DELTA 101", "its streams match their checksum", "payload CUSTOM 102",
        "payload DELTA 102", "payload CUSTOM 103"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(dir / "out");
    const auto packed = Pack(rc, row.options);
    EXPECT_EQ(packed.status, row.status) << packed.output;
    for (const auto& s : row.said) EXPECT_NE(packed.output.find(s), std::string::npos) << packed.output;
    if (row.status != 0) continue;
    const auto listed = RunProgram({kPack, "--list", dir / "out"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    for (const auto& s : row.listed) EXPECT_NE(listed.output.find(s), std::string::npos) << s << "\n" << listed.output;
    EXPECT_EQ(listed.output.find("payload DELTA 103"), std::string::npos) << "a delta larger than its file";
  }
}

}  // namespace
}  // namespace ttu::test
