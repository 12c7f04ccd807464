#include "platform/files.h"
#include "platform/portable/program_dir.h"

#include "platform/windows/wintext.h"

#include <algorithm>

namespace platform {

bool appendToFile(const std::string& path, const std::string& bytes) {
  // Shared, so a reader (an editor, a second copy of the program) does not
  // make the line fail.
  const HANDLE file = CreateFileW(win::widen(path).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      ok = false;
      break;
    }
    done += written;
  }
  if (!CloseHandle(file)) ok = false;
  return ok;
}

std::string localPath(const std::string& programPath) {
  std::string path = programPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string programDirectory() {
  if (!programDirectoryOverride().empty()) return programDirectoryOverride();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
  const size_t slash = path.find_last_of(L"\\/");
  return win::narrow(slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash));
}

}  // namespace platform
