// The readers of settings on arbitrary bytes: each input read as the prefix
// managers' YAML, JSON, KeyValues and KEY=value lines, and as the desktop's
// XSETTINGS property and X resources. Slow inputs fail through the run's
// -timeout.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/ui/desktop_scale.h"
#include "platform/linux/wine/config_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using ttu::platform::JsonString;
  ttu::platform::YamlScalar(text, {"game", "prefix"});
  JsonString(text, {"*", "wineVersion", "bin"});
  ttu::platform::KeyValuesStrings(text, "path");
  ttu::platform::LineSetting(text, "VERSION");
  ttu::platform::ScaleSources scale;
  scale.xsettings = ttu::platform::ParseXSettings(text);
  scale.x_resources = text;
  ttu::platform::DesktopScale(scale);
  return 0;
}
