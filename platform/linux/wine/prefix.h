// Where Windows programs keep their files and registry on Linux: a Wine prefix.
#pragma once

#include <string>

namespace ttu::platform {

// $WINEPREFIX, else ~/.wine.
std::string GivenWinePrefix();

}  // namespace ttu::platform
