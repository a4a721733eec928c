// Where the Wine room meets the window: the run's prefix is settled by the
// Wine session, which asks the chosen front end when several prefixes qualify
// and keeps its window alive while the disks are searched.
#include "platform/installation.h"
#include "platform/linux/ui/front_end.h"
#include "platform/linux/wine/session.h"

namespace ttu::platform {

Installation& NativeInstallation() {
  static WineInstallation installation(
      [](const std::vector<PrefixCandidate>& prefixes) { return ChosenFrontEnd().choose_prefix(prefixes); },
      [] { ChosenFrontEnd().dialogs().Yield(); });
  return installation;
}

}  // namespace ttu::platform
