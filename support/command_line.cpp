#include "support/command_line.h"

namespace ttu::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ProgramName(std::string_view line, std::size_t& i) {
  std::string name;
  if (i < line.size() && line[i] == '"') {
    const auto end = line.find('"', i + 1);
    name = line.substr(i + 1, (end == std::string_view::npos ? line.size() : end) - i - 1);
    i = end == std::string_view::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && !IsBlank(line[i])) name += line[i++];
  }
  return name;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return args;
  args.push_back(ProgramName(line, i));
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace ttu::platform
