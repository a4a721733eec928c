// The registry functions themselves.
#include "platform/windows/windows_api.h"

#include "platform/registry_api.h"

namespace ttu::platform {
namespace {

// Predefined keys are sign-extended on 64-bit Windows; real handles fit 32 bits.
HKEY ToHkey(HKEY32 key) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(key))); }
HKEY32 FromHkey(HKEY key) { return static_cast<HKEY32>(reinterpret_cast<ULONG_PTR>(key)); }

class WindowsRegistry final : public RegistryApi {
 public:
  int32_t RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t options, uint32_t sam,
                        HKEY32* result) override {
    HKEY opened = nullptr;
    const LONG code = ::RegOpenKeyExA(ToHkey(key), sub_key.c_str(), options, sam, &opened);
    if (code == ERROR_SUCCESS && result) *result = FromHkey(opened);
    return code;
  }
  int32_t RegQueryValueExA(HKEY32 key, const std::string& value_name, uint32_t*, uint32_t* type,
                           uint8_t* data, uint32_t* size) override {
    DWORD t = 0, n = size ? *size : 0;
    const LONG code = ::RegQueryValueExA(ToHkey(key), value_name.c_str(), nullptr, &t, data,
                                         size ? &n : nullptr);
    if (type) *type = t;
    if (size) *size = n;
    return code;
  }
  int32_t RegCloseKey(HKEY32 key) override { return ::RegCloseKey(ToHkey(key)); }
};

}  // namespace

RegistryApi& NativeRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace ttu::platform
