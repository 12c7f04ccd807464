#pragma once
// The five registry functions the settings store calls, with advapi32's names
// and contract, declared without any system header. The Windows backend
// forwards them to advapi32 (platform/windows/winreg_win32.cpp); the Linux one
// emulates them over one REGEDIT4 file, <machine folder>/registry.reg
// (platform/portable/winreg_emu.cpp, over the file that
// platform/linux/winreg_linux.cpp reads and replaces). They live in namespace
// platform so that a backend file may include <windows.h> beside this header,
// after it.

#include <cstdint>

namespace platform {

using LONG = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using BOOL = int;
using REGSAM = DWORD;
using LPCSTR = const char*;
using LPSTR = char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The value Windows gives it: the 32-bit handle 0x80000002, sign-extended.
inline const HKEY HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_BADDB = 1009;  // the registry file cannot be parsed

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM READ_CONTROL = 0x00020000;

// Opens an existing key. Returns ERROR_SUCCESS and a handle in *result, or an
// error (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED when write rights are asked
// for and the machine folder or file is not writable, ERROR_BADDB).
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);

// Reads a value. *size is the buffer size in and the data size out; data that
// does not fit gives ERROR_MORE_DATA and leaves the buffer untouched.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD size);

// Opens a key, creating every missing level of the path.
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                     DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                     PHKEY result, LPDWORD disposition);

// Creates or replaces a value; the registry file is rewritten atomically.
// Exactly size bytes of data are read; the emulation stores a text that does
// not end in a zero byte with one added.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD size);

LONG RegCloseKey(HKEY key);

}  // namespace platform
