// What an updater carries: `tessiro-pack --list UPDATER`.
#pragma once

#include <cstdio>
#include <string>

namespace ttu::pack {

// Prints the package of a Linux or Windows updater to `out`: its kind, each
// language's item count and descriptors, each payload's size and SHA-256.
// Throws PackError for a file that carries no package.
void ListPackage(const std::string& path, std::FILE* out);

}  // namespace ttu::pack
