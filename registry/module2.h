// The registry module: key paths given as text, value reading decoded by
// type, a last-error record with Italian texts, the error report dialog, and
// the installation-location lookups built on them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/registry_api.h"
#include "support/run_error.h"
#include "registry/install_locations.h"

namespace ttu::registry {

inline constexpr const char* kRegErrorSource = "GestioneRegistro";
inline constexpr int kMaxPathParts = 32;

// The module's last-error record.
struct RegError {
  int32_t Code = 0;
  std::string Source;
  std::string Description;
};

// Texts of the module's own codes and of Windows error codes.
std::string RegInternalErrorText(int32_t code);
std::string RegApiErrorText(int32_t code);

class Module2 : public InstallLocations {
 public:
  Module2(platform::RegistryApi& api, platform::Dialogs& dialogs) : api_(api), dialogs_(dialogs) {}

  // Error state.
  void ResetRegError();
  void SetRegInternalError(int32_t code);
  void SetRegApiError(int32_t code);
  // Reports `failure` (the failure being handled) under `caption`, style 16 and an
  // empty title, then resets the mouse pointer. Leaves RegLastError alone.
  void ShowErrorReport(const RunError& failure, const std::optional<std::string>& caption = {});

  // Opens the key a path names, level by level: the handle, or -1 on failure
  // (0 for a path without any part).
  int32_t RegOpenPath(const std::string& path, uint32_t mask);
  // 0 when closed, -1 otherwise.
  int32_t RegCloseHandle(int32_t handle);
  // Reads a value as text into `holder`: 0 when read (a value without data
  // leaves the holder as it was), -1 on failure with the cause in RegLastError.
  // A failure while decoding passes to the caller, the key closed.
  int32_t RegReadValue(const std::string& path, const std::string& value_name, std::string& holder);

  // Installation locations: the value's text, or the empty text.
  std::string RetrieveCommonPath() override;
  std::string RetrieveProgramFilesPath() override;
  std::string RetrieveProgramFilesKelmoPath() override;

  RegError RegLastError;

 private:
  std::string Lookup(const char* path, const char* value_name, const char* caption);
  std::string DecodeValue(uint32_t type, const uint8_t* data, uint32_t n);

  platform::RegistryApi& api_;
  platform::Dialogs& dialogs_;
};

}  // namespace ttu::registry
