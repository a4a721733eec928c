// Resources of a packed executable: the package that tessiro-pack put into it.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/linux/posix/fd.h"
#include "platform/package_resources.h"
#include "platform/resources.h"
#include "support/linux_package.h"
#include "support/resource_language.h"
#include "support/resource_section.h"
#include "support/run_error.h"

namespace ttu::platform {
namespace {

// The user's language for messages, from the locale as the C library reads it.
uint16_t UserLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return reslang::LanguageOfLocale(value);
  }
  return reslang::kEnglishUs;
}

class FileResources final : public Resources {
 public:
  explicit FileResources(std::string path) : path_(std::move(path)) {}

  std::optional<std::string> String(uint32_t id) override {
    auto* r = Package();
    return r ? r->String(id) : std::nullopt;
  }
  std::optional<Blob> Data(uint32_t id, const std::string& type) override {
    auto* r = Package();
    return r ? r->Data(id, type) : std::nullopt;
  }
  std::optional<std::string> Damage() override {
    Package();
    return damage_.empty() ? std::nullopt : std::optional(damage_);
  }

 private:
  // Read on first use and kept: the executable does not change under a running process.
  PackageResources* Package() {
    if (!loaded_) {
      loaded_ = true;
      Load();
    }
    return resources_ ? &*resources_ : nullptr;
  }

  // The file stays open: its resources are read through the file their
  // directory was read from, without opening it for each read.
  void Load() {
    Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return;
    auto file = std::make_shared<OpenedFile>(std::move(fd), static_cast<uint64_t>(st.st_size));
    auto package = resfmt::FindLinuxPackage(*file, &damage_);
    if (!package) return;
    table_.emplace(std::move(package->dir), UserLanguage());
    resources_.emplace(path_, *table_, std::move(file));
  }

  std::string path_;
  bool loaded_ = false;
  std::string damage_;
  std::optional<resfmt::ResourceTable> table_;
  std::optional<PackageResources> resources_;
};

}  // namespace

// A blob is a byte range of a file, or (in tests) memory.
void ReadBlob(const Blob& blob, uint64_t offset, void* out, std::size_t n) {
  if (offset > blob.size || n > blob.size - offset) throw RunError::Of(kErrPathFileAccess);
  if (blob.data) {
    std::memcpy(out, static_cast<const char*>(blob.data) + offset, n);
    return;
  }
  if (blob.opened) {
    if (!blob.opened->Read(blob.offset + offset, out, n)) throw RunError::Of(kErrPathFileAccess);
    return;
  }
  Fd fd(::open(blob.file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || !ReadFully(fd.get(), out, n, blob.offset + offset)) throw RunError::Of(kErrPathFileAccess);
}

Resources& OwnResources() {
  static FileResources own("/proc/self/exe");
  return own;
}

std::unique_ptr<Resources> ResourcesOfFile(const std::string& path) {
  return std::make_unique<FileResources>(path);
}

}  // namespace ttu::platform
