// The installation-location lookups, as target resolution sees them.
#pragma once

#include <string>

namespace ttu::registry {

class InstallLocations {
 public:
  virtual ~InstallLocations() = default;
  // Each returns the folder as stored, or the empty text; none raises a failure.
  virtual std::string RetrieveCommonPath() = 0;
  virtual std::string RetrieveProgramFilesPath() = 0;
  virtual std::string RetrieveProgramFilesKelmoPath() = 0;
};

}  // namespace ttu::registry
