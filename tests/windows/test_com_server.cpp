// A stand-in COM server for the tests: registering it records the fact in
// HKEY_LOCAL_MACHINE\Software\TessiroTest, unregistering removes it.
#include <windows.h>

extern "C" HRESULT __stdcall DllRegisterServer() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\TessiroTest", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return E_FAIL;
  }
  static const char kValue[] = "registered";
  RegSetValueExA(key, "TessiroTestCom", 0, REG_SZ, reinterpret_cast<const BYTE*>(kValue), sizeof kValue);
  RegCloseKey(key);
  return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\TessiroTest");
  return S_OK;
}
