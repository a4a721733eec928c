// The payload of this build: exact size, a valid archive, the same bytes everywhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "tests/test_util.h"
#include "tools/crc32.h"

namespace ttu::test {
namespace {

uint32_t FileCrc(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buf(1 << 20);
  uint32_t crc = 0;
  while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    crc = Crc32(crc, buf.data(), static_cast<std::size_t>(in.gcount()));
  }
  return crc;
}

TEST(Dossaro, HasTheExactSizeAndIsAValidArchive) {
  struct stat st {};
  ASSERT_EQ(::stat(TTU_DOSSARO_ZIP, &st), 0);
  EXPECT_EQ(st.st_size, 201352848);
  const auto r = RunProgram({"/usr/bin/unzip", "-t", TTU_DOSSARO_ZIP});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("No errors detected"), std::string::npos) << r.output;
  EXPECT_EQ(FileCrc(TTU_DOSSARO_ZIP), 0x85FDC70Du) << "the bytes differ from every other build";
}

TEST(Dossaro, GeneratorIsDeterministicAtAnySize) {
  TempDir d;
  ASSERT_EQ(RunProgram({TTU_MAKE_DOSSARO, d / "a.zip", "3000000"}).status, 0);
  ASSERT_EQ(RunProgram({TTU_MAKE_DOSSARO, d / "b.zip", "3000000"}).status, 0);
  EXPECT_EQ(ReadFile(d / "a.zip"), ReadFile(d / "b.zip"));
  EXPECT_EQ(ReadFile(d / "a.zip").size(), 3000000u);
  EXPECT_EQ(RunProgram({"/usr/bin/unzip", "-t", d / "a.zip"}).status, 0);
  EXPECT_NE(RunProgram({TTU_MAKE_DOSSARO, d / "c.zip", "10"}).status, 0);
  EXPECT_FALSE(Exists(d / "c.zip"));
}

}  // namespace
}  // namespace ttu::test
