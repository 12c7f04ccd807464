#include "platform/files.h"
#include "platform/portable/program_dir.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace platform {

bool appendToFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { ok = false; break; }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

// "\" becomes "/"; repeated separators, "." and ".." are resolved in the text
// alone (no links followed), and a trailing separator goes.
std::string localPath(const std::string& programPath) {
  const bool absolute = !programPath.empty() && (programPath[0] == '/' || programPath[0] == '\\');
  std::vector<std::string> parts;
  std::string part;
  auto take = [&] {
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (!absolute) parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (const char c : programPath) {
    if (c == '/' || c == '\\') take();
    else part.push_back(c);
  }
  take();
  std::string path = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) path += '/';
    path += parts[i];
  }
  if (path.empty() && !programPath.empty()) path.push_back('.');
  return path;
}

std::string programDirectory() {
  if (!programDirectoryOverride().empty()) return programDirectoryOverride();
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    const std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) return slash == 0 ? "/" : path.substr(0, slash);
  }
  char cwd[PATH_MAX];
  return ::getcwd(cwd, sizeof cwd) ? cwd : ".";
}

}  // namespace platform
