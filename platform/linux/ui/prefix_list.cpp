#include "platform/linux/ui/prefix_list.h"

#include <ctime>

namespace ttu::platform {

std::array<std::string, 4> PrefixListRow(const PrefixCandidate& p) {
  const std::time_t t = static_cast<std::time_t>(p.last_used);
  std::tm tm{};
  char date[32] = "";
  if (p.last_used > 0 && ::localtime_r(&t, &tm)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &tm);
  return {p.manager, p.name, p.path, date};
}

}  // namespace ttu::platform
