// The check of a press: before the run writes any file, every payload that
// carries a recorded checksum (tessiro-pack records one for each) is read
// and compared with it. A damaged package is a run-time failure of the press
// itself, which the button handler reports: nothing of it is written, no
// retry is armed, and a new press checks again. A package without recorded
// checksums (an updater linked by the resource compiler, or packed before) is
// not checked; in one with them, a payload without its checksum is damage.
#pragma once

#include "deploy/item_tables.h"
#include "platform/resources.h"

namespace ttu::deploy {

// Raises RunError::PackageDamaged for the first payload (in item order) that
// does not match its checksum, whose recorded checksum is not one, or that
// lost it.
void CheckPackage(const ItemTables& tables, platform::Resources& res);

}  // namespace ttu::deploy
