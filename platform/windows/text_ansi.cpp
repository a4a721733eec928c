// Text conversions at the Windows API: UTF-16 and the ANSI code page.
#include "platform/windows/windows_api.h"

#include "platform/registry_api.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

std::wstring ToWide(const std::string& s, UINT code_page) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string FromWide(const std::wstring& w, UINT code_page) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(code_page, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace

std::wstring Widen(const std::string& utf8) { return ToWide(utf8, CP_UTF8); }
std::string Narrow(const std::wstring& utf16) { return FromWide(utf16, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& s) { return FromWide(ToWide(s, CP_UTF8), CP_ACP); }
std::string AnsiToUtf8(const std::string& bytes) { return FromWide(ToWide(bytes, CP_ACP), CP_UTF8); }

}  // namespace ttu::platform
