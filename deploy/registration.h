// Registering a written component: COM servers with regsvr32, .NET assemblies
// with the regasm of runtime v2.0.50727 ("R") or v4.0.30319 ("R4").
#pragma once

#include <string>

#include "platform/process.h"

namespace ttu::deploy {

inline constexpr const char* kRegasm20 = "C:\\WINDOWS\\Microsoft.NET\\Framework\\v2.0.50727\\regasm.exe";
inline constexpr const char* kRegasm40 = "C:\\WINDOWS\\Microsoft.NET\\Framework\\v4.0.30319\\regasm.exe";

// The file name with every ".dll" (exact letter case) turned into ".tlb".
std::string TypeLibraryName(const std::string& file_name);
std::string TypeLibraryCommand(const std::string& regasm, const std::string& target,
                               const std::string& tlb_name);
std::string CodeBaseCommand(const std::string& regasm, const std::string& target);
std::string ComRegistrationCommand(const std::string& target);

// Launches the registration of folder + file_name by its kind and returns at
// once. For "R" and "R4" the code-base command follows only once the
// type-library command has started. A launch that fails raises a RunError.
void RegisterComponent(const std::string& folder, const std::string& file_name,
                       const std::string& kind, platform::Launcher& launcher);

}  // namespace ttu::deploy
