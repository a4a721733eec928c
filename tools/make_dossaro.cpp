// Writes this build's package payload, Dossaro.zip: a valid ZIP archive of an
// exact size whose bytes are the same on every machine.
//   make-dossaro OUTPUT [SIZE]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "tools/crc32.h"

namespace {

constexpr uint64_t kDefaultSize = 201352848;
constexpr uint16_t kDosTime = (10 << 11) | (30 << 5);            // 10:30:00
constexpr uint16_t kDosDate = ((2024 - 1980) << 9) | (3 << 5) | 15;  // 15 March 2024
constexpr uint64_t kLocalHeader = 30, kCentralHeader = 46, kEndRecord = 22;

struct Entry {
  std::string name;
  uint64_t size = 0;
  uint32_t crc = 0;
  uint64_t header_offset = 0;
};

class Bytes {
 public:
  void U16(uint32_t v) { b_.push_back(uint8_t(v)), b_.push_back(uint8_t(v >> 8)); }
  void U32(uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
  void Str(const std::string& s) { b_.insert(b_.end(), s.begin(), s.end()); }
  const std::vector<uint8_t>& get() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// The fields the local and the central header share, from "version needed" on.
void CommonFields(Bytes& b, const Entry& e) {
  b.U16(20), b.U16(0), b.U16(0), b.U16(kDosTime), b.U16(kDosDate);
  b.U32(e.crc), b.U32(uint32_t(e.size)), b.U32(uint32_t(e.size));
  b.U16(uint32_t(e.name.size())), b.U16(0);
}

// Deterministic filler: xorshift64*, so that the archive does not compress.
class Filler {
 public:
  void Fill(std::vector<uint8_t>& buf) {
    for (std::size_t i = 0; i + 8 <= buf.size(); i += 8) {
      s_ ^= s_ >> 12, s_ ^= s_ << 25, s_ ^= s_ >> 27;
      const uint64_t v = s_ * 0x2545F4914F6CDD1DULL;
      for (int k = 0; k < 8; ++k) buf[i + k] = uint8_t(v >> (8 * k));
    }
  }

 private:
  uint64_t s_ = 0x7E5511D055A0ULL;
};

bool Write(int fd, const std::vector<uint8_t>& b, uint64_t at) {
  return ttu::platform::WriteFully(fd, b.data(), b.size(), at);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: make-dossaro OUTPUT [SIZE]\n", stderr);
    return 2;
  }
  const uint64_t total = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : kDefaultSize;
  const std::string readme = "Dossaro - archivio dei dati di Tessiro.\r\n";
  std::vector<Entry> entries{{"Dossaro/LEGGIMI.txt", readme.size()}, {"Dossaro/dossaro.dat", 0}};
  uint64_t fixed = kEndRecord;
  for (const auto& e : entries) fixed += kLocalHeader + kCentralHeader + 2 * e.name.size();
  fixed += entries[0].size;
  if (total < fixed || total - fixed > 0xFFFFFFFFull) {
    std::fprintf(stderr, "make-dossaro: size must lie between %llu and 4 GiB\n",
                 static_cast<unsigned long long>(fixed));
    return 2;
  }
  entries[1].size = total - fixed;

  const std::string tmp = std::string(argv[1]) + ".tmp";
  ttu::platform::Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return std::perror(argv[1]), 1;
  uint64_t at = 0;
  Filler filler;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    Entry& e = entries[k];
    e.header_offset = at;
    const uint64_t data_at = at + kLocalHeader + e.name.size();
    std::vector<uint8_t> chunk;
    if (k == 0) {
      chunk.assign(readme.begin(), readme.end());
      e.crc = ttu::Crc32(0, chunk.data(), chunk.size());
      if (!Write(fd.get(), chunk, data_at)) return std::perror(argv[1]), 1;
    } else {
      chunk.resize(1 << 20);
      for (uint64_t done = 0; done < e.size; done += chunk.size()) {
        filler.Fill(chunk);
        if (e.size - done < chunk.size()) chunk.resize(e.size - done);
        e.crc = ttu::Crc32(e.crc, chunk.data(), chunk.size());
        if (!Write(fd.get(), chunk, data_at + done)) return std::perror(argv[1]), 1;
      }
    }
    Bytes h;
    h.U32(0x04034b50);
    CommonFields(h, e);
    h.Str(e.name);
    if (!Write(fd.get(), h.get(), at)) return std::perror(argv[1]), 1;
    at = data_at + e.size;
  }
  Bytes central;
  for (const auto& e : entries) {
    central.U32(0x02014b50);
    central.U16(20);  // made by: MS-DOS attributes, version 2.0
    CommonFields(central, e);
    central.U16(0), central.U16(0), central.U16(0), central.U32(0);
    central.U32(uint32_t(e.header_offset));
    central.Str(e.name);
  }
  Bytes end;
  end.U32(0x06054b50), end.U16(0), end.U16(0);
  end.U16(uint32_t(entries.size())), end.U16(uint32_t(entries.size()));
  end.U32(uint32_t(central.get().size())), end.U32(uint32_t(at)), end.U16(0);
  if (!Write(fd.get(), central.get(), at) || !Write(fd.get(), end.get(), at + central.get().size()) ||
      ::close(fd.Release()) != 0) {
    return std::perror(argv[1]), 1;
  }
  return std::rename(tmp.c_str(), argv[1]) == 0 ? 0 : (std::perror(argv[1]), 1);
}
