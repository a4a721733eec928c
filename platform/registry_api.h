// The registry functions of the platform, with their Windows signatures,
// codes and predefined keys (ANSI variants: names and text data are in the
// ANSI code page at this boundary).
#pragma once

#include <cstdint>
#include <string>

namespace ttu::platform {

using HKEY32 = uint32_t;  // a key handle, 32 bits wide

inline constexpr HKEY32 kHkeyClassesRoot = 0x80000000;
inline constexpr HKEY32 kHkeyCurrentUser = 0x80000001;
inline constexpr HKEY32 kHkeyLocalMachine = 0x80000002;
inline constexpr HKEY32 kHkeyUsers = 0x80000003;
inline constexpr HKEY32 kHkeyPerformanceData = 0x80000004;
inline constexpr HKEY32 kHkeyCurrentConfig = 0x80000005;
inline constexpr HKEY32 kHkeyDynData = 0x80000006;

inline constexpr uint32_t kKeyRead = 0x20019;

inline constexpr uint32_t kRegNone = 0, kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3,
                          kRegDword = 4, kRegMultiSz = 7;

inline constexpr int32_t kErrorSuccess = 0, kErrorFileNotFound = 2, kErrorAccessDenied = 5,
                         kErrorInvalidHandle = 6, kErrorInvalidParameter = 87,
                         kErrorMoreData = 234;

class RegistryApi {
 public:
  virtual ~RegistryApi() = default;
  // Opens `sub_key` (several levels allowed; empty: a new handle to `key`).
  virtual int32_t RegOpenKeyExA(HKEY32 key, const std::string& sub_key, uint32_t options,
                                uint32_t sam, HKEY32* result) = 0;
  // With `data` null: the size in `*size`. With a buffer too small: 234 and
  // the size needed. An empty name is the key's unnamed value.
  virtual int32_t RegQueryValueExA(HKEY32 key, const std::string& value_name, uint32_t* reserved,
                                   uint32_t* type, uint8_t* data, uint32_t* size) = 0;
  virtual int32_t RegCloseKey(HKEY32 key) = 0;
};

// The registry of the system the updater runs on.
RegistryApi& NativeRegistry();

// Converts text between the program's UTF-8 and the ANSI code page of the
// registry functions.
std::string Utf8ToAnsi(const std::string& s);
std::string AnsiToUtf8(const std::string& bytes);

}  // namespace ttu::platform
