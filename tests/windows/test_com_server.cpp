// A stand-in COM server for the tests: registering it records the fact in
// HKEY_LOCAL_MACHINE\Software\TessiroTest, unregistering removes it. Built
// twice: TessiroTestCom.dll, and TessiroTestComDep.dll, which imports
// TessiroTestDep.dll.
#include <windows.h>

#ifdef TTU_COM_DEPENDENCY
// The variant that imports a library of its own, not shipped beside it.
extern "C" int TessiroTestDependency();
#endif

extern "C" HRESULT __stdcall DllRegisterServer() {
#ifdef TTU_COM_DEPENDENCY
  if (!TessiroTestDependency()) return E_FAIL;
#endif
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
