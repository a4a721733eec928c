// String and CUSTOM resources of a module; payloads are served straight from
// the mapped image.
#include "platform/windows/windows_api.h"

#include <cstring>

#include "platform/resources.h"
#include "support/run_error.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

class ModuleResources final : public Resources {
 public:
  explicit ModuleResources(HMODULE module, bool owned) : module_(module), owned_(owned) {}
  ~ModuleResources() override {
    if (owned_ && module_) FreeLibrary(module_);
  }

  std::optional<std::string> String(uint32_t id) override {
    if (!module_ || id > 0xFFFF) return std::nullopt;
    const wchar_t* text = nullptr;
    const int n = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);  // read-only, in place
    if (n <= 0 || !text) return std::nullopt;
    return Narrow(std::wstring(text, static_cast<std::size_t>(n)));
  }

  std::optional<Blob> Data(uint32_t id, const std::string& type) override {
    if (!module_ || id > 0xFFFF) return std::nullopt;
    HRSRC r = FindResourceW(module_, MAKEINTRESOURCEW(id), Widen(type).c_str());
    HGLOBAL g = r ? LoadResource(module_, r) : nullptr;
    const void* p = g ? LockResource(g) : nullptr;
    if (!p) return std::nullopt;
    return Blob{"", p, 0, SizeofResource(module_, r)};
  }

 private:
  HMODULE module_;
  bool owned_;
};

}  // namespace

// A module's resources lie in its mapped image.
void ReadBlob(const Blob& blob, uint64_t offset, void* out, std::size_t n) {
  if (!blob.data || offset > blob.size || n > blob.size - offset) throw RunError::Of(kErrPathFileAccess);
  std::memcpy(out, static_cast<const char*>(blob.data) + offset, n);
}

Resources& OwnResources() {
  static ModuleResources own(GetModuleHandleW(nullptr), false);
  return own;
}

std::unique_ptr<Resources> ResourcesOfFile(const std::string& path) {
  HMODULE m = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  return std::make_unique<ModuleResources>(m, true);
}

}  // namespace ttu::platform
