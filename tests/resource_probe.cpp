// Prints the resources of its own executable once packed:
//   resource-probe s ID          the string, or "missing"
//   resource-probe d ID OUTPUT   the CUSTOM payload copied to OUTPUT, or "missing"
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "platform/resources.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string what = argv[1];
  const auto id = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  auto& res = ttu::platform::OwnResources();
  if (what == "s") {
    const auto s = res.String(id);
    std::printf("%s", s ? s->c_str() : "missing");
    return 0;
  }
  if (what == "d" && argc == 4) {
    const auto blob = res.Data(id, "CUSTOM");
    if (!blob) return std::printf("missing"), 0;
    ttu::platform::Fd in(::open(blob->file.c_str(), O_RDONLY));
    std::vector<char> bytes(blob->size);
    ttu::platform::Fd out(::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (!ttu::platform::ReadFully(in.get(), bytes.data(), bytes.size(), blob->offset) ||
        !ttu::platform::WriteFully(out.get(), bytes.data(), bytes.size(), 0)) {
      return 1;
    }
    std::printf("offset %llu", static_cast<unsigned long long>(blob->offset));
    return 0;
  }
  return 2;
}
