// Reading a package description: the subset of the resource-script language
// that an update package needs (LANGUAGE, STRINGTABLE, CUSTOM resources).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ttu::pack {

// A bad package description, with "file:line: " in front of the message.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StringEntry {
  uint16_t id = 0;
  uint16_t language = 0;
  std::string text;  // UTF-8
  int line = 0;
};

struct DataEntry {
  uint16_t id = 0;
  uint16_t language = 0;
  std::string type;  // upper case
  std::string file;  // as written
  std::string path;  // where it was found (ResolvePayloads)
  int line = 0;
};

struct PackageDescription {
  std::string file_name;  // for messages
  std::vector<StringEntry> strings;
  std::vector<DataEntry> data;
};

// Parses the text; throws PackError for anything it does not accept:
// unknown statements, unterminated strings, duplicate identifiers,
// identifiers outside 1..65535, and file names (payloads, or the first field of
// a descriptor string 101 and up) that hold a folder separator or "..".
PackageDescription ReadPackageDescription(std::string_view text, const std::string& file_name);

// Finds every payload file: in `base_dir` first, then in each include folder.
void ResolvePayloads(PackageDescription& desc, const std::string& base_dir,
                     const std::vector<std::string>& include_dirs);

}  // namespace ttu::pack
