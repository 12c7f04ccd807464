#pragma once
// What the Linux endpoint's two ends share: where the socket goes, how it is
// reached and whose its peer is. Plain POSIX.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace platform::endpoint_linux {

// sun_path holds 108 bytes with the terminating zero.
inline constexpr size_t kMostSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// A descriptor closed with its holder.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int f = -1) {
    if (fd >= 0) ::close(fd);
    fd = f;
  }
  int release() { return std::exchange(fd, -1); }
};

// The address of the socket at path; false when the path is empty or too long.
bool fill(sockaddr_un& address, const std::string& path);

// A nonblocking connect to the socket at path: the connected socket, or -1
// with errno set.
int connectTo(const std::string& path);

// The process at the other end of a connected socket.
std::optional<ucred> peerOf(int fd);

// The socket's folder: everything before the last '/'.
std::string folderOf(const std::string& path);

// The short private folder used when the usual one makes the socket's path too
// long for a Unix socket.
std::string shortFolder();

// A folder only this user may enter: a real directory (not a link), ours, no
// access for anyone else. What $XDG_RUNTIME_DIR and the short folder must be.
bool isPrivateFolder(const std::string& path);

// "COM3" out of ".../tarnwick-1000-COM3-<hash>.sock"; the path itself for a
// name of another shape.
std::string portOf(const std::string& path);

}  // namespace platform::endpoint_linux
