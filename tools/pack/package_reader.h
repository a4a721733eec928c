// The package of an updater file, Linux or Windows, as one directory of
// strings and data whose offsets are the file's: what --list prints and what
// the packer reads back to seal what it wrote.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/posix/fd.h"
#include "support/resource_section.h"

namespace ttu::pack {

struct Package {
  std::string kind;       // "Linux updater (package section .note.tessiro)", "Windows updater, PE32 (x86)"
  resfmt::Directory dir;  // payload offsets are file offsets
};

// The package of `source` (named `path` in messages); nothing when the file
// is neither kind of executable. Throws PackError ("damaged: ...") when it is
// one whose package, headers or resource directory is damaged.
std::optional<Package> ReadPackage(const platform::FileSource& source, const std::string& path);

}  // namespace ttu::pack
