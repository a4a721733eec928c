#include "platform/linux/wine/registry.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include "platform/linux/wine/config_readers.h"
#include "platform/linux/wine/session.h"
#include "support/code_page.h"
#include "support/text.h"

namespace ttu::platform {
namespace {

constexpr int32_t kErrorKeyDeleted = 1018;
constexpr int kMaxLinks = 16;
// RegOpenKeyExA converts the sub-key into a buffer of 261 UTF-16 units, its
// terminating NUL included; a longer name is refused with 234. A level longer
// than a key name can be is refused with 87.
constexpr std::size_t kMaxSubKeyUnits = 260;
constexpr std::size_t kMaxNameUnits = 256;
const std::string kWow64Node = "WOW6432NODE";
// The key whose sub-keys the 32-bit side shares with the 64-bit one: a name
// not found in it is looked up in Software\Classes. Wine's server makes it on
// every 64-bit prefix.
const std::string kSharedClasses = "SOFTWARE\\CLASSES\\" + kWow64Node;
// The user's key under HKEY_USERS when user.reg does not name it.
const std::string kWineUserSid = "S-1-5-21-0-0-0-1000";

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "\\" + b;
}

std::string LastLevel(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// The folded levels of a sub-key name; empty levels are ignored.
std::vector<std::string> FoldedLevels(const std::string& sub_key) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= sub_key.size(); ++i) {
    if (i < sub_key.size() && sub_key[i] != '\\') continue;
    if (i > start) out.push_back(FoldName(sub_key.substr(start, i - start)));
    start = i + 1;
  }
  return out;
}

}  // namespace

std::shared_ptr<const Hive> HiveFile::Current() {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) {
    have_ = false;
    static const auto empty = std::make_shared<const Hive>(Hive::Parse(""));
    return empty;
  }
  if (have_ && SameFile(st, seen_)) return hive_;
  // Opened without blocking, and read only if regular and of a size a hive
  // can have: a FIFO or a device reads as no hive, and never stops the run.
  const auto text = ReadSettingsFile(path_, kMaxHiveFile);
  hive_ = std::make_shared<const Hive>(Hive::Parse(text ? *text : std::string()));
  seen_ = st;
  have_ = true;
  ++parses_;
  return hive_;
}

WineRegistry::WineRegistry(const std::string& prefix)
    : system_(prefix + "/system.reg"), user_(prefix + "/user.reg"), default_user_(prefix + "/userdef.reg") {}

// The hives as their files are at the start of a call; one call sees one state.
void WineRegistry::TakeHives() {
  hives_ = {system_.Current(), user_.Current(), default_user_.Current()};
}

std::shared_ptr<const Hive> WineRegistry::HiveOf(Root root) {
  if (root == Root::kMachine) return hives_.machine;
  if (root == Root::kUser) return hives_.user;
  if (root == Root::kDefaultUser) return hives_.default_user;
  static const auto none = std::make_shared<const Hive>(Hive::Parse(""));
  return none;
}

// A 64-bit prefix has a 32-bit side once the 32-bit part of Wine's set-up has
// written its folders under Software\Wow6432Node; a prefix that a Wine without
// its 32-bit part made has that key only as the parent of others, runs no
// 32-bit program, and is read as a 64-bit program reads it.
bool WineRegistry::Wow64View() {
  TakeHives();
  return Wow64Now();
}

bool WineRegistry::Wow64Now() {
  const auto hive = hives_.machine;
  const HiveKey* key = hive->Find("SOFTWARE\\" + kWow64Node + "\\MICROSOFT\\WINDOWS\\CURRENTVERSION");
  return hive->win64() && key && key->Find(FoldName("ProgramFilesDir"));
}

std::string WineRegistry::UserSid() {
  const std::string& relative = hives_.user->relative_to();
  return relative.rfind("REGISTRY\\USER\\", 0) == 0 ? LastLevel(relative) : FoldName(kWineUserSid);
}

