// ZIP archives as real tools make them are read whole, and crafted ones that
// lie (counts, offsets, sizes, names, members over each other, several disks)
// are refused with the reason, never read past their bytes.
#include "support/zip_archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/little_endian.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A stored-only archive laid out by hand, so that each row can make one field lie.
struct Crafted {
  struct Entry {
    Entry(std::string n, std::string d, uint16_t m = zip::kStored, uint64_t said = UINT64_MAX, std::string local = "")
        : name(std::move(n)), data(std::move(d)), method(m), size_said(said), local_name(std::move(local)) {}
    std::string name, data;
    uint16_t method;
    uint64_t size_said;      // the inflated size the directory says (UINT64_MAX: the data's)
    std::string local_name;  // the local header's name (empty: the same)
  };
  using PatchEntry = std::function<void(Bytes& central, std::size_t entry_at, std::size_t k)>;
  using PatchEnd = std::function<void(Bytes& end)>;
  Crafted(std::vector<Entry> e, PatchEntry pe = {}, PatchEnd pend = {})
      : entries(std::move(e)), patch_entry(std::move(pe)), patch_end(std::move(pend)) {}
  std::vector<Entry> entries;
  PatchEntry patch_entry;
  PatchEnd patch_end;

  Bytes Make() const {
    Bytes out, central;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const Entry& e = entries[k];
      const auto offset = static_cast<uint32_t>(out.size());
      const std::string& local = e.local_name.empty() ? e.name : e.local_name;
      const auto size = static_cast<uint32_t>(e.size_said == UINT64_MAX ? e.data.size() : e.size_said);
      for (uint32_t v : {0x04034b50u}) le::Append32(out, v);
      for (uint16_t v : {uint16_t{20}, uint16_t{0}, e.method, uint16_t{0}, uint16_t{0}}) le::Append16(out, v);
      for (uint32_t v : {0u, static_cast<uint32_t>(e.data.size()), size}) le::Append32(out, v);
      le::Append16(out, static_cast<uint16_t>(local.size())), le::Append16(out, 0);
      out.insert(out.end(), local.begin(), local.end());
      out.insert(out.end(), e.data.begin(), e.data.end());
      const std::size_t at = central.size();
      le::Append32(central, 0x02014b50);
      for (uint16_t v : {uint16_t{20}, uint16_t{20}, uint16_t{0}, e.method, uint16_t{0}, uint16_t{0}}) le::Append16(central, v);
      for (uint32_t v : {0u, static_cast<uint32_t>(e.data.size()), size}) le::Append32(central, v);
      for (uint16_t v : {static_cast<uint16_t>(e.name.size()), uint16_t{0}, uint16_t{0}, uint16_t{0}, uint16_t{0}}) {
        le::Append16(central, v);
      }
      le::Append32(central, 0), le::Append32(central, offset);
      central.insert(central.end(), e.name.begin(), e.name.end());
      if (patch_entry) patch_entry(central, at, k);
    }
    Bytes end;
    le::Append32(end, 0x06054b50);
    for (uint16_t v : {uint16_t{0}, uint16_t{0}, static_cast<uint16_t>(entries.size()), static_cast<uint16_t>(entries.size())}) {
      le::Append16(end, v);
    }
    le::Append32(end, static_cast<uint32_t>(central.size())), le::Append32(end, static_cast<uint32_t>(out.size()));
    le::Append16(end, 0);
    if (patch_end) patch_end(end);
    out.insert(out.end(), central.begin(), central.end());
    out.insert(out.end(), end.begin(), end.end());
    return out;
  }
};

std::optional<zip::Archive> ReadBytes(const Bytes& b, std::string* damage) {
  return zip::ReadArchive(MemorySource(b), damage);
}

// Every member's bytes, read at the offset the reader found, are what was put in.
void ExpectStoredMembers(const Bytes& archive, const std::vector<std::pair<std::string, std::string>>& want) {
  std::string damage;
  const auto a = ReadBytes(archive, &damage);
  ASSERT_TRUE(a) << damage;
  ASSERT_EQ(a->members.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    const zip::Member& m = a->members[k];
    EXPECT_EQ(m.name, want[k].first);
    if (m.method != zip::kStored) continue;
    EXPECT_EQ(std::string(archive.begin() + static_cast<std::ptrdiff_t>(m.data_offset),
                          archive.begin() + static_cast<std::ptrdiff_t>(m.data_offset + m.size)),
              want[k].second);
  }
}

