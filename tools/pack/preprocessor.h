// The C preprocessor over a resource script, as the Windows resource compiler
// runs it: the MinGW compiler's, with its Windows headers, where it is
// installed; else the system's, with this program's own Windows headers and
// nothing else of the host system's. RC_INVOKED and _WIN32 are defined.
#pragma once

#include <string>
#include <vector>

namespace ttu::pack {

// The preprocessor's output for `script`, with line markers that name the real
// files and lines. "" includes are found beside the including file, then in
// each include folder. Throws PackError when the preprocessor cannot be
// started or refuses the script (its own messages go to standard error).
std::string Preprocess(const std::string& script, const std::vector<std::string>& include_dirs);

}  // namespace ttu::pack
