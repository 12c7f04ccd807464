// The registry functions on Windows: advapi32's own, behind the program's
// declarations, which name no system header. Handles pass through unchanged;
// the 32-bit numbers are copied across, as the two headers spell them as
// different (same-sized) types.
#include "platform/winreg.h"

// After the program's header: <windows.h> makes macros of several of its names.
#include <windows.h>

namespace platform {

namespace {

::HKEY native(HKEY key) { return reinterpret_cast<::HKEY>(key); }
::PHKEY native(PHKEY key) { return reinterpret_cast<::PHKEY>(key); }

// A DWORD in-out parameter: copied in, and out again after the call.
class Dword {
 public:
  explicit Dword(LPDWORD ours) : ours_(ours), value_(ours ? *ours : 0) {}
  ~Dword() {
    if (ours_) *ours_ = static_cast<DWORD>(value_);
  }
  Dword(const Dword&) = delete;
  Dword& operator=(const Dword&) = delete;
  ::LPDWORD get() { return ours_ ? &value_ : nullptr; }

 private:
  LPDWORD ours_;
  ::DWORD value_;
};

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  return ::RegOpenKeyExA(native(key), subKey, options, desired, native(result));
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  Dword r(reserved), t(type), s(size);
  return ::RegQueryValueExA(native(key), valueName, r.get(), t.get(), data, s.get());
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition) {
  ::SECURITY_ATTRIBUTES attributes{};
  if (security) {
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = security->lpSecurityDescriptor;
    attributes.bInheritHandle = security->bInheritHandle;
  }
  Dword d(disposition);
  return ::RegCreateKeyExA(native(key), subKey, reserved, keyClass, options, desired,
                           security ? &attributes : nullptr, native(result), d.get());
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  return ::RegSetValueExA(native(key), valueName, reserved, type, data, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(native(key)); }

}  // namespace platform
