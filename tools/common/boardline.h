// What both board simulators do around their board: the pseudo-terminal the
// program opens as its serial device, the --link to it, the end on SIGINT or
// SIGTERM, the line speed as a number and one line of output at a time.
#pragma once

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace boardline {

struct Line {
  int master = -1;  // the board's end
  int device = -1;  // held open: keeps the line up while the program closes
                    // and reopens its port, and shows the settings it chose
  std::string path;
  std::string link;  // the symbolic link to `path`, removed by closeLine
};

// The exit status for a command line that did not parse: the usage goes to
// stdout for a lone --help (0), to stderr otherwise (2).
inline int usage(int argc, char** argv, const char* text) {
  const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
  std::fputs(text, help ? stdout : stderr);
  return help ? 0 : 2;
}

// Opens a raw pseudo-terminal. False, after a message on stderr, on failure.
inline bool openLine(const char* program, Line& line, bool nonBlocking) {
  line.master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (line.master < 0 || ::grantpt(line.master) != 0 || ::unlockpt(line.master) != 0) {
    std::fprintf(stderr, "%s: posix_openpt: %s\n", program, std::strerror(errno));
    return false;
  }
  if (nonBlocking) ::fcntl(line.master, F_SETFL, ::fcntl(line.master, F_GETFL) | O_NONBLOCK);
  line.path = ::ptsname(line.master);
  line.device = ::open(line.path.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  if (line.device < 0 || ::tcgetattr(line.device, &raw) != 0) {
    std::fprintf(stderr, "%s: open device: %s\n", program, std::strerror(errno));
    return false;
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(line.device, TCSANOW, &raw);
  return true;
}

// Makes `link` (when not empty) a symbolic link to the line, its folders as
// needed. False, after a message on stderr, on failure.
inline bool linkLine(const char* program, Line& line, const std::string& link) {
  if (link.empty()) return true;
  std::error_code ignored;
  const std::filesystem::path path(link);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  std::filesystem::remove(path, ignored);
  std::filesystem::create_symlink(line.path, path, ignored);
  if (ignored) {
    std::fprintf(stderr, "%s: cannot link %s: %s\n", program, link.c_str(), ignored.message().c_str());
    return false;
  }
  line.link = link;
  return true;
}

// Removes the link and closes both ends.
inline void closeLine(Line& line) {
  if (!line.link.empty()) ::unlink(line.link.c_str());
  if (line.device >= 0) ::close(line.device);
  if (line.master >= 0) ::close(line.master);
  line = Line{};
}

inline volatile std::sig_atomic_t gStop = 0;

// After this, gStop turns 1 on SIGINT or SIGTERM.
inline void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = [](int) { gStop = 1; };
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

// The speed as a number of baud (0 when not a standard speed).
inline long baud(speed_t code) {
  static const std::array<std::pair<speed_t, long>, 22> table{{
      {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200},
      {B300, 300}, {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400},
      {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
      {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
      {B500000, 500000}, {B921600, 921600}, {B1000000, 1000000}}};
  for (const auto& [c, b] : table)
    if (c == code) return b;
  return 0;
}

// One line on stdout, flushed at once: a reader follows it as it comes.
inline void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace boardline
