// The readers of prefix managers' settings files on arbitrary text: each
// input read as YAML, JSON, KeyValues and KEY=value lines. Slow inputs fail
// through the run's -timeout.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/config_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using ttu::platform::JsonString;
  ttu::platform::YamlScalar(text, {"game", "prefix"});
  JsonString(text, {"*", "wineVersion", "bin"});
  ttu::platform::KeyValuesStrings(text, "path");
  ttu::platform::LineSetting(text, "VERSION");
  return 0;
}
