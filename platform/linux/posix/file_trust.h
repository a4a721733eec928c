// Whether a file may decide what the updater starts or where it writes: as
// ssh trusts its configuration, only what the person (or root) owns, along a
// path that no one else can change.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace ttu::platform {

struct TrustPolicy {
  uid_t user = 0;
  // The person's private group (named as the person, no other members):
  // what it may write, only the person may. Systems that give each user such
  // a group create files group-writable.
  std::optional<gid_t> own_group;

  // The running process's user and private group.
  static TrustPolicy OfProcess();
};

// Whether `path` (absolute) and every folder and link on the way to it, the
// links' targets included, belong to the user or root and can be changed by
// no one else: no write bit for group or others, except on a folder above
// the last name that is sticky and owned by the user or root (as /tmp, where
// others cannot replace what is ours). A link that another account owns is
// not followed. False for what does not exist.
bool IsTrusted(const std::string& path, const TrustPolicy& policy);

// A runner's or version's name as a manager's settings give it: one folder
// name, not "." or "..", with no "/" and no "..".
bool IsPlainName(const std::string& name);

}  // namespace ttu::platform
