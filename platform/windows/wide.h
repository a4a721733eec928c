// UTF-8 inside the program, UTF-16 at the Windows API.
#pragma once

#include <string>

namespace ttu::platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace ttu::platform
