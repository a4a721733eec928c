// Reading a package description: a resource script, read as the Windows
// resource compiler reads it, of which a package uses the STRINGTABLE and the
// CUSTOM data resources.
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

// The language that resources get before any LANGUAGE statement: English
// (United States), as the resource compiler gives them.
inline constexpr uint16_t kDefaultLanguage = 0x0409;

struct StringEntry {
  uint16_t id = 0;
  uint16_t language = 0;
  std::u16string text;  // as the string table stores it
  std::string file;     // where it was written, for messages
  int line = 0;
};

struct DataEntry {
  uint16_t id = 0;
  uint16_t language = 0;
  std::string type;  // upper case
  std::string file;  // the payload's name as written (UTF-8, "\" made "/")
  std::string path;  // where it was found (ResolvePayloads)
  std::string source;  // the script that names it, for messages
  int line = 0;
  // Whether the package records its checksum; a delta carried beside its
  // file whole (which has the record) holds its own.
  bool recorded = true;
};

struct PackageDescription {
  std::string file_name;  // for messages
  std::vector<StringEntry> strings;
  std::vector<DataEntry> data;
};

// Refuses text that no resource script can be: UTF-16, NUL bytes.
void CheckScriptEncoding(std::string_view text, const std::string& file_name);

// Whether the script has preprocessor lines that the C preprocessor must
// handle (#define, #include, #if...; a #pragma alone needs none).
bool NeedsPreprocessor(std::string_view text);

// Parses the script, or the C preprocessor's output for it; throws PackError
// with "file:line: error: " for anything that the resource compiler refuses,
// that it would turn into a different or broken package, or that no package
// can use.
PackageDescription ReadPackageDescription(std::string_view text, const std::string& file_name);

// Finds every payload file: beside the script first, then in each include
// folder; an absolute name is taken as it is.
void ResolvePayloads(PackageDescription& desc, const std::string& base_dir,
                     const std::vector<std::string>& include_dirs);

}  // namespace ttu::pack
