// Run-time failures: what a failure handler catches and what the messages print.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ttu {

// Numbers of the run-time's own failures.
enum RunErrorNumber : int32_t {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrFileNotFound = 53,
  kErrDiskFull = 61,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
  kErrResourceNotFound = 326,
  // The updater's own: a package that is damaged (a payload that does not
  // match its recorded checksum, a seal that does not match, a package cut
  // short), in the number range of the run-time's file-loading failures.
  kErrPackageDamaged = 31037,
  // A registration refused because it would run a Wine prefix with a Wine
  // other than its own, which would update the prefix as a side effect.
  kErrPrefixNeedsItsWine = 31038,
  // An update made of differences to the installed files that finds another
  // version of one of them (or none): nothing is written.
  kErrNotTheInstalledVersion = 31039,
};

// The source that run-time failures carry.
inline constexpr const char* kRunTimeSource = "TessiroTinyUpdater";

class RunError : public std::runtime_error {
 public:
  RunError(int32_t number, std::string description, std::string source = kRunTimeSource)
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  // A failure with the run-time's own description of `number`.
  static RunError Of(int32_t number);
  // "Resource with identifier 'N' not found".
  static RunError ResourceNotFound(uint32_t id);
  // "The package is damaged: resource N (name) does not match its checksum ...".
  static RunError PackageDamaged(uint32_t id, const std::string& name);
  // "The package is damaged: `what`; download the updater again".
  static RunError PackageDamaged(const std::string& what);
  // "The Wine prefix P needs `needed`; `wine` would update it ...".
  static RunError PrefixNeedsItsWine(const std::string& prefix, const std::string& wine, const std::string& needed);

  // "These installed files are not the version the update was made for:
  // `files`. Use the full updater".
  static RunError NotTheInstalledVersion(const std::string& files);

  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }
  int32_t Line() const { return 0; }  // no statement carries a line number

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The run-time's description of one of its own failure numbers.
std::string RunErrorDescription(int32_t number);

// Turns whatever a handler caught into a RunError: RunError itself, memory
// exhaustion (7) and anything else (5). Call only inside a catch block.
RunError CurrentFailure();

}  // namespace ttu
