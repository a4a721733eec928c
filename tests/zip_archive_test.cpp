// ZIP archives as real tools make them are read whole, and crafted ones that
// lie (counts, offsets, sizes, names, members over each other, several disks)
// are refused with the reason, never read past their bytes.
#include "support/zip_archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/deflate.h"
#include "support/little_endian.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Members = std::vector<std::pair<std::string, std::string>>;
// Makes one field lie: given the archive, its central entries' offsets and its end record's.
using Patch = std::function<void(Bytes& archive, const std::vector<std::size_t>& entries, std::size_t end)>;

// Each member, read where the reader says its bytes are (inflated where deflated), is what was put in.
void ExpectMembers(const Bytes& archive, const Members& want) {
  std::string damage;
  const auto a = zip::ReadArchive(MemorySource(archive), &damage);
  ASSERT_TRUE(a) << damage;
  ASSERT_EQ(a->members.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    const zip::Member& m = a->members[k];
    const auto bytes = std::span(archive).subspan(m.data_offset, m.compressed_size);
    const auto data = m.method == zip::kStored ? Bytes(bytes.begin(), bytes.end()) : deflater::Inflate(bytes, m.size);
    EXPECT_EQ(m.name, want[k].first);
    ASSERT_TRUE(data);
    EXPECT_EQ(std::string(data->begin(), data->end()), want[k].second);
  }
}

// Little-endian fields of the given widths, appended.
void Put(Bytes& b, std::initializer_list<std::pair<int, uint64_t>> fields) {
  for (const auto& [width, v] : fields) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

// Stored members laid out by hand.
Bytes Crafted(const Members& members, const Patch& patch) {
  Bytes out, central;
  std::vector<std::size_t> entries;
  for (const auto& [name, data] : members) {
    const uint64_t offset = out.size();
    Put(out, {{4, 0x04034b50}, {2, 20}, {2, 0}, {2, 0}, {4, 0}, {4, 0}, {4, data.size()}, {4, data.size()},
              {2, name.size()}, {2, 0}});
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), data.begin(), data.end());
    entries.push_back(central.size());
    Put(central, {{4, 0x02014b50}, {2, 20}, {2, 20}, {2, 0}, {2, 0}, {4, 0}, {4, 0}, {4, data.size()},
                  {4, data.size()}, {2, name.size()}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {4, 0}, {4, offset}});
    central.insert(central.end(), name.begin(), name.end());
  }
  for (auto& e : entries) e += out.size();
  const uint64_t directory = out.size();
  out.insert(out.end(), central.begin(), central.end());
  const std::size_t end = out.size();
  Put(out, {{4, 0x06054b50}, {2, 0}, {2, 0}, {2, members.size()}, {2, members.size()}, {4, central.size()},
            {4, directory}, {2, 0}});
  if (patch) patch(out, entries, end);
  return out;
}

TEST(ZipArchive, ArchivesMadeByRealToolsAreReadWhole) {
  TempDir dir;
  const Members files = {{"a.txt", std::string(5000, 'a')}, {"b.bin", PseudoRandomBytes(3000, 7)}};
  for (const auto& [name, data] : files) WriteFile(dir.path() + "/" + name, data);
  // Python: deflating into a file; a ZIP64 member added; written to a pipe (data descriptors).
  const std::string script = "import sys,zipfile\nz=zipfile.ZipFile(%s,'w',zipfile.ZIP_DEFLATED)\n"
                             "for n in ['a.txt','b.bin']: z.writestr(n,open(n,'rb').read())\n"
                             "with z.open('c',mode='w',force_zip64=%s) as f: f.write(b'c')\nz.close()\n";
  const auto python = [&](const char* to, const char* zip64) {
    char s[512];
    std::snprintf(s, sizeof s, script.c_str(), to, zip64);
    return std::vector<std::string>{"/bin/sh", "-c", "/usr/bin/python3 -c \"$0\" | cat > out.zip", s};
  };
  Members with_c = files;
  with_c.push_back({"c", "c"});
  const std::vector<std::tuple<const char*, std::vector<std::string>, Members>> makers = {
      {"Info-ZIP", {"/usr/bin/zip", "-q", "-X", "out.zip", "a.txt", "b.bin"}, files},
      {"Python", python("open('out.zip','wb')", "False"), with_c},
      {"Python, ZIP64", python("open('out.zip','wb')", "True"), with_c},
      {"Python to a pipe, ZIP64", python("sys.stdout.buffer", "True"), with_c}};
  for (const auto& [what, argv, want] : makers) {
    SCOPED_TRACE(what);
    ::unlink((dir.path() + "/out.zip").c_str());
    const auto made = RunProgram(argv, dir.path());
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string bytes = ReadFile(dir.path() + "/out.zip");
    ExpectMembers(Bytes(bytes.begin(), bytes.end()), want);
  }
}

