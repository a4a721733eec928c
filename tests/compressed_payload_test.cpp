// Compressed payloads: the decoder refuses every frame that does not give
// exactly its file, and the frames are zstd's own, both ways round with the
// zstd command line.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/package_resources.h"
#include "platform/resources.h"
#include "support/byte_source.h"
#include "support/compressed_payload.h"
#include "tests/test_util.h"

namespace ttu::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

checksum::Digest DigestOf(const std::string& s) {
  checksum::Hasher h;
  h.Add({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
  return h.Finish();
}

// A zstd frame of `file`, with `window_log` (0: the level's own). A frame
// that names its size gets no window larger than the file.
Bytes Frame(const std::string& file, int window_log = 0) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 3);
  if (window_log) ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, window_log);
  if (window_log) ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
  Bytes out(ZSTD_compressBound(file.size()) + 1024);
  // Streamed (the whole file before the end): the frame's window is not fitted to it.
  ZSTD_inBuffer in{file.data(), file.size(), 0};
  ZSTD_outBuffer ob{out.data(), out.size(), 0};
  std::size_t left = ZSTD_compressStream2(c, &ob, &in, ZSTD_e_continue);
  while (!ZSTD_isError(left) && (left = ZSTD_compressStream2(c, &ob, &in, ZSTD_e_end)) > 0 && !ZSTD_isError(left)) {
  }
  ZSTD_freeCCtx(c);
  EXPECT_FALSE(ZSTD_isError(left));
  out.resize(ob.pos);
  return out;
}

Bytes Payload(const zpayload::Header& h, const Bytes& frame) {
  Bytes b = zpayload::EncodeHeader(h);
  b.insert(b.end(), frame.begin(), frame.end());
  return b;
}

// What decoding gives: the file, or the reason it was refused.
std::string DecodeAll(const Bytes& payload, std::string* why) {
  std::string made;
  try {
    zpayload::Decode(MemorySource(payload), [&](const uint8_t* p, std::size_t n) { made.append(reinterpret_cast<const char*>(p), n); });
  } catch (const payload::DecodeError& e) {
    *why = e.what();
  }
  return made;
}

