// The package-description reader of tessiro-pack on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/pack/package_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto d = ttu::pack::ReadPackageDescription(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.rc");
    for (const auto& s : d.strings) {
      if (s.text.size() > 65535) __builtin_trap();  // a string table cannot hold it
    }
  } catch (const ttu::pack::PackError&) {
  }
  return 0;
}