TEST(ZipArchive, ArchivesMadeByRealToolsAreReadWhole) {
  TempDir dir;
  WriteFile(dir.path() + "/a.txt", std::string(5000, 'a'));
  WriteFile(dir.path() + "/b.bin", PseudoRandomBytes(3000, 7));
  const std::vector<std::pair<std::string, std::string>> want = {{"a.txt", std::string(5000, 'a')},
                                                                 {"b.bin", PseudoRandomBytes(3000, 7)}};
  // Info-ZIP, Python deflating into a file, forced ZIP64, and written to a pipe (data descriptors).
  const std::string py = "import sys,zipfile\nz=zipfile.ZipFile(%s,'w',zipfile.ZIP_DEFLATED)\n"
                         "for n in ['a.txt','b.bin']:\n z.write(n) if %s else z.writestr(n,open(n,'rb').read())\n"
                         "if %s:\n with z.open('c',mode='w',force_zip64=True) as f: f.write(b'c')\nz.close()\n";
  auto python = [&](const char* to, const char* write, const char* zip64) {
    char script[512];
    std::snprintf(script, sizeof script, py.c_str(), to, write, zip64);
    return std::string(script);
  };
  const std::vector<std::pair<std::string, std::vector<std::string>>> makers = {
      {"zip", {"/usr/bin/zip", "-q", "-X", "out.zip", "a.txt", "b.bin"}},
      {"python", {"/usr/bin/python3", "-c", python("'out.zip'", "True", "False")}},
      {"python zip64", {"/usr/bin/python3", "-c", python("'out.zip'", "True", "True")}},
      {"python to a pipe", {"/bin/sh", "-c", "/usr/bin/python3 -c \"$0\" | cat > out.zip",
                            python("sys.stdout.buffer", "False", "True")}},
  };
  for (const auto& [what, argv] : makers) {
    SCOPED_TRACE(what);
    ::unlink((dir.path() + "/out.zip").c_str());
    const auto made = RunProgram(argv, dir.path());
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string bytes = ReadFile(dir.path() + "/out.zip");
    auto w = want;
    if (what.find("zip64") != std::string::npos || what.find("pipe") != std::string::npos) w.push_back({"c", "c"});
    ExpectStoredMembers(Bytes(bytes.begin(), bytes.end()), w);
  }
}

TEST(ZipArchive, ArchivesThatLieAreRefusedWithTheReason) {
  const Crafted::Entry one{"one", "first member"}, two{"two", "second member"};
  struct Row {
    const char* what;
    Crafted archive;
    const char* damage;  // nullptr: read whole
  };
  const std::vector<Row> rows = {
      {"two stored members", {{one, two}}, nullptr},
      {"no members", {{}}, nullptr},
      {"a count larger than the directory", {{one}, {}, [](Bytes& e) { le::Put16(e, 8, 500), le::Put16(e, 10, 500); }},
       "counts more members"},
      {"a directory past the end", {{one}, {}, [](Bytes& e) { le::Put32(e, 16, 1u << 30); }},
       "central directory lies outside"},
      {"a directory larger than the file", {{one}, {}, [](Bytes& e) { le::Put32(e, 12, 1u << 30); }},
       "central directory lies outside"},
      {"several disks", {{one}, {}, [](Bytes& e) { le::Put16(e, 4, 1); }}, "several disks"},
      {"a ZIP64 record it does not have", {{one}, {}, [](Bytes& e) { le::Put32(e, 16, 0xFFFFFFFF); }}, "ZIP64"},
      {"a member whose header offset points into another's bytes",
       {{one, two}, [](Bytes& c, std::size_t at, std::size_t k) { if (k == 1) le::Put32(c, at + 42, 35); }},
       "local header is missing"},
      {"two entries for one member",
       {{one, Crafted::Entry{"one", "again"}},
        [](Bytes& c, std::size_t at, std::size_t k) { if (k == 1) le::Put32(c, at + 42, 0); }},
       "overlap"},
      {"an entry naming another member's header",
       {{one, two}, [](Bytes& c, std::size_t at, std::size_t k) { if (k == 1) le::Put32(c, at + 42, 0); }},
       "local header names another file"},
      {"a member past the directory",
       {{one}, [](Bytes& c, std::size_t at, std::size_t) { le::Put32(c, at + 42, 1u << 20); }},
       "outside the archive"},
      {"a compressed size past the directory",
       {{one}, [](Bytes& c, std::size_t at, std::size_t) { le::Put32(c, at + 20, 1000); }}, "run past"},
      {"another name in the local header", {{Crafted::Entry{"one", "x", zip::kStored, UINT64_MAX, "evil"}}},
       "names another file"},
      {"a stored member whose sizes differ", {{Crafted::Entry{"one", "x", zip::kStored, 5}}}, "sizes differ"},
      {"a deflated member that says 4 GB from 100 bytes",
       {{Crafted::Entry{"bomb", std::string(100, 'x'), zip::kDeflated, 0xFFFFFFFE}}}, "more than deflate can make"},
      {"a comment that does not reach the end",
       {{one}, {}, [](Bytes& e) { le::Put16(e, 20, 3); }}, "no ZIP end record"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes bytes = row.archive.Make();
    std::string damage;
    const auto a = ReadBytes(bytes, &damage);
    if (!row.damage) {
      ExpectStoredMembers(bytes, [&] {
        std::vector<std::pair<std::string, std::string>> w;
        for (const auto& e : row.archive.entries) w.push_back({e.name, e.data});
        return w;
      }());
      continue;
    }
    EXPECT_FALSE(a);
    EXPECT_NE(damage.find(row.damage), std::string::npos) << damage;
    // Cut anywhere, the archive is refused or read with every member inside what is left.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      if (const auto p = ReadBytes(part, nullptr)) {
        for (const auto& m : p->members) EXPECT_LE(m.end, cut);
      }
    }
  }
}

}  // namespace
}  // namespace ttu::test