TEST(CompressedPayload, OnlyAFrameThatGivesExactlyItsFileIsAccepted) {
  const std::string text = std::string(300000, 'a') + PseudoRandomBytes(200000, 7) + std::string(300000, 'b');
  const Bytes good = Frame(text);
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  Bytes cut(good.begin(), good.end() - 5);
  Bytes trailing = good;
  trailing.push_back(0);
  // A frame that asks for a window larger than the updater gives (a bomb on memory).
  const std::string big(1 << 20, 'x');
  const Bytes wide = Frame(big, zpayload::kMaxWindowLog + 1);
  const zpayload::Header right{text.size(), DigestOf(text)};
  Bytes bad_magic = Payload(right, good);
  bad_magic[0] = 'X';
  struct Row {
    const char* what;
    Bytes payload;
    std::string refusal;  // "": the file comes whole; "|"-separated: one of them
    std::string file = "";
  } rows[] = {
      {"as the packer makes it", Payload(right, good), "", text},
      {"an empty file", Payload({0, DigestOf("")}, Frame("")), "", ""},
      {"a damaged frame", Payload(right, flipped), "damaged|does not match its checksum"},
      {"a frame cut short", Payload(right, cut), "cut short"},
      {"bytes after the frame", Payload(right, trailing), "after its frame"},
      {"a header that says more bytes", Payload({text.size() + 1, right.digest}, good), "fewer bytes"},
      {"a header that says fewer bytes (a bomb on the disk)", Payload({text.size() - 1, right.digest}, good), "more bytes"},
      {"a header that says nothing", Payload({0, right.digest}, good), "more bytes"},
      {"a header that says more than any frame of its size makes", Payload({uint64_t{1} << 40, right.digest}, good),
       "more bytes than its frame can make"},
      {"another file's checksum", Payload({text.size(), DigestOf("other")}, good), "does not match its checksum"},
      {"no frame", zpayload::EncodeHeader(right), "cut short|frame can make"},
      {"no header", good, "header"},
      {"a short header", Bytes(good.begin(), good.begin() + 10), "shorter than its header"},
      {"another magic", bad_magic, "header"},
      {"a window beyond the updater's", Payload({big.size(), DigestOf(big)}, wide), "damaged"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string why;
    const std::string made = DecodeAll(row.payload, &why);
    if (row.refusal.empty()) {
      EXPECT_EQ(why, "");
      EXPECT_TRUE(made == row.file);
      continue;
    }
    bool named = false;
    for (std::size_t at = 0; at <= row.refusal.size();) {
      const std::size_t bar = std::min(row.refusal.find('|', at), row.refusal.size());
      named |= why.find(row.refusal.substr(at, bar - at)) != std::string::npos;
      at = bar + 1;
    }
    EXPECT_TRUE(named) << why;
    EXPECT_LE(made.size(), text.size());
  }
}

// The packer's frames are read by `zstd -d`; `zstd`'s own frames, with any
// level and window, are read by the updater.
TEST(CompressedPayload, FramesGoBothWaysWithTheZstdCommandLine) {
  if (!Exists("/usr/bin/zstd")) GTEST_SKIP() << "no zstd command line (scripts/deps installs it)";
  TempDir dir;
  const std::string pe = ReadFile(TTU_PACK_EXE);  // a program: what payloads mostly are
  struct Row {
    const char* what;
    std::string file;
    std::vector<std::string> cli;  // zstd's options for the other way
  } rows[] = {
      {"a program", pe, {"-19"}},
      {"a large repetitive file (long-distance matching)", pe + PseudoRandomBytes(9 << 20, 3) + pe, {"-3", "--long=25"}},
      {"text", std::string(200000, 'k') + "fine", {"--ultra", "-22"}},
      {"one byte", "x", {"-1"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFile(dir / "f", row.file);
    WriteFile(dir / "p.rc", "STRINGTABLE { 100 \"1\" 101 \"f|<APPPATH>Tessiro/|N|\" }\n101 CUSTOM f\n");
    const auto packed = RunProgram({TTU_PACK_EXE, "--compress=9", dir / "p.rc", "-o", dir / "u"});
    ASSERT_EQ(packed.status, 0) << packed.output;
    const auto res = platform::ResourcesOfFile(dir / "u");
    const auto blob = res->Data(101, zpayload::kResourceType);
    if (row.file.size() < 64) {
      EXPECT_FALSE(blob) << "a payload that compression would not make smaller stays stored";
      EXPECT_TRUE(res->Data(101, "CUSTOM"));
      continue;
    }
    ASSERT_TRUE(blob);
    std::string frame(blob->size - zpayload::kHeaderSize, '\0');
    platform::ReadBlob(*blob, zpayload::kHeaderSize, frame.data(), frame.size());
    WriteFile(dir / "f.zst", frame);
    const auto d = RunProgram({"/usr/bin/zstd", "-d", "-q", "-f", "--long=27", dir / "f.zst", "-o", dir / "back"});
    ASSERT_EQ(d.status, 0) << d.output;
    EXPECT_TRUE(ReadFile(dir / "back") == row.file);

    std::vector<std::string> argv{"/usr/bin/zstd", "-q", "-f"};
    argv.insert(argv.end(), row.cli.begin(), row.cli.end());
    argv.insert(argv.end(), {dir / "f", "-o", dir / "cli.zst"});
    ASSERT_EQ(RunProgram(argv).status, 0);
    const std::string cli = ReadFile(dir / "cli.zst");
    std::string why;
    const std::string made = DecodeAll(Payload({row.file.size(), DigestOf(row.file)}, Of(cli)), &why);
    EXPECT_EQ(why, "");
    EXPECT_TRUE(made == row.file);
  }
}

}  // namespace
}  // namespace ttu::test
