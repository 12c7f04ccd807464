#pragma once
// The registry functions of platform/winreg.h for a system without a
// registry: advapi32's contract (handles, rights, paths, sizes, the zero byte
// after a text) over a REGEDIT4 model, in standard C++. Where the model is
// kept, and how a change reaches it safely, is the system's part: a
// RegistryFile that the backend hands over (platform/linux/winreg_linux.cpp).

#include "platform/portable/regfile.h"
#include "platform/winreg.h"

#include <functional>

namespace platform {

// The file that holds HKEY_LOCAL_MACHINE.
class RegistryFile {
 public:
  virtual ~RegistryFile() = default;

  // The registry as the file holds it now: ERROR_SUCCESS with the model (a
  // missing file is an empty registry), ERROR_ACCESS_DENIED when the file
  // cannot be read, ERROR_BADDB when it is not a registry file.
  virtual LONG load(regfile::Model& model) = 0;

  // True iff this process may replace the file.
  virtual bool writable() = 0;

  // Applies change to the registry as it is while no other writer can come
  // between; when change returns true, the file is replaced by the result, so
  // that a crash leaves either the old or the new file. Returns what load()
  // returned, or ERROR_ACCESS_DENIED when the file cannot be written.
  virtual LONG transact(const std::function<bool(regfile::Model&)>& change) = 0;
};

// The five functions, each over the given file; the handles they give out
// are shared by all files. The backend's Reg*A forward to these.
namespace winreg_emu {

LONG openKey(RegistryFile& file, HKEY key, LPCSTR subKey, REGSAM desired, PHKEY result);
LONG queryValue(RegistryFile& file, HKEY key, LPCSTR valueName, LPDWORD type, LPBYTE data,
                LPDWORD size);
LONG createKey(RegistryFile& file, HKEY key, LPCSTR subKey, REGSAM desired, PHKEY result,
               LPDWORD disposition);
LONG setValue(RegistryFile& file, HKEY key, LPCSTR valueName, DWORD type, const BYTE* data,
              DWORD size);
LONG closeKey(HKEY key);

}  // namespace winreg_emu

}  // namespace platform
