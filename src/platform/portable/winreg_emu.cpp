#include "platform/portable/winreg_emu.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace platform {

struct HKEY__ {
  std::string path;  // full path, "HKEY_LOCAL_MACHINE\..." without a trailing "\"
  REGSAM rights;
};

namespace winreg_emu {

namespace {

const std::string kRoot = "HKEY_LOCAL_MACHINE";
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

struct Handles {
  std::mutex mutex;
  std::set<HKEY> open;
};

Handles& handles() {
  static Handles table;
  return table;
}

HKEY newHandle(std::string path, REGSAM rights) {
  HKEY key = new HKEY__{std::move(path), rights};
  const std::lock_guard lock(handles().mutex);
  handles().open.insert(key);
  return key;
}

// The path and rights behind a handle; false for a handle never given out.
bool lookup(HKEY key, std::string& path, REGSAM& rights) {
  if (key == HKEY_LOCAL_MACHINE) {
    path = kRoot;
    rights = ~REGSAM{0};
    return true;
  }
  const std::lock_guard lock(handles().mutex);
  if (!handles().open.count(key)) return false;
  path = key->path;
  rights = key->rights;
  return true;
}

// key + "\" + subKey. A trailing "\" is allowed; empty levels and line breaks
// (which the file could not hold) are not.
LONG resolve(HKEY key, LPCSTR subKey, std::string& path) {
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::string sub(subKey);
  if (sub.back() == '\\') sub.pop_back();
  if (sub.empty() || sub.front() == '\\' || sub.find("\\\\") != std::string::npos ||
      sub.find_first_of("\r\n") != std::string::npos)
    return ERROR_INVALID_PARAMETER;
  path += '\\' + sub;
  return ERROR_SUCCESS;
}

// The types advapi32's single-byte functions treat as text.
bool isTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What opening and creating a key start with: the key's full path and the
// registry as it is now.
LONG startOpen(RegistryFile& file, HKEY key, LPCSTR subKey, PHKEY result, std::string& path,
               regfile::Model& model) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (const LONG rc = resolve(key, subKey, path)) return rc;
  return file.load(model);
}

}  // namespace

LONG openKey(RegistryFile& file, HKEY key, LPCSTR subKey, REGSAM desired, PHKEY result) {
  std::string path;
  regfile::Model model;
  if (const LONG rc = startOpen(file, key, subKey, result, path, model)) return rc;
  if (path != kRoot && !regfile::keyExists(model, path)) return ERROR_FILE_NOT_FOUND;
  if ((desired & kWriteRights) && !file.writable()) return ERROR_ACCESS_DENIED;
  *result = newHandle(std::move(path), desired);
  return ERROR_SUCCESS;
}

LONG queryValue(RegistryFile& file, HKEY key, LPCSTR valueName, LPDWORD type, LPBYTE data,
                LPDWORD size) {
  std::string path;
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!(rights & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  // A query that finds nothing leaves REG_NONE and, when it asked only for the
  // size, a size of 0, as advapi32 does.
  if (type) *type = REG_NONE;
  if (!data && size) *size = 0;
  regfile::Model model;
  if (const LONG rc = file.load(model)) return rc;
  const regfile::Key* found = regfile::findKey(model, path);
  const regfile::Value* value = found ? regfile::findValue(*found, valueName ? valueName : "") : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  const std::string& bytes = value->data;
  const auto needed = static_cast<DWORD>(bytes.size());
  if (type) *type = value->type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    // A text stored without its zero byte gets one after it where the buffer
    // has room, not counted in the size, as NT does.
    if (isTextType(value->type) && needed > 0 && needed < *size && data[needed - 1] != 0)
      data[needed] = 0;
  }
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LONG createKey(RegistryFile& file, HKEY key, LPCSTR subKey, REGSAM desired, PHKEY result,
               LPDWORD disposition) {
  std::string path;
  regfile::Model model;
  if (const LONG rc = startOpen(file, key, subKey, result, path, model)) return rc;
  bool created = false;
  if (path != kRoot && !regfile::keyExists(model, path)) {
    const LONG rc = file.transact([&](regfile::Model& current) {
      created = regfile::addKey(current, path);
      return created;
    });
    if (rc) return rc;
  } else if ((desired & kWriteRights) && !file.writable()) {
    return ERROR_ACCESS_DENIED;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = newHandle(std::move(path), desired);
  return ERROR_SUCCESS;
}

LONG setValue(RegistryFile& file, HKEY key, LPCSTR valueName, DWORD type, const BYTE* data,
              DWORD size) {
  std::string path;
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!(rights & KEY_SET_VALUE) || path == kRoot) return ERROR_ACCESS_DENIED;
  const std::string name = valueName ? valueName : "";
  if ((!data && size) || name.find_first_of("\r\n") != std::string::npos)
    return ERROR_INVALID_PARAMETER;
  // Exactly size bytes are read. A text counted without its zero byte (a C
  // string's length) is stored with one, as NT stores such a text when a zero
  // follows it; the byte after the count is never looked at, so a text given
  // without any zero behind it is stored with one too.
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  if (isTextType(type) && !bytes.empty() && bytes.back() != 0) bytes.push_back('\0');
  return file.transact([&](regfile::Model& current) {
    // The key may have gone from the file since it was opened: bring it back.
    regfile::addKey(current, path);
    regfile::setValue(*regfile::findKey(current, path), name, type, std::move(bytes));
    return true;
  });
}

LONG closeKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  {
    const std::lock_guard lock(handles().mutex);
    if (!handles().open.erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

}  // namespace winreg_emu

}  // namespace platform
