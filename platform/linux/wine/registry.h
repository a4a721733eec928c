// The registry functions over a Wine prefix's hive files, answering as Wine
// answers a 32-bit program: HKEY_LOCAL_MACHINE is system.reg,
// HKEY_CURRENT_USER user.reg, HKEY_USERS holds .DEFAULT (userdef.reg) and the
// user's own key (user.reg), HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG are
// keys of the machine; the other roots hold no keys.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/linux/wine/hive.h"
#include "platform/registry_api.h"

namespace ttu::platform {

// One hive file, parsed again only when the file has changed.
class HiveFile {
 public:
  explicit HiveFile(std::string path) : path_(std::move(path)) {}
  // The hive as the file is now; an empty hive when it is missing or unreadable.
  std::shared_ptr<const Hive> Current();
  int parse_count() const { return parses_; }

 private:
  std::string path_;
  struct stat seen_ {};
  bool have_ = false;
  std::shared_ptr<const Hive> hive_;
  int parses_ = 0;
};

class WineRegistry final : public RegistryApi {
 public:
  explicit WineRegistry(const std::string& prefix);
  // Whether Wine shows this prefix to 32-bit programs through Wow6432Node.
  bool Wow64View();

  int32_t RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t options, uint32_t sam,
                        HKEY32* result) override;
  int32_t RegQueryValueExA(HKEY32 key, const std::string& value_name, uint32_t* reserved,
                           uint32_t* type, uint8_t* data, uint32_t* size) override;
  int32_t RegCloseKey(HKEY32 key) override;

  std::size_t open_handles() const { return handles_.size(); }
  HiveFile& system_hive() { return system_; }

 private:
  enum class Root { kMachine, kUser, kDefaultUser, kUsers, kNone };
  struct OpenKey {
    Root root;
    std::string path;  // folded, relative to the hive's root
  };
  bool Resolve(HKEY32 key, OpenKey& out);
  bool Exists(const OpenKey& at);
  bool Child(OpenKey& at, const std::string& level);
  bool Follow(OpenKey& at);
  void Redirect(OpenKey& at, const std::string& next);
  int32_t Walk(OpenKey& at, const std::vector<std::string>& levels, bool wow64);
  std::string UserSid();
  void TakeHives();
  bool Wow64Now();  // of the hives taken
  std::shared_ptr<const Hive> HiveOf(Root root);

  HiveFile system_, user_, default_user_;
  struct {
    std::shared_ptr<const Hive> machine, user, default_user;
  } hives_;
  std::unordered_map<HKEY32, OpenKey> handles_;
  HKEY32 next_handle_ = 0x100;
};

// The ANSI code page that Wine gives its programs: that of the locale named by
// LC_ALL, else by LC_CTYPE or LANG when the C library has that locale, else
// 1252.
unsigned WineAnsiCodePage();

}  // namespace ttu::platform
