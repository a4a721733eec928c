// ZIP deltas: whatever changed between two archives, the updater's rebuild
// makes the new archive byte for byte from the old one, deflating again only
// the members that changed; an archive zlib cannot re-make travels as a plain
// delta; and a base or a plan that is not what it should be gives no archive.
#include "support/zip_delta.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/little_endian.h"
#include "tests/test_util.h"
#include "tests/word_text.h"
#include "tests/zip_maker.h"
#include "tools/pack/delta_builder.h"
#include "tools/pack/zip_delta_builder.h"
#include "tools/pack/zip_redeflate.h"

namespace ttu::test {
namespace {

using Bytes = std::vector<uint8_t>;
using deflater::Settings;
using deflater::Strategy;

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr std::size_t kAny = SIZE_MAX;

// The archive `payload` makes from `base`, through the updater's rebuild.
Bytes Rebuilt(const Bytes& payload, const Bytes& base) {
  Bytes made;
  const auto sink = [&](const uint8_t* p, std::size_t n) { made.insert(made.end(), p, p + n); };
  MemoryScratch scratch;
  if (delta::DecodeHeader(payload)->kind == delta::Kind::kZip) {
    zipdelta::Apply(MemorySource(payload), MemorySource(base), scratch, sink);
  } else {
    delta::Apply(MemorySource(payload), MemorySource(base), sink);
  }
  return made;
}

// The packer's ZIP delta, from copies (it empties the files it is given).
std::optional<Bytes> ZipDeltaOf(Bytes old_file, Bytes new_file, const std::string& what, pack::ZipFindings& found) {
  return pack::ZipDeltaPayload(old_file, new_file, 19, what, found);
}

// Text with a few words changed every `every` bytes.
std::string Edited(std::string text, std::size_t every) {
  for (std::size_t k = every / 2; k + 8 < text.size(); k += every) text.replace(k, 5, "[new]");
  return text;
}

// Archives made the way a tool makes them, from a shell command run in `dir`
// over the files a.txt, b.txt.
Bytes MadeBy(const std::string& command, const std::string& a, const std::string& b) {
  TempDir dir;
  WriteFile(dir.path() + "/a.txt", a), WriteFile(dir.path() + "/b.txt", b);
  const auto made = RunProgram({"/bin/sh", "-c", command}, dir.path());
  EXPECT_EQ(made.status, 0) << made.output;
  return Of(ReadFile(dir.path() + "/out.zip"));
}

TEST(ZipDelta, EveryPairOfArchivesRebuildsByteForByte) {
  const std::string a = WordText(200000, 1), b = ReadFile(TTU_PACK_EXE).substr(0, 300000), c = WordText(50000, 3),
                    d = WordText(30000, 4), a2 = Edited(a, 40000), b2 = b.substr(0, 150000) + "patch" + b.substr(150005);
  const Settings six, stored{0};
  const std::vector<ZipEntry> v1 = {{"a.txt", a, six}, {"b.bin", b, six}, {"c.txt", c, stored}, {"d.txt", d, six}};
  const auto with = [&](std::vector<ZipEntry> e, const std::function<void(std::vector<ZipEntry>&)>& change) {
    change(e);
    return Of(MakeZip(e));
  };
  const std::string python = "/usr/bin/python3 -c \"import zipfile\nz=zipfile.ZipFile('out.zip','w',zipfile.ZIP_DEFLATED)\n"
                             "for n in ['a.txt','b.txt']:\n with z.open(n,'w',force_zip64=True) as f: f.write(open(n,'rb').read())\"";
  struct Row {
    std::string what;
    Bytes old_file, new_file;
    std::size_t remade;  // members deflated again (0: a plain delta; kAny: whatever the packer finds)
    double at_most;      // of the new archive's size
  };
  std::vector<Row> rows = {
      {"a member changed", Of(MakeZip(v1)), with(v1, [&](auto& e) { e[0].data = a2; }), 1, 0.02},
      {"a program member patched", Of(MakeZip(v1)), with(v1, [&](auto& e) { e[1].data = b2; }), 1, 0.01},
      {"a member added", Of(MakeZip(v1)), with(v1, [&](auto& e) { e.push_back({"e.txt", WordText(9000, 5), six}); }), 1, 0.03},
      {"a member removed", Of(MakeZip(v1)), with(v1, [&](auto& e) { e.erase(e.begin() + 3); }), 0, 0.01},
      {"members reordered, one changed", Of(MakeZip(v1)),
       with(v1, [&](auto& e) { std::swap(e[0], e[3]), e[3].data = a2; }), 1, 0.02},
      {"a member renamed", Of(MakeZip(v1)), with(v1, [&](auto& e) { e[3].name = "dd.txt"; }), 0, 0.01},
      {"a stored member changed", Of(MakeZip(v1)), with(v1, [&](auto& e) { e[2].data = Edited(c, 10000); }), 0, 0.01},
      {"a stored member now deflated", Of(MakeZip(v1)), with(v1, [&](auto& e) { e[2].settings = six; }), 1, 0.05},
      {"ZIP64, by Python", MadeBy(python, a, c), MadeBy(python, a2, c), 1, 0.02},
      {"Info-ZIP's deflate", MadeBy("zip -q -X -6 out.zip a.txt b.txt", a, b),
       MadeBy("zip -q -X -6 out.zip a.txt b.txt", a, b2), kAny, 0.6},
      {"a deflater zlib cannot re-make", Of(MakeZip({{"a.txt", a, stored, true}})),
       Of(MakeZip({{"a.txt", a2, stored, true}})), 0, 0.03},
  };
  for (int level = 1; level <= 9; ++level) {
    for (Strategy s : {Strategy::kDefault, Strategy::kFiltered, Strategy::kHuffmanOnly, Strategy::kRle, Strategy::kFixed}) {
      const bool odd = s == Strategy::kDefault && (level == 4 || level == 7);  // a larger memory, a smaller window
      const Settings at{level, s, odd && level == 4 ? 9 : 8, odd && level == 7 ? 12 : 15};
      const std::vector<ZipEntry> old_e = {{"x.txt", WordText(40000, 9), at}, {"y.txt", d, at}};
      rows.push_back({"level " + std::to_string(level) + ", strategy " + std::to_string(static_cast<int>(s)),
                      Of(MakeZip(old_e)), with(old_e, [&](auto& e) { e[0].data = Edited(e[0].data, 15000); }), 1,
                      s == Strategy::kHuffmanOnly ? 0.1 : 0.05});
    }
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    pack::ZipFindings found;
    const auto zipped = ZipDeltaOf(row.old_file, row.new_file, row.what, found);
    EXPECT_TRUE(found.archives);
    if (row.remade != kAny) {
      EXPECT_EQ(zipped ? found.plan.file.size() : 0, row.remade);
    }
    const Bytes payload = zipped ? *zipped : pack::DeltaPayload(row.old_file, row.new_file, 19, row.what);
    EXPECT_TRUE(Rebuilt(payload, row.old_file) == row.new_file);
    EXPECT_LE(static_cast<double>(payload.size()), row.at_most * static_cast<double>(row.new_file.size()) + 300);
  }
}

// --redeflate-zips: an archive another deflater made (Info-ZIP, with ZIP64
// fields, with data descriptors, both) is written again with the same members
// in bytes this zlib re-makes, so that the delta between two versions so
// written re-makes every changed member; one zlib made is left as it is.
TEST(ZipDelta, ArchivesOfOtherDeflatersAreWrittenAgainWithTheSameMembers) {
  const std::string a = WordText(150000, 31), b = ReadFile(TTU_PACK_EXE).substr(0, 200000), a2 = Edited(a, 30000);
  const struct {
    const char* what;
    std::string command;
    std::size_t members;  // written again
  } rows[] = {
      // (Info-ZIP deflates this text as zlib does; its program member, not.)
      {"Info-ZIP", "zip -q -X -6 out.zip a.txt b.txt", 1},
      {"Info-ZIP, ZIP64", "zip -q -X -fz -6 out.zip a.txt b.txt", 1},
      {"Info-ZIP to a pipe (data descriptors)", "zip -q -X -6 - a.txt b.txt | cat > out.zip", 1},
      {"zlib already", "/usr/bin/python3 -c \"import zipfile\nz=zipfile.ZipFile('out.zip','w',zipfile.ZIP_DEFLATED)\n"
                       "for n in ['a.txt','b.txt']: z.write(n)\"", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes old_file = MadeBy(row.command, a, b), new_file = MadeBy(row.command, a2, b);
    std::string why;
    const auto old_again = pack::RedeflateArchive(old_file, &why), new_again = pack::RedeflateArchive(new_file, &why);
    EXPECT_EQ(why, "");
    ASSERT_EQ(new_again.has_value(), row.members != 0);
    if (!new_again) continue;
    EXPECT_EQ(new_again->members, row.members);
    // The same members, read as any tool reads them.
    TempDir dir;
    WriteFile(dir.path() + "/again.zip", std::string(new_again->archive.begin(), new_again->archive.end()));
    const auto listed = RunProgram({"/usr/bin/unzip", "-p", "again.zip", "a.txt"}, dir.path());
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(listed.output == a2);
    EXPECT_EQ(RunProgram({"/usr/bin/unzip", "-tq", "again.zip"}, dir.path()).status, 0);
    pack::ZipFindings found;
    const auto payload = ZipDeltaOf(old_again->archive, new_again->archive, row.what, found);
    ASSERT_TRUE(payload);
    EXPECT_EQ(found.plan.file.size(), found.plan.changed);
    EXPECT_TRUE(Rebuilt(*payload, old_again->archive) == new_again->archive);
    EXPECT_LT(payload->size(), new_file.size() / 20);
  }
}

// A base that is another version, or a plan that lies, gives no archive: the
// rebuild stops with the reason, before or as soon as it would go wrong.
TEST(ZipDelta, AnotherBaseOrAPlanThatLiesGivesNoArchive) {
  const std::string a = WordText(100000, 21);
  const Bytes old_file = Of(MakeZip({{"a.txt", a, {}}, {"n.txt", "unchanged", {}}}));
  const Bytes new_file = Of(MakeZip({{"a.txt", Edited(a, 20000), {}}, {"n.txt", "unchanged", {}}}));
  pack::ZipFindings found;
  const Bytes payload = *ZipDeltaOf(old_file, new_file, "test", found);
  const zipdelta::Layout layout = zipdelta::ReadLayout(MemorySource(payload));
  // The payload again with its plan changed by `lie`.
  const auto planned = [&](const std::function<void(zipdelta::Plan&)>& lie) {
    zipdelta::Plan plan = layout.plan;
    lie(plan);
    Bytes frame, out(payload.begin(), payload.begin() + delta::kHeaderSize);
    pack::AppendDeltaFrame(frame, zipdelta::EncodePlan(plan), 3, "test");
    le::Append64(out, frame.size());
    out.insert(out.end(), frame.begin(), frame.end());
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(layout.inner_offset), payload.end());
    return out;
  };
  const auto changed = [&](std::size_t at) {
    Bytes b = old_file;
    b[at] ^= 1;
    return b;
  };
  const uint64_t member = layout.plan.base.at(0).offset;
  const struct {
    const char* what;
    Bytes delta, base;
    const char* why;
  } rows[] = {
      {"a byte of the inflated member changed", payload, changed(member + 500), "checksum"},
      {"a byte of the unchanged member changed", payload, changed(old_file.size() - 200), "checksum"},
      {"a base one byte short", payload, Bytes(old_file.begin(), old_file.end() - 1), "not the one"},
      {"members over each other", planned([](auto& p) { p.base.push_back(p.base[0]); }), old_file, "over another"},
      {"a member inflating past deflate's ratio", planned([](auto& p) { p.base[0].size = p.base[0].deflated * 2000; }),
       old_file, "over another"},
      {"a member past the archive", planned([](auto& p) { p.file[0].offset += 1u << 30; }), old_file, "outside"},
      {"settings zlib does not have", planned([](auto& p) { p.file[0].settings.level = 10; }), old_file, "settings"},
      {"other settings", planned([](auto& p) { p.file[0].settings.level = 1; }), old_file, "deflating a member again"},
      {"a member's size", planned([](auto& p) { p.file[0].size -= 1; }), old_file, "size"},
      {"a plan cut short", Bytes(payload.begin(), payload.begin() + delta::kHeaderSize + 12), old_file, "plan"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    uint64_t made = 0;
    MemoryScratch scratch;
    try {
      zipdelta::Apply(MemorySource(row.delta), MemorySource(row.base), scratch,
                      [&](const uint8_t*, std::size_t n) { made += n; });
      ADD_FAILURE() << "an archive was made";
    } catch (const payload::DecodeError& e) {
      EXPECT_NE(std::string(e.what()).find(row.why), std::string::npos) << e.what();
    }
    EXPECT_LE(made, new_file.size());
    EXPECT_LE(scratch.Size(), layout.plan.base[0].size);
  }
}

}  // namespace
}  // namespace ttu::test
