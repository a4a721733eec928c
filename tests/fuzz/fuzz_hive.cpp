// The Wine hive reader on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/wine/hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const std::string& t : {text, "WINE REGISTRY Version 2\n" + text}) {
    const auto hive = ttu::platform::Hive::Parse(t);
    if (const auto* key = hive.Find("SOFTWARE\\KELMO\\INSTALLAZIONE")) key->Find("STRPATH");
    // Values are read when first looked for: look in short keys too.
    for (const char* path : {"", "A", "A\\B"}) {
      if (const auto* key = hive.Find(path)) key->Find(""), key->Find("A");
      hive.Link(path);
    }
  }
  return 0;
}
