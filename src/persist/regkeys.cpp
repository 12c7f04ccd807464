#include "persist/regkeys.h"

#include "persist/errorreport.h"
#include "persist/store_state.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/winreg.h"

#include <string>
#include <vector>

using namespace platform;  // the registry's types and functions

namespace {

constexpr uint32_t kLocalMachine = 0x80000002u;
// Reads ask only for read rights (READ_CONTROL, query, enumerate, notify), so a
// key that may be read but not written still gives its values.
constexpr REGSAM kReadAccess = 0x20019;
// READ_CONTROL with query, set, create sub-key, enumerate, notify and create link.
constexpr REGSAM kWriteAccess = 0x2003F;
// The first read's buffer; a longer value is read again with the size it needs.
constexpr DWORD kBufferSize = 1024;
// How often a value that keeps growing between two reads is tried.
constexpr int kReadTries = 4;

// The predefined key for a root handle value; only the local machine is used.
HKEY rootKey(uint32_t root) { return root == kLocalMachine ? HKEY_LOCAL_MACHINE : nullptr; }

// The text as a single-byte call receives it. Like any such call, it leaves the
// caller's variable holding the text converted there and back.
std::string passAnsi(std::string& text) {
  std::string bytes = platform::toAnsi(text);
  text = platform::fromAnsi(bytes);
  return bytes;
}

// A read value as text, from the size bytes the read gave. A 32-bit number
// shows unsigned, as regedit shows it.
std::string textOf(DWORD type, const std::vector<BYTE>& buffer, DWORD size) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    size_t length = 0;
    while (length < size && length < buffer.size() && buffer[length] != 0) ++length;
    return platform::fromAnsi(std::string(reinterpret_cast<const char*>(buffer.data()), length));
  }
  if (type == REG_DWORD && size >= 4) {
    const uint32_t number = buffer[0] | buffer[1] << 8 | buffer[2] << 16 | static_cast<uint32_t>(buffer[3]) << 24;
    return std::to_string(number);
  }
  return {};
}

// The registry's own words for the errors a write can meet.
std::string registryErrorText(LONG rc) {
  switch (rc) {
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified";
    case ERROR_ACCESS_DENIED: return "Access is denied";
    case ERROR_INVALID_HANDLE: return "The handle is invalid";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect";
    case ERROR_BADDB: return "The configuration registry database is corrupt";
    default: return "Registry error";
  }
}

// A write the registry refused is a fault of the caller's step, so it reaches
// the log file; a failed read is not (it only means the default is used).
void refuseWrite(LONG rc) {
  if (rc != ERROR_SUCCESS) platform::raise(rc, registryErrorText(rc), "Registry");
}

// date-time + headline + LF CR LF CR + "'name' = value" (or a prefix) + LF CR.
std::string registryReport(const std::string& headline, const std::string& assignee,
                           const std::string& value) {
  return platform::generalDate(platform::now()) + headline + "\n\r\n\r" + assignee + " = " + value +
         "\n\r";
}

}  // namespace

std::string SettingsKeyPath() {
  return "SOFTWARE\\" TARNWICK_COMPANY "\\" TARNWICK_PRODUCT "\\";
}

void Registry(std::string& name, std::string& value) {
  const Steps step("[Registry] Error (");
  const bool writeMode = storeState().gUpdateMode == 1;
  std::string path;
  std::string current;
  step([&] { path = SettingsKeyPath(); });
  if (!writeMode) step([&] { current = GetKeyValue(kLocalMachine, path, name); });
  if (step.test([&] { return current.empty(); })) {
    step([&] { UpdateKey(kLocalMachine, path, name, value); });
    step([&] {
      storeState().gRegistryReport =
          writeMode ? registryReport(" User Changed value of '" + name +
                                         "'. Updating registry entry !!!!!!   ",
                                     "New Value for '" + name + "'", value)
                    : registryReport(" Error - '" + name +
                                         "' registry entry doesn't exist. -----> CREATING...  ",
                                     "'" + name + "'", value);
    });
  } else {
    step([&] { value = current; });
    step([&] {
      storeState().gRegistryReport = registryReport(
          " Reading '" + name + "' registry entry. -----> SUCCESS...", "'" + name + "'", value);
    });
  }
}

std::string GetKeyValue(uint32_t root, std::string& subKey, std::string& name) {
  const Steps step("[GetKeyValue] Error (");
  std::string result;
  HKEY key = nullptr;
  LONG rc = ERROR_INVALID_HANDLE;
  std::vector<BYTE> buffer;
  DWORD type = REG_NONE;
  DWORD size = kBufferSize;
  step([&] { rc = RegOpenKeyExA(rootKey(root), passAnsi(subKey).c_str(), 0, kReadAccess, &key); });
  if (rc == ERROR_SUCCESS) {
    step([&] {
      const std::string bytes = passAnsi(name);
      // A value longer than the buffer is read again with the size the registry
      // asked for: a long name is the user's text, not a missing value.
      rc = ERROR_MORE_DATA;
      for (int tries = 0; tries < kReadTries && rc == ERROR_MORE_DATA; ++tries) {
        buffer.assign(size, 0);
        rc = RegQueryValueExA(key, bytes.c_str(), nullptr, &type, buffer.data(), &size);
      }
    });
  }
  if (rc == ERROR_SUCCESS) step([&] { result = textOf(type, buffer, size); });
  if (key) step([&] { RegCloseKey(key); });
  return result;
}

bool UpdateKey(uint32_t root, std::string& subKey, std::string& name, std::string& value) {
  const Steps step("[UpdateKey] Error (");
  bool written = false;
  HKEY key = nullptr;
  LONG rc = ERROR_INVALID_HANDLE;
  step([&] {
    SECURITY_ATTRIBUTES security{.nLength = 50, .lpSecurityDescriptor = nullptr, .bInheritHandle = 1};
    char keyClass[] = "1";
    DWORD disposition = 0;
    rc = RegCreateKeyExA(rootKey(root), passAnsi(subKey).c_str(), 0, keyClass,
                         REG_OPTION_NON_VOLATILE, kWriteAccess, &security, &key, &disposition);
    refuseWrite(rc);
  });
  if (rc == ERROR_SUCCESS) {
    step([&] {
      // One blank, put in as a character: GCC 12 warns (-Wrestrict, falsely)
      // about copying a literal into a string that may share its buffer.
      if (value.empty()) value.assign(1, ' ');
    });
    step([&] {
      const std::string bytes = passAnsi(value);
      rc = RegSetValueExA(key, passAnsi(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
      written = rc == ERROR_SUCCESS;
      refuseWrite(rc);
    });
  }
  if (key) step([&] { RegCloseKey(key); });
  return written;
}
