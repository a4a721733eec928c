// Turning a package description into an updater executable: the stub
// followed by the resource section.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/package_description.h"

namespace ttu::pack {

struct PackOptions {
  std::string stub;
  std::vector<std::string> include_dirs;
  std::string description;  // the .rc file
  std::string output;
};

// Reads the description, finds the payloads and writes the output through a
// temporary file, so that a failure leaves no output. Throws PackError.
void Pack(const PackOptions& options);

// The same, for a description already read and resolved.
void WritePackedExecutable(const PackageDescription& desc, const std::string& stub,
                           const std::string& output);

}  // namespace ttu::pack
