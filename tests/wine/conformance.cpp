// Runs the registry cases against whatever platform/winreg.h provides: the
// emulation on Linux, advapi32 when cross-built for Windows. Prints one line
// per case, so the two runs can be compared line by line, then
// "N passed, N failed". Exits 0 iff every case passed.
//
// On Linux it works in a fresh machine folder (XDG_DATA_HOME) of its own;
// for Windows the caller provides a clean registry (a throwaway WINEPREFIX).

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "wine/registry_cases.h"

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#endif

namespace {

using conformance::kFill;
using conformance::Op;
using conformance::RegCase;
using namespace platform;

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

// Long data is shown by its ends and a checksum (FNV-1a), which is enough to
// tell two runs apart without lines of thousands of characters.
std::string shown(const std::string& bytes) {
  if (bytes.size() <= 300) return hex(bytes);
  uint32_t h = 2166136261u;
  for (unsigned char b : bytes) h = (h ^ b) * 16777619u;
  char sum[16];
  std::snprintf(sum, sizeof sum, "%08x", static_cast<unsigned>(h));
  return hex(bytes.substr(0, 16)) + ".." + hex(bytes.substr(bytes.size() - 16)) + "[" +
         std::to_string(bytes.size()) + " bytes fnv1a " + sum + "]";
}

std::string num(long long v) { return std::to_string(v); }

// What one case observed, as the line it prints and whether it matched.
struct Outcome {
  std::string line;
  bool passed = true;
  void field(const std::string& label, const std::string& got, const std::string& want) {
    line += " " + label + "=" + got;
    if (got != want) {
      passed = false;
      line += "(want " + want + ")";
    }
  }
};

HKEY createKey(const std::string& path, LONG& result, DWORD& disposition) {
  char keyClass[] = "1";
  SECURITY_ATTRIBUTES security{};
  security.nLength = 50;  // what the store passes
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = 1;
  HKEY key = nullptr;
  result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, keyClass,
                           REG_OPTION_NON_VOLATILE, conformance::kStoreRights, &security,
                           &key, &disposition);
  return result == ERROR_SUCCESS ? key : nullptr;
}

// Creates the case's key and sets its values; "" on success, else what failed.
std::string prepare(const RegCase& c) {
  if (c.prepareKey.empty()) return "";
  LONG result = 0;
  DWORD disposition = 0;
  HKEY key = createKey(c.prepareKey, result, disposition);
  if (!key) return "create " + num(result);
  std::string failed;
  for (const conformance::Write& w : c.writes) {
    const DWORD count =
        w.count == conformance::kWhole ? static_cast<DWORD>(w.bytes.size()) : w.count;
    result = RegSetValueExA(key, w.name.c_str(), 0, w.type,
                            reinterpret_cast<const BYTE*>(w.bytes.c_str()), count);
    if (result != ERROR_SUCCESS && failed.empty()) failed = "set " + num(result);
  }
  RegCloseKey(key);
  return failed;
}

Outcome run(const RegCase& c) {
  Outcome out;
  out.line = c.name + ":";
  const std::string prepared = prepare(c);
  if (!prepared.empty()) out.field("prepare", prepared, "");

  if (c.op == Op::Create) {
    LONG result = 0;
    DWORD disposition = 0;
    HKEY key = createKey(c.key, result, disposition);
    out.field("result", num(result), num(c.result));
    if (key) {
      out.field("disposition", num(disposition), num(c.detail));
      out.field("close", num(RegCloseKey(key)), "0");
    }
    return out;
  }

  HKEY key = nullptr;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.key.c_str(), 0, conformance::kStoreRights, &key);
  if (c.op == Op::Open) {
    out.field("result", num(opened), num(c.result));
    if (opened == ERROR_SUCCESS) out.field("close", num(RegCloseKey(key)), "0");
    return out;
  }

  // Op::Query
  out.field("open", num(opened), "0");
  if (opened != ERROR_SUCCESS) return out;
  std::string buffer(c.bufferSize, static_cast<char>(kFill));
  DWORD type = conformance::kTypeUnset;
  DWORD size = c.bufferSize;
  const LONG result = RegQueryValueExA(
      key, c.valueName.c_str(), nullptr, &type,
      c.noBuffer ? nullptr : reinterpret_cast<BYTE*>(buffer.data()), &size);
  out.field("result", num(result), num(c.result));
  out.field("type", num(type), num(c.detail));
  out.field("size", num(size), num(c.size));
  if (!c.noBuffer) {
    // The data and one byte past it on success; nothing at all on failure.
    std::size_t seen = 0;
    if (result == ERROR_SUCCESS) seen = std::min<std::size_t>(size + std::size_t{1}, buffer.size());
    out.field("bytes", shown(buffer.substr(0, seen)), shown(c.bytes));
    const bool restUntouched =
        buffer.find_first_not_of(static_cast<char>(kFill), seen) == std::string::npos;
    out.field("rest", restUntouched ? "untouched" : "changed", "untouched");
  }
  out.field("close", num(RegCloseKey(key)), "0");
  return out;
}

}  // namespace

int main() {
#ifndef _WIN32
  // A machine of our own, as on a first start: the folder exists, nothing in it.
  char folderTemplate[] = "/tmp/tarnwick-conformance-XXXXXX";
  if (!mkdtemp(folderTemplate)) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string folder = folderTemplate;
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
#endif

  int passed = 0;
  int failed = 0;
  for (const RegCase& c : conformance::registryCases()) {
    const Outcome o = run(c);
    std::printf("%s\n", o.line.c_str());
    ++(o.passed ? passed : failed);
  }
  std::printf("%d passed, %d failed\n", passed, failed);

#ifndef _WIN32
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
#endif
  return failed == 0 ? 0 : 1;
}
