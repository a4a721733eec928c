// Keeping a prefix as it is: Wine updates a prefix that another Wine (one
// with another wine.inf) made, and two Wines never share a prefix's server.
#pragma once

#include <string>

namespace ttu::platform {

// The wine.inf of the Wine that `wine` (a program or the script that starts
// it) belongs to; "" when none is found beside it.
std::string WineInfOf(const std::string& wine);

// Whether `wine` would leave the prefix unchanged: the prefix records no
// update (no .update-timestamp, or "disable"), or the time of this Wine's
// wine.inf, as Wine itself compares them.
bool WineKeepsPrefix(const std::string& prefix, const std::string& wine);

// The Wine that last updated the prefix, in words: "the Wine whose wine.inf
// dates from 2023-02-18 22:16 UTC".
std::string RecordedWine(const std::string& prefix);

// Whether a wineserver of another Wine than `wine` serves the prefix now
// (found through /proc: a server works in a folder named after the
// prefix's device and inode).
bool OtherWineServes(const std::string& prefix, const std::string& wine, const std::string& proc = "/proc");

}  // namespace ttu::platform
