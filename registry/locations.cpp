// The installation-location lookups: each reads one registry value and turns
// every kind of failure into the empty text.
#include "registry/module2.h"

namespace ttu::registry {
namespace {

constexpr const char* kWindowsKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kKelmoKey = "HKEY_LOCAL_MACHINE\\Software\\Kelmo\\Installazione";

}  // namespace

std::string Module2::Lookup(const char* path, const char* value_name, const char* caption) {
  try {
    std::string holder;
    return RegReadValue(path, value_name, holder) == 0 ? holder : std::string();
  } catch (...) {
    ShowErrorReport(CurrentFailure(), std::string(caption));
    return std::string();
  }
}

std::string Module2::RetrieveCommonPath() {
  return Lookup(kWindowsKey, "COMMONFILESDIR", "ModReg - RetrieveCommonPath:");
}

std::string Module2::RetrieveProgramFilesPath() {
  return Lookup(kWindowsKey, "PROGRAMFILESDIR", "ModReg - RetrieveProgramFilesPath:");
}

std::string Module2::RetrieveProgramFilesKelmoPath() {
  return Lookup(kKelmoKey, "strPath", "ModReg - RetrieveProgramFilesKelmoPath:");
}

}  // namespace ttu::registry