bool WineRegistry::Resolve(HKEY32 key, OpenKey& out) {
  // The keys that a predefined key stands for are opened, as Wine opens them,
  // from the root of the machine; they exist even where the hive lacks them.
  auto machine_key = [&](const char* path) {
    OpenKey at{Root::kMachine, ""};
    out = Walk(at, FoldedLevels(path), Wow64Now()) == kErrorSuccess ? at : OpenKey{Root::kMachine, FoldName(path)};
    return true;
  };
  switch (key) {
    case kHkeyLocalMachine: out = {Root::kMachine, ""}; return true;
    case kHkeyCurrentUser: out = {Root::kUser, ""}; return true;
    case kHkeyUsers: out = {Root::kUsers, ""}; return true;
    case kHkeyClassesRoot: return machine_key("Software\\Classes");
    case kHkeyCurrentConfig: return machine_key("System\\CurrentControlSet\\Hardware Profiles\\Current");
    case kHkeyPerformanceData:
    case kHkeyDynData: out = {Root::kNone, ""}; return true;
    default: break;
  }
  auto it = handles_.find(key);
  if (it == handles_.end()) return false;
  out = it->second;
  return true;
}

bool WineRegistry::Exists(const OpenKey& at) {
  if (at.path.empty()) return true;
  const auto hive = HiveOf(at.root);
  return hive->Find(at.path) || (at.root == Root::kMachine && hive->win64() && at.path == kSharedClasses);
}

// The sub-key `level` of `at`; HKEY_USERS holds the two users' hives.
bool WineRegistry::Child(OpenKey& at, const std::string& level) {
  if (at.root == Root::kUsers) {
    if (!at.path.empty()) return false;
    if (level == ".DEFAULT") return at = {Root::kDefaultUser, ""}, true;
    if (level == UserSid()) return at = {Root::kUser, ""}, true;
    return false;
  }
  const OpenKey child{at.root, Join(at.path, level)};
  if (!Exists(child)) return false;
  at = child;
  return true;
}

// A link key stands for the key its SymbolicLinkValue names.
bool WineRegistry::Follow(OpenKey& at) {
  for (int links = 0;; ++links) {
    const auto target = HiveOf(at.root)->Link(at.path);
    if (!target) return true;
    if (links == kMaxLinks) return false;
    const bool default_user = target->user == ".DEFAULT";
    at = {target->machine ? Root::kMachine : default_user ? Root::kDefaultUser : Root::kUser, target->folded_path};
    if (!Exists(at)) return false;
  }
}

// A 32-bit program sees a key that has a Wow6432Node sub-key through that
// sub-key, unless it asks for Wow6432Node itself next.
void WineRegistry::Redirect(OpenKey& at, const std::string& next) {
  if (next == kWow64Node || LastLevel(at.path) == kWow64Node) return;
  const OpenKey wow{at.root, Join(at.path, kWow64Node)};
  if (at.root != Root::kUsers && HiveOf(at.root)->Find(wow.path)) at = wow;
}

// Opens `levels` below `at` as Wine's server does: redirecting before each
// level and at the end for a 32-bit program, following links between levels
// and at the end. Returns 0, or the code of the level that cannot be opened.
int32_t WineRegistry::Walk(OpenKey& at, const std::vector<std::string>& levels, bool wow64) {
  if (wow64 && !levels.empty()) Redirect(at, levels.front());
  for (std::size_t k = 0; k < levels.size(); ++k) {
    if (text::Utf8ToUtf16(levels[k]).size() > kMaxNameUnits) return kErrorInvalidParameter;
    if (!Child(at, levels[k])) {
      if (!wow64 || at.root != Root::kMachine || at.path != kSharedClasses) return kErrorFileNotFound;
      at = {Root::kMachine, "SOFTWARE\\CLASSES"};  // the shared classes
      if (!Child(at, levels[k])) return kErrorFileNotFound;
    }
    if (k + 1 == levels.size()) break;
    if (wow64) Redirect(at, levels[k + 1]);
    if (!Follow(at)) return kErrorFileNotFound;
  }
  if (wow64) Redirect(at, "");
  return Follow(at) ? kErrorSuccess : kErrorFileNotFound;
}

int32_t WineRegistry::RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t, uint32_t,
                                    HKEY32* result) {
  if (!result) return kErrorInvalidParameter;
  TakeHives();
  OpenKey at;
  // HKEY_PERFORMANCE_DATA opens only as itself.
  if (key == kHkeyPerformanceData) return sub_key.empty() ? (*result = key, kErrorSuccess) : kErrorInvalidHandle;
  if (!Resolve(key, at)) return kErrorInvalidHandle;
  const std::string name = AnsiToUtf8(sub_key);
  if (text::Utf8ToUtf16(name).size() > kMaxSubKeyUnits) return kErrorMoreData;
  // A predefined key always exists, even where its hive holds nothing for it.
  const bool predefined = key >= kHkeyClassesRoot && key <= kHkeyDynData;
  if (!predefined && !Exists(at)) return kErrorKeyDeleted;
  if (const int32_t code = Walk(at, FoldedLevels(name), Wow64Now())) return code;
  while (handles_.count(next_handle_) || next_handle_ == 0 || next_handle_ >= kHkeyClassesRoot) {
    next_handle_ = next_handle_ >= kHkeyClassesRoot ? 0x100 : next_handle_ + 4;
  }
  *result = next_handle_;
  handles_[next_handle_] = at;
  next_handle_ += 4;
  return kErrorSuccess;
}

