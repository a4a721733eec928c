// Splitting a Windows command line for the launcher.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto args = ttu::platform::SplitCommandLine(line);
  std::size_t total = 0;
  for (const auto& a : args) total += a.size();
  if (total > size) __builtin_trap();  // splitting never invents characters
  return 0;
}
