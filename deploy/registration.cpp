#include "deploy/registration.h"

#include "support/text.h"

namespace ttu::deploy {

std::string TypeLibraryName(const std::string& file_name) {
  return text::ReplaceAll(file_name, ".dll", ".tlb");
}

std::string TypeLibraryCommand(const std::string& regasm, const std::string& target,
                               const std::string& tlb_name) {
  return "\"" + regasm + "\"" + " /nologo " + "\"" + target + "\"" + " /tlb:" + tlb_name;
}

std::string CodeBaseCommand(const std::string& regasm, const std::string& target) {
  return "\"" + regasm + "\"" + " /codebase " + "\"" + target + "\"";
}

std::string ComRegistrationCommand(const std::string& target) {
  return std::string("regsvr32.exe ") + "\"" + target + "\"" + " /s";
}

void RegisterComponent(const std::string& folder, const std::string& file_name,
                       const std::string& kind, platform::Launcher& launcher) {
  const std::string target = folder + file_name;
  const char* regasm = kind == "R" ? kRegasm20 : kind == "R4" ? kRegasm40 : nullptr;
  if (regasm) {
    launcher.Launch(TypeLibraryCommand(regasm, target, TypeLibraryName(file_name)),
                    platform::kMinimizedFocus);
    launcher.Launch(CodeBaseCommand(regasm, target), platform::kHide);
  } else {
    launcher.Launch(ComRegistrationCommand(target), platform::kHide);
  }
}

}  // namespace ttu::deploy
