// Opening a registry key named by a text path, level by level, and closing it.
#include <array>
#include <string_view>
#include <vector>

#include "support/text.h"
#include "registry/module2.h"

namespace ttu::registry {
namespace {

struct RootKey {
  const char* name;
  platform::HKEY32 key;
};

// Looked up in this order.
constexpr std::array<RootKey, 7> kRoots = {{
    {"HKEY_CLASSES_ROOT", platform::kHkeyClassesRoot},
    {"HKEY_CURRENT_USER", platform::kHkeyCurrentUser},
    {"HKEY_LOCAL_MACHINE", platform::kHkeyLocalMachine},
    {"HKEY_USERS", platform::kHkeyUsers},
    {"HKEY_CURRENT_CONFIG", platform::kHkeyCurrentConfig},
    {"HKEY_DYN_DATA", platform::kHkeyDynData},
    {"HKEY_PERFORMANCE_DATA", platform::kHkeyPerformanceData},
}};

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The non-empty, trimmed pieces between backslashes; false past kMaxPathParts.
bool CutPath(std::string_view path, std::vector<std::string>& parts) {
  path = TrimSpaces(path);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\') continue;
    const auto piece = TrimSpaces(path.substr(start, i - start));
    start = i + 1;
    if (piece.empty()) continue;
    if (parts.size() == kMaxPathParts) return false;
    parts.emplace_back(piece);
  }
  return true;
}

}  // namespace

int32_t Module2::RegOpenPath(const std::string& path, uint32_t mask) {
  ResetRegError();
  std::vector<std::string> parts;
  if (!CutPath(path, parts)) {
    SetRegInternalError(100);
    return -1;
  }
  const std::size_t n = parts.size();
  if (n == 0) return 0;
  platform::HKEY32 current = 0;
  const std::string root = text::UpperAscii(parts[0]);
  for (const auto& r : kRoots) {
    if (root == r.name) {
      current = r.key;
      break;
    }
  }
  if (current == 0) {
    SetRegApiError(platform::kErrorFileNotFound);
    return -1;
  }
  std::vector<platform::HKEY32> handles;
  handles.reserve(n);
  auto close_all_but_last = [&] {
    for (std::size_t k = 0; k + 1 < handles.size(); ++k) api_.RegCloseKey(handles[k]);
  };
  for (std::size_t k = 1; k <= n; ++k) {
    // Names cross to the registry functions in the ANSI code page.
    const std::string sub = k < n ? platform::Utf8ToAnsi(parts[k]) : std::string();
    platform::HKEY32 opened = 0;
    const int32_t code = api_.RegOpenKeyExA(current, sub, 0, mask, &opened);
    if (code != platform::kErrorSuccess) {
      SetRegApiError(code);
      handles.push_back(0);  // the failed slot: not closed
      close_all_but_last();
      return -1;
    }
    handles.push_back(opened);
    current = opened;
  }
  close_all_but_last();
  return static_cast<int32_t>(current);
}

int32_t Module2::RegCloseHandle(int32_t handle) {
  const int32_t code = api_.RegCloseKey(static_cast<platform::HKEY32>(handle));
  if (code == platform::kErrorSuccess) return 0;
  SetRegApiError(code);
  return -1;
}

}  // namespace ttu::registry
