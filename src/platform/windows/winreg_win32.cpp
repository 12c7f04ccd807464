// The settings store's five registry functions, forwarded to advapi32's own.
// The store's types are its header's: same sizes, distinct C++ types.
#include "platform/winreg.h"

// After the store's header: its names would otherwise meet <windows.h>'s macros.
#include <windows.h>

namespace platform {

namespace {
::HKEY native(HKEY key) { return reinterpret_cast<::HKEY>(key); }
::LPDWORD native(LPDWORD value) { return reinterpret_cast<::LPDWORD>(value); }
}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  return ::RegOpenKeyExA(native(key), subKey, options, desired, reinterpret_cast<::PHKEY>(result));
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  return ::RegQueryValueExA(native(key), valueName, native(reserved), native(type), data,
                            native(size));
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition) {
  // The same three fields in the same order, at the system's sizes.
  ::SECURITY_ATTRIBUTES attributes{};
  if (security) {
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = security->lpSecurityDescriptor;
    attributes.bInheritHandle = security->bInheritHandle;
  }
  return ::RegCreateKeyExA(native(key), subKey, reserved, keyClass, options, desired,
                           security ? &attributes : nullptr, reinterpret_cast<::PHKEY>(result),
                           native(disposition));
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  return ::RegSetValueExA(native(key), valueName, reserved, type, data, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(native(key)); }

}  // namespace platform