int32_t WineRegistry::RegQueryValueExA(HKEY32 key, const std::string& value_name, uint32_t*,
                                       uint32_t* type, uint8_t* data, uint32_t* size) {
  TakeHives();
  OpenKey k;
  if (!Resolve(key, k)) return kErrorInvalidHandle;
  if (key == kHkeyPerformanceData) {
    // Performance data is not served: every read asks for a larger buffer.
    if (type) *type = kRegBinary;
    if (size) *size = 0;
    return kErrorMoreData;
  }
  const auto hive = HiveOf(k.root);
  const HiveKey* hk = hive->Find(k.path);
  const bool predefined = key >= kHkeyClassesRoot && key <= kHkeyDynData;
  if (!hk) return predefined || Exists(k) ? kErrorFileNotFound : kErrorKeyDeleted;
  const HiveValue* v = hk->Find(FoldName(AnsiToUtf8(value_name)));
  if (!v) return kErrorFileNotFound;
  std::string bytes(v->data.begin(), v->data.end());
  if (v->type == kRegSz || v->type == kRegExpandSz || v->type == kRegMultiSz) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t k2 = 0; k2 < units.size(); ++k2) {
      units[k2] = static_cast<char16_t>(uint8_t(bytes[2 * k2]) | uint8_t(bytes[2 * k2 + 1]) << 8);
    }
    bytes = text::Utf16ToAnsi(units, WineAnsiCodePage());  // one byte per unit, NULs kept
  }
  if (type) *type = v->type;
  if (!size) return data ? kErrorInvalidParameter : kErrorSuccess;
  const auto needed = static_cast<uint32_t>(bytes.size());
  if (data && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

int32_t WineRegistry::RegCloseKey(HKEY32 key) {
  if (key >= kHkeyClassesRoot && key <= kHkeyDynData) return kErrorSuccess;
  return handles_.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

namespace {

// The registry of the run's prefix, opened at its first use: by then the
// run's prefix is settled.
class SessionRegistry final : public RegistryApi {
 public:
  int32_t RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t options, uint32_t sam,
                        HKEY32* result) override {
    return Get().RegOpenKeyExA(key, sub_key, options, sam, result);
  }
  int32_t RegQueryValueExA(HKEY32 key, const std::string& value_name, uint32_t* reserved, uint32_t* type,
                           uint8_t* data, uint32_t* size) override {
    return Get().RegQueryValueExA(key, value_name, reserved, type, data, size);
  }
  int32_t RegCloseKey(HKEY32 key) override { return Get().RegCloseKey(key); }

 private:
  WineRegistry& Get() {
    if (!registry_) registry_ = std::make_unique<WineRegistry>(WinePrefix());
    return *registry_;
  }
  std::unique_ptr<WineRegistry> registry_;
};

}  // namespace

RegistryApi& NativeRegistry() {
  static SessionRegistry registry;
  return registry;
}

std::string Utf8ToAnsi(const std::string& s) { return text::Utf8ToAnsi(s, WineAnsiCodePage()); }
std::string AnsiToUtf8(const std::string& bytes) { return text::AnsiToUtf8(bytes, WineAnsiCodePage()); }

unsigned WineAnsiCodePage() {
  static const unsigned code_page = [] {
    // As Wine chooses: LC_ALL as it is written; otherwise the locale of
    // LC_CTYPE or LANG, only where the C library has it.
    if (const char* all = std::getenv("LC_ALL"); all && *all) return text::AnsiCodePageOfLocale(all);
    const locale_t available = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!available) return text::kWesternCodePage;
    ::freelocale(available);
    for (const char* name : {"LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(name);
      if (value && *value) return text::AnsiCodePageOfLocale(value);
    }
    return text::kWesternCodePage;
  }();
  return code_page;
}

}  // namespace ttu::platform
