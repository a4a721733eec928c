// One deployment pass: every pending item's file written into its folder,
// registered when asked, and marked done. The new files are staged beside
// their targets and flushed together, then put in place in item order, so
// that a pass of many files waits for the disk once, not once a file; before
// any box is shown and before a registration, what was staged is put in
// place, so that at every box the items before it are done.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "deploy/item_tables.h"
#include "deploy/package_check.h"
#include "deploy/target_resolution.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/installation.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "support/grouped_payload.h"
#include "support/run_error.h"

namespace ttu::deploy {

struct DeployServices {
  platform::Resources& resources;
  platform::FileSystem& files;
  platform::Launcher& launcher;
  platform::Dialogs& dialogs;
  registry::InstallLocations& locations;
  // Settled before the first folder is resolved; none: the running system.
  platform::Installation* installation = nullptr;
};

class DeploymentPass {
 public:
  DeploymentPass(ItemTables& tables, const DeployServices& services)
      : tables_(tables), s_(services), resolver_(services.locations, services.files, services.dialogs) {}

  // Walks the items in order, skipping those marked done. True when every item
  // is done (after "Aggiornamento terminato!"); false when the pass stopped at
  // the first failing item, silently. A call while a pass is under way (from
  // inside one of its dialogs) does nothing and returns false.
  bool AggiornaFile();
  bool Running() const { return running_; }

  // A press: the package's seal checked and its tables sized, its payloads
  // checked beside the pass, the installed files a delta needs checked
  // (CheckBases), then the pass. Raises what the press finds wrong, a damaged
  // package before anything else: then nothing is written.
  bool Press();

  // Before a press writes anything: every pending item carried only as the
  // changes to its installed file must find the version they were made
  // against. Raises RunError 31039 naming each file that is not; leaves to
  // the pass an item whose folder or file cannot be read now. The pass that
  // follows does not read those files again.
  void CheckBases();

 private:
  void DeployItem(int32_t j);
  void CommitStaged();
  void AwaitCheck();
  bool Registers(int32_t j) const;
  void Register(const std::string& folder, int32_t j);
  void TellOnce(const RunError& e, bool& told);
  std::string Folder(int32_t j);
  std::string Target(int32_t j);

  ItemTables& tables_;
  DeployServices s_;
  TargetResolver resolver_;
  bool running_ = false;
  bool told_prefix_wine_ = false;
  bool told_other_version_ = false;
  std::vector<char> base_checked_;  // by CheckBases, for the pass right after it
  gpayload::GroupReader groups_;    // a pass decodes each group once, from one item to the next
  // Items staged in order and not yet in place (no file: kept as it is).
  struct Staged {
    int32_t j;
    std::string target;
    std::unique_ptr<platform::StagedFile> file;
  };
  std::vector<Staged> staged_;
  uint64_t staged_bytes_ = 0;
  // The press's check, while it reads; awaited before anything is put in place or shown.
  std::unique_ptr<BackgroundCheck> check_;
  bool damaged_ = false;  // what it found
};

}  // namespace ttu::deploy
