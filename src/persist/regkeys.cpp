#include "persist/regkeys.h"

#include "persist/errorreport.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/winreg.h"
#include "shell/globals.h"

#include <array>
#include <string>

using namespace platform;  // the registry's types and functions

namespace {

constexpr uint32_t kLocalMachine = 0x80000002u;
// READ_CONTROL with query, set, create sub-key, enumerate, notify and create link.
constexpr REGSAM kAccess = 0x2003F;
constexpr DWORD kBufferSize = 1024;

// The predefined key for a root handle value; only the local machine is used.
HKEY rootKey(uint32_t root) { return root == kLocalMachine ? HKEY_LOCAL_MACHINE : nullptr; }

// The text as a single-byte call receives it. Like any such call, it leaves the
// caller's variable holding the text converted there and back.
std::string passAnsi(std::string& text) {
  std::string bytes = platform::toAnsi(text);
  text = platform::fromAnsi(bytes);
  return bytes;
}

// A read value as text. A 32-bit number shows unsigned, as regedit shows it.
std::string textOf(DWORD type, const std::array<BYTE, kBufferSize>& buffer) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    return platform::fromAnsi(std::string(reinterpret_cast<const char*>(buffer.data()), length));
  }
  if (type == REG_DWORD) {
    const uint32_t number = buffer[0] | buffer[1] << 8 | buffer[2] << 16 | static_cast<uint32_t>(buffer[3]) << 24;
    return std::to_string(number);
  }
  return {};
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
  const bool writeMode = g.gUpdateMode == 1;
  std::string path;
  std::string current;
  step([&] { path = SettingsKeyPath(); });
  if (!writeMode) step([&] { current = GetKeyValue(kLocalMachine, path, name); });
  if (step.test([&] { return current.empty(); })) {
    step([&] { UpdateKey(kLocalMachine, path, name, value); });
    step([&] {
      g.gRegistryReport =
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
      g.gRegistryReport = registryReport(
          " Reading '" + name + "' registry entry. -----> SUCCESS...", "'" + name + "'", value);
    });
  }
}

std::string GetKeyValue(uint32_t root, std::string& subKey, std::string& name) {
  const Steps step("[GetKeyValue] Error (");
  std::string result;
  HKEY key = nullptr;
  LONG rc = ERROR_INVALID_HANDLE;
  std::array<BYTE, kBufferSize> buffer{};
  DWORD type = REG_NONE;
  step([&] { rc = RegOpenKeyExA(rootKey(root), passAnsi(subKey).c_str(), 0, kAccess, &key); });
  if (rc == ERROR_SUCCESS) {
    step([&] {
      DWORD size = kBufferSize;
      rc = RegQueryValueExA(key, passAnsi(name).c_str(), nullptr, &type, buffer.data(), &size);
    });
  }
  if (rc == ERROR_SUCCESS) step([&] { result = textOf(type, buffer); });
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
                         REG_OPTION_NON_VOLATILE, kAccess, &security, &key, &disposition);
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
    });
  }
  if (key) step([&] { RegCloseKey(key); });
  return written;
}
