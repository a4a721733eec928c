// The check of a press: before the run puts any file in place, every payload
// that carries a recorded checksum (tessiro-pack records one for each) is
// read and compared with it. A damaged package is a run-time failure of the
// press itself, which the button handler reports: nothing of it is written,
// no retry is armed, and a new press checks again. A package without recorded
// checksums (an updater linked by the resource compiler, or packed before) is
// not checked; in one with them, a payload without its checksum is damage.
//
// The reading is most of the check, and the disk's writing most of a pass:
// the two go on together. The check is set up first (every record found and
// read), then its reading runs beside the pass, which waits for it before it
// puts anything in place or shows anything.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "deploy/item_tables.h"
#include "platform/resources.h"
#include "support/payload_checksum.h"

namespace ttu::deploy {

class PackageCheck {
 public:
  // Finds what is to be read and its record; raises RunError::PackageDamaged
  // where the package's structure already shows damage (a lost checksum, a
  // part that is not one, a missing group).
  PackageCheck(const ItemTables& tables, platform::Resources& res);
  // Reads the payloads in item order up to the first that does not match, or
  // until `stop` (seen between payloads). Touches nothing but the payloads'
  // bytes: it may run on any thread.
  void Read(const std::atomic<bool>& stop);
  // Raises RunError::PackageDamaged for what Read found, or for what it could
  // not read.
  void Raise(platform::Resources& res) const;

 private:
  enum class What { kPayload, kDeltaBody, kGroup };
  struct Reading {
    What what;
    uint32_t id;     // the item's resource
    uint32_t group;  // kGroup: which
    platform::Blob blob;
    checksum::Digest expected;
  };
  std::vector<Reading> readings_;
  const Reading* failed_ = nullptr;
  std::exception_ptr unreadable_;
};

// Raises RunError::PackageDamaged for the first payload (in item order) that
// does not match its checksum, whose recorded checksum is not one, or that
// lost it.
void CheckPackage(const ItemTables& tables, platform::Resources& res);

// A check reading on a thread of its own from construction; stopped (and
// waited for) when it goes.
class BackgroundCheck {
 public:
  BackgroundCheck(const ItemTables& tables, platform::Resources& res);
  ~BackgroundCheck();
  BackgroundCheck(const BackgroundCheck&) = delete;
  BackgroundCheck& operator=(const BackgroundCheck&) = delete;
  // Waits for the reading; raises what it found.
  void Wait(platform::Resources& res);

 private:
  PackageCheck check_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

}  // namespace ttu::deploy
