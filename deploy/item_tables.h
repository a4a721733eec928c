// The item tables of an update run, owned by the main window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ttu::deploy {

// The only mark of a done item in ItemState(j, 0).
inline constexpr const char* kDoneMark = "X";

struct ItemTables {
  int32_t LastIndex = -1;  // -1: not sized yet
  std::vector<std::string> FileName;
  std::vector<std::array<std::string, 2>> PathCache;  // template, folder
  std::vector<std::string> TargetTemplate;
  std::vector<std::array<std::string, 2>> ItemState;  // flag or "X", registration kind

  bool IsDone(int32_t j) const { return ItemState[static_cast<std::size_t>(j)][0] == kDoneMark; }
};

}  // namespace ttu::deploy
