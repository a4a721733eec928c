#include "platform/linux/wine_registry.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/linux/wine_prefix.h"
#include "support/code_page.h"
#include "support/text.h"

namespace ttu::platform {
namespace {

constexpr int32_t kErrorKeyDeleted = 1018;
const std::string kSoftware = "SOFTWARE";
const std::string kWow64Node = "WOW6432NODE";

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "\\" + b;
}

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

constexpr int kMaxLinks = 16;
const std::string kClasses = kSoftware + "\\CLASSES";

// Where the 32-bit view goes from `path` to its sub-key `level`: through the
// key's Wow6432Node sub-key when it has one (asking for "Wow6432Node" itself
// included), except that the classes are shared: Software\Classes is the same
// key in both views, and below it only what its Wow6432Node holds (CLSID...)
// is the 32-bit side's own.
std::string Wow64Level(const Hive& hive, const std::string& path, const std::string& level) {
  const std::string wow = Join(path, kWow64Node);
  if (path == kSoftware && level == "CLASSES") return path;
  if (path == kClasses) return hive.Find(Join(wow, level)) ? wow : path;
  return hive.Find(wow) ? wow : path;
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
  std::ifstream in(path_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  hive_ = std::make_shared<const Hive>(Hive::Parse(in ? text.str() : std::string()));
  seen_ = st;
  have_ = true;
  ++parses_;
  return hive_;
}

WineRegistry::WineRegistry(const std::string& prefix)
    : system_(prefix + "/system.reg"), user_(prefix + "/user.reg") {}

std::shared_ptr<const Hive> WineRegistry::HiveOf(Root root) {
  if (root == Root::kMachine) return system_.Current();
  if (root == Root::kUser) return user_.Current();
  static const auto none = std::make_shared<const Hive>(Hive::Parse(""));
  return none;
}

bool WineRegistry::Resolve(HKEY32 key, OpenKey& out) const {
  switch (key) {
    case kHkeyLocalMachine: out = {Root::kMachine, ""}; return true;
    case kHkeyCurrentUser: out = {Root::kUser, ""}; return true;
    case kHkeyClassesRoot: out = {Root::kMachine, "SOFTWARE\\CLASSES"}; return true;
    case kHkeyUsers:
    case kHkeyPerformanceData:
    case kHkeyCurrentConfig:
    case kHkeyDynData: out = {Root::kNone, ""}; return true;
    default: break;
  }
  auto it = handles_.find(key);
  if (it == handles_.end()) return false;
  out = it->second;
  return true;
}

// A 32-bit program's view of a 64-bit prefix's machine hive: at each level, a
// key that has a "Wow6432Node" sub-key is entered through it, and only through
// it ("Software\\Kelmo" is "Software\\Wow6432Node\\Kelmo" or nothing); see
// Wow64Level for the shared classes. A prefix
// without a 32-bit side (no 32-bit CurrentVersion key: Wine without its 32-bit
// part made it) is read as a 64-bit program reads it.
bool WineRegistry::Wow64View(Root root, const Hive& hive) const {
  return root == Root::kMachine && hive.win64() &&
         hive.Find(kSoftware + "\\" + kWow64Node + "\\MICROSOFT\\WINDOWS\\CURRENTVERSION");
}

// Walks `levels` down from `at`, following links; false when a key is missing.
bool WineRegistry::Walk(OpenKey& at, const std::vector<std::string>& levels) {
  int links = 0;
  for (const auto& level : levels) {
    auto hive = HiveOf(at.root);
    if (Wow64View(at.root, *hive)) at.path = Wow64Level(*hive, at.path, level);
    at.path = Join(at.path, level);
    while (const auto target = hive->Link(at.path)) {
      if (++links > kMaxLinks) return false;
      at = {target->machine ? Root::kMachine : Root::kUser, target->folded_path};
      hive = HiveOf(at.root);
    }
    if (!hive->Find(at.path)) return false;
  }
  return true;
}

int32_t WineRegistry::RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t, uint32_t,
                                    HKEY32* result) {
  if (!result) return kErrorInvalidParameter;
  OpenKey at;
  if (!Resolve(key, at)) return kErrorInvalidHandle;
  // A predefined key always exists, even where its hive holds nothing for it.
  const bool predefined = key >= kHkeyClassesRoot && key <= kHkeyDynData;
  if (!predefined && !HiveOf(at.root)->Find(at.path)) return kErrorKeyDeleted;
  if (!Walk(at, FoldedLevels(AnsiToUtf8(sub_key)))) return kErrorFileNotFound;
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
  OpenKey k;
  if (!Resolve(key, k)) return kErrorInvalidHandle;
  const auto hive = HiveOf(k.root);
  const HiveKey* hk = hive->Find(k.path);
  if (!hk) return key >= kHkeyClassesRoot && key <= kHkeyDynData ? kErrorFileNotFound : kErrorKeyDeleted;
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

RegistryApi& NativeRegistry() {
  static WineRegistry registry(WinePrefix());
  return registry;
}

std::string Utf8ToAnsi(const std::string& s) { return text::Utf8ToAnsi(s, WineAnsiCodePage()); }
std::string AnsiToUtf8(const std::string& bytes) { return text::AnsiToUtf8(bytes, WineAnsiCodePage()); }

unsigned WineAnsiCodePage() {
  static const unsigned code_page = [] {
    // Wine takes the locale's code page only where the C library has the locale.
    const locale_t available = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!available) return text::kWesternCodePage;
    ::freelocale(available);
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(name);
      if (value && *value) return text::AnsiCodePageOfLocale(value);
    }
    return text::kWesternCodePage;
  }();
  return code_page;
}

}  // namespace ttu::platform
