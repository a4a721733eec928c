// Turning a target template ("<APPPATH>Tessiro\", "<COMMONPATH>Kelmo\sub\")
// into the folder that receives an item's file.
#pragma once

#include <string>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "registry/install_locations.h"

namespace ttu::deploy {

class TargetResolver {
 public:
  TargetResolver(registry::InstallLocations& locations, platform::FileSystem& files,
                 platform::Dialogs& dialogs)
      : locations_(locations), files_(files), dialogs_(dialogs) {}

  // The resolved folder, or the empty text when the template is not handled,
  // the user gave no folder, or a step failed (each reported here, not raised).
  std::string GeneraPathDll(const std::string& target_template);

 private:
  std::string Resolve(const std::string& target_template);
  std::string MakerRoot();
  std::string Probe(std::string candidate, const std::string& probe_file, const std::string& prompt);

  registry::InstallLocations& locations_;
  platform::FileSystem& files_;
  platform::Dialogs& dialogs_;
};

}  // namespace ttu::deploy