TEST(ZipArchive, ArchivesThatLieAreRefusedWithTheReason) {
  const Members two = {{"one", "first member"}, {"two", "second member"}};
  const Members twice = {{"one", "first member"}, {"one", "again"}};
  const Members none;
  const std::vector<std::tuple<const char*, Members, Patch, const char*>> rows = {
      {"two stored members", two, {}, nullptr},
      {"no members", none, {}, nullptr},
      {"a count larger than the directory", two,
       [](Bytes& a, auto&, std::size_t end) { le::Put16(a, end + 8, 500), le::Put16(a, end + 10, 500); },
       "counts more members"},
      {"a directory past the end", two, [](Bytes& a, auto&, std::size_t end) { le::Put32(a, end + 16, 1u << 30); },
       "central directory lies outside"},
      {"a directory larger than the file", two,
       [](Bytes& a, auto&, std::size_t end) { le::Put32(a, end + 12, 1u << 30); }, "central directory lies outside"},
      {"several disks", two, [](Bytes& a, auto&, std::size_t end) { le::Put16(a, end + 4, 1); }, "several disks"},
      {"a ZIP64 record it does not have", two,
       [](Bytes& a, auto&, std::size_t end) { le::Put32(a, end + 16, 0xFFFFFFFF); }, "ZIP64"},
      {"a comment that does not reach the end", two, [](Bytes& a, auto&, std::size_t end) { le::Put16(a, end + 20, 3); },
       "no ZIP end record"},
      {"a header offset inside another member", two, [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[1] + 42, 35); },
       "local header is missing"},
      {"two entries for one member", twice, [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[1] + 42, 0); },
       "overlap"},
      {"an entry naming another member's header", two,
       [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[1] + 42, 0); }, "names another file"},
      {"a member past the directory", two, [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[0] + 42, 1u << 20); },
       "outside the archive"},
      {"a compressed size past the directory", two,
       [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[0] + 20, 1000); }, "run past"},
      {"another name in the local header", two, [](Bytes& a, auto&, std::size_t) { a[30] = 'X'; },
       "names another file"},
      {"a stored member whose sizes differ", two, [](Bytes& a, auto& e, std::size_t) { le::Put32(a, e[0] + 24, 5); },
       "sizes differ"},
      {"a deflated member that says 4 GB", two,
       [](Bytes& a, auto& e, std::size_t) { le::Put16(a, 8, 8), le::Put16(a, e[0] + 10, 8), le::Put32(a, e[0] + 24, ~1u); },
       "more than deflate can make"},
  };
  for (const auto& [what, members, patch, damage] : rows) {
    SCOPED_TRACE(what);
    const Bytes bytes = Crafted(members, patch);
    if (!damage) {
      ExpectMembers(bytes, members);
      continue;
    }
    std::string why;
    EXPECT_FALSE(zip::ReadArchive(MemorySource(bytes), &why));
    EXPECT_NE(why.find(damage), std::string::npos) << why;
    // Cut anywhere, it is refused or read with every member inside what is left.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      if (const auto p = zip::ReadArchive(MemorySource(std::span(bytes).first(cut)))) {
        for (const auto& m : p->members) EXPECT_LE(m.end, cut);
      }
    }
  }
}

}  // namespace
}  // namespace ttu::test
