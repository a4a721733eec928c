// String and CUSTOM resources of a module; payloads are served straight from
// the mapped image.
#include "platform/windows/windows_api.h"

#include <algorithm>
#include <cstring>

#include "support/pe_resources.h"

#include "platform/resources.h"
#include "support/run_error.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

// A file read through its handle, for the readers of executable formats.
class HandleSource final : public ByteSource {
 public:
  explicit HandleSource(HANDLE file) : file_(file) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size)) size_ = static_cast<uint64_t>(size.QuadPart);
  }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, std::size_t n) const override {
    if (offset > size_ || n > size_ - offset) return false;
    for (std::size_t done = 0; done < n;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset + done);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 20));
      if (!ReadFile(file_, static_cast<char*>(out) + done, want, &got, &at) || got == 0) return false;
      done += got;
    }
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_ = 0;
};

// Why the executable file at `path` does not read whole, as the loader's view
// of it cannot tell: cut short, or its headers or resource directory damaged.
std::optional<std::string> DamageOfFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;  // unreadable is not damaged
  const HandleSource source(file);
  std::optional<std::string> damage;
  const auto image = pe::ReadImage(source);
  if (!image) {
    damage = "the program is cut short or its headers are damaged";
  } else if (!pe::ReadResources(source, *image)) {
    damage = "its resource directory is damaged";
  }
  CloseHandle(file);
  return damage;
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

class ModuleResources final : public Resources {
 public:
  ModuleResources(HMODULE module, bool owned, std::wstring path)
      : module_(module), owned_(owned), path_(std::move(path)) {}
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
    return Blob{"", p, 0, SizeofResource(module_, r), nullptr};
  }

  // Read once: the executable does not change under a running process.
  std::optional<std::string> Damage() override {
    if (!damage_checked_ && !path_.empty()) damage_ = DamageOfFile(path_);
    damage_checked_ = true;
    return damage_;
  }

 private:
  HMODULE module_;
  bool owned_;
  std::wstring path_;
  bool damage_checked_ = false;
  std::optional<std::string> damage_;
};

}  // namespace

// A module's resources lie in its mapped image.
void ReadBlob(const Blob& blob, uint64_t offset, void* out, std::size_t n) {
  if (!blob.data || offset > blob.size || n > blob.size - offset) throw RunError::Of(kErrPathFileAccess);
  std::memcpy(out, static_cast<const char*>(blob.data) + offset, n);
}

Resources& OwnResources() {
  static ModuleResources own(GetModuleHandleW(nullptr), false, ModulePath(nullptr));
  return own;
}

std::unique_ptr<Resources> ResourcesOfFile(const std::string& path) {
  HMODULE m = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  return std::make_unique<ModuleResources>(m, true, Widen(path));
}

}  // namespace ttu::platform
