#include "tools/pack/deflate_settings.h"

#include <algorithm>
#include <vector>

namespace ttu::pack {
namespace {

using deflater::Settings;
using deflater::Strategy;

// The guesses, most likely first: zlib's levels at its own defaults (the level
// the flags claim before the others), then a larger memory level, the other
// strategies, then smaller windows and memory levels.
std::vector<Settings> Guesses(uint16_t zip_flags) {
  std::vector<int> levels = {6, 9, 1, 5, 4, 3, 2, 7, 8};
  const int first = ClaimedLevel(zip_flags);
  std::stable_partition(levels.begin(), levels.end(), [first](int l) { return l == first; });
  std::vector<Settings> guesses;
  for (int level : levels) guesses.push_back({level, Strategy::kDefault, 8, 15});
  for (int level : levels) guesses.push_back({level, Strategy::kDefault, 9, 15});
  for (Strategy s : {Strategy::kFiltered, Strategy::kRle, Strategy::kFixed, Strategy::kHuffmanOnly}) {
    for (int level : levels) guesses.push_back({level, s, 8, 15});
  }
  for (int window = 14; window >= 9; --window) {
    for (int level : levels) guesses.push_back({level, Strategy::kDefault, 8, window});
  }
  for (int mem = 7; mem >= 1; --mem) {
    for (int level : levels) guesses.push_back({level, Strategy::kDefault, mem, 15});
  }
  return guesses;
}

}  // namespace

int ClaimedLevel(uint16_t zip_flags) {
  const int claimed = (zip_flags >> 1) & 3;  // 0 normal, 1 maximum, 2 fast, 3 super fast
  return claimed == 1 ? 9 : claimed == 2 ? 2 : claimed == 3 ? 1 : 6;
}

std::optional<deflater::Settings> FindDeflateSettings(std::span<const uint8_t> deflated,
                                                      std::span<const uint8_t> inflated, uint16_t zip_flags) {
  // Wrong guesses usually differ within the first block; the bound keeps a
  // member no deflater of ours made from costing more than a few dozen
  // deflates of itself.
  const uint64_t budget = 32 * static_cast<uint64_t>(inflated.size()) + (16u << 20);
  uint64_t spent = 0;
  for (const Settings& s : Guesses(zip_flags)) {
    if (deflater::DeflatesTo(inflated, s, deflated, &spent)) return s;
    if (spent > budget) break;
  }
  return std::nullopt;
}

}  // namespace ttu::pack
