// A deflated member made by zlib at any setting is found again, and its
// bytes re-made exactly; a damaged one is not, nor one that another deflater
// (Info-ZIP's) made unless zlib makes the same bytes.
#include "tools/pack/deflate_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/zip_archive.h"
#include "tests/test_util.h"
#include "tests/word_text.h"

namespace ttu::test {
namespace {

using deflater::Settings;
using deflater::Strategy;
using Bytes = std::vector<uint8_t>;

std::span<const uint8_t> Span(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(DeflateSettings, WhatZlibMadeIsMadeAgainByteForByte) {
  const std::string text = WordText(100000, 35);
  const std::vector<Settings> rows = {
      {6, Strategy::kDefault, 8, 15}, {9, Strategy::kDefault, 8, 15}, {1, Strategy::kDefault, 8, 15},
      {3, Strategy::kDefault, 9, 15}, {7, Strategy::kFiltered, 8, 15}, {5, Strategy::kRle, 8, 15},
      {6, Strategy::kFixed, 8, 15},   {2, Strategy::kHuffmanOnly, 8, 15}, {8, Strategy::kDefault, 8, 10},
      {4, Strategy::kDefault, 3, 15}};
  for (const Settings& made_with : rows) {
    SCOPED_TRACE(testing::Message() << "level " << made_with.level << ", strategy "
                                    << static_cast<int>(made_with.strategy) << ", memory " << made_with.mem_level
                                    << ", window " << made_with.window_bits);
    const Bytes deflated = deflater::Deflate(Span(text), made_with);
    const auto inflated = deflater::Inflate(deflated, text.size());
    ASSERT_TRUE(inflated);
    const auto found = pack::FindDeflateSettings(deflated, *inflated);
    ASSERT_TRUE(found);
    EXPECT_EQ(deflater::Deflate(*inflated, *found), deflated);
  }
  // Damaged, it inflates to nothing or to other bytes, and no guess makes it from the file.
  Bytes damaged = deflater::Deflate(Span(text), rows[0]);
  damaged[damaged.size() / 2] ^= 0x10;
  const auto other = deflater::Inflate(damaged, text.size());
  EXPECT_TRUE(!other || *other != Bytes(text.begin(), text.end()));
  EXPECT_FALSE(pack::FindDeflateSettings(damaged, Span(text)));
}

// Info-ZIP deflates with code of its own: at its default level its bytes are
// not zlib's; at another level, a member claimed is one zlib makes exactly.
TEST(DeflateSettings, AnotherDeflatersMembersAreClaimedOnlyWhereZlibMakesThem) {
  TempDir dir;
  WriteFile(dir.path() + "/t.txt", WordText(300000, 36));
  for (const char* level : {"-1", "-6", "-9"}) {
    SCOPED_TRACE(level);
    ::unlink((dir.path() + "/z.zip").c_str());
    ASSERT_EQ(RunProgram({"/usr/bin/zip", "-q", "-X", level, "z.zip", "t.txt"}, dir.path()).status, 0);
    const std::string zip = ReadFile(dir.path() + "/z.zip");
    const auto archive = zip::ReadArchive(MemorySource(Span(zip)));
    ASSERT_TRUE(archive);
    const zip::Member& m = archive->members.at(0);
    ASSERT_EQ(m.method, zip::kDeflated);
    const auto member = Span(zip).subspan(m.data_offset, m.compressed_size);
    const auto inflated = deflater::Inflate(member, m.size);
    ASSERT_TRUE(inflated);
    const auto found = pack::FindDeflateSettings(member, *inflated, m.flags);
    if (std::string(level) == "-6") {
      EXPECT_FALSE(found);
    }
    if (found) {
      EXPECT_EQ(deflater::Deflate(*inflated, *found), Bytes(member.begin(), member.end()));
    }
  }
}

}  // namespace
}  // namespace ttu::test
