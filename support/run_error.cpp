#include "support/run_error.h"

#include <exception>
#include <new>

namespace ttu {

std::string RunErrorDescription(int32_t number) {
  switch (number) {
    case kErrInvalidCall: return "Invalid procedure call or argument";
    case kErrOverflow: return "Overflow";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSubscript: return "Subscript out of range";
    case kErrFileNotFound: return "File not found";
    case kErrDiskFull: return "Disk full";
    case kErrPermissionDenied: return "Permission denied";
    case kErrPathFileAccess: return "Path/File access error";
    case kErrPathNotFound: return "Path not found";
    case kErrResourceNotFound: return "Resource not found";
    case kErrPackageDamaged: return "The package is damaged";
    case kErrPrefixNeedsItsWine: return "The Wine prefix needs its own Wine";
    case kErrNotTheInstalledVersion: return "An installed file is not the version the update was made for";
    default: return "Application-defined or object-defined error";
  }
}

RunError RunError::Of(int32_t number) { return RunError(number, RunErrorDescription(number)); }

RunError RunError::ResourceNotFound(uint32_t id) {
  return RunError(kErrResourceNotFound,
                  "Resource with identifier '" + std::to_string(id) + "' not found");
}

RunError RunError::PackageDamaged(uint32_t id, const std::string& name) {
  return PackageDamaged("resource " + std::to_string(id) + (name.empty() ? "" : " (" + name + ")") +
                        " does not match its checksum");
}

RunError RunError::PrefixNeedsItsWine(const std::string& prefix, const std::string& wine,
                                      const std::string& needed) {
  return RunError(kErrPrefixNeedsItsWine, "The Wine prefix " + prefix + " needs " + needed + "; " + wine +
                                              " would update it, so nothing was registered. Start the updater "
                                              "with WINEPREFIX set and that Wine first on PATH");
}

RunError RunError::PackageDamaged(const std::string& what) {
  return RunError(kErrPackageDamaged, "The package is damaged: " + what + "; download the updater again");
}

RunError RunError::NotTheInstalledVersion(const std::string& files) {
  return RunError(kErrNotTheInstalledVersion,
                  "This update carries only the changes to the installed files, and these are not the version it "
                  "was made for: " + files + ". Nothing was updated: use the full updater");
}

RunError CurrentFailure() {
  try {
    throw;
  } catch (const RunError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return RunError::Of(kErrOutOfMemory);
  } catch (const std::length_error&) {
    return RunError::Of(kErrOutOfMemory);
  } catch (...) {
    return RunError::Of(kErrInvalidCall);
  }
}

}  // namespace ttu
