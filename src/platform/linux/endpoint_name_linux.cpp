// Where the Linux endpoint's socket goes and how either end reaches it: a name
// per user, settings store and port, in a folder only the user can enter.

#include "platform/endpoint.h"
#include "platform/linux/endpoint_linux.h"
#include "platform/linux/machine_linux.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace endpoint_linux {

bool fill(sockaddr_un& address, const std::string& path) {
  if (path.empty() || path.size() > kMostSocketPath) return false;
  address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

int connectTo(const std::string& path) {
  sockaddr_un address;
  if (!fill(address, path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.fd < 0) return -1;
  if (::connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd.release();
}

std::optional<ucred> peerOf(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return std::nullopt;
  return cred;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string shortFolder() { return "/tmp/tarnwick-" + std::to_string(::geteuid()); }

bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

std::string portOf(const std::string& path) {
  const auto at = path.rfind("-COM");
  if (at == std::string::npos) return path;
  const auto end = path.find('-', at + 1);
  return path.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

}  // namespace endpoint_linux

namespace {

// 64-bit FNV-1a: stable across builds and systems, enough to tell stores apart.
uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// The settings folder as the system resolves it, so that two spellings of one
// store ("a//b", a linked folder) meet at one endpoint.
std::string storeIdentity() {
  std::string folder = machineFolder();
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  return folder;
}

}  // namespace

std::string endpointName(int commPort) {
  using namespace endpoint_linux;
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(storeIdentity())));
  const std::string leaf =
      "tarnwick-" + std::to_string(::geteuid()) + "-COM" + std::to_string(commPort) + "-" + hash + ".sock";
  // The user's runtime folder when it is really private; else the settings
  // folder (when this user may write there); else, as for a path too long for
  // a socket, the short private folder.
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) {
    folder = runtime;
  } else {
    const std::string settings = machineFolder();
    if (::access(settings.c_str(), W_OK) == 0) folder = settings;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder.size() + 1 + leaf.size() > kMostSocketPath) folder = shortFolder();
  return folder + "/" + leaf;
}

}  // namespace platform
