// Where Windows programs keep their files and registry on Linux: a Wine prefix.
#pragma once

#include <string>

namespace ttu::platform {

// $WINEPREFIX, else ~/.wine.
std::string GivenWinePrefix();

// The run's prefix: the one its session settled on (else the given one).
std::string WinePrefix();

}  // namespace ttu::platform
