// tarnwick-board: plays the MCU board on a pseudo-terminal, for trying the
// program without hardware. Prints the device path on its first line, then one
// line per command received (time, command, the five port states) and the line
// speed whenever it changes.

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

const char kUsage[] =
    "usage: tarnwick-board [--link PATH] [--silent | --reply TEXT]\n"
    "  Creates a pseudo-terminal, prints its device path and plays the board:\n"
    "  commands P<index 0-4><1|0> and P90, each answered \"<command> OK\\r\\n\",\n"
    "  anything else answered \"ERR\\r\\n\".\n"
    "  --link PATH   make PATH a symbolic link to the device (removed on exit),\n"
    "                for example ~/.local/share/tarnwick/dosdevices/com1\n"
    "  --silent      never answer\n"
    "  --reply TEXT  answer every command with TEXT (\\r, \\n, \\t, \\\\ allowed)\n";

struct Options {
  std::string link;
  bool silent = false;
  bool fixedReply = false;
  std::string reply;
};

// Turns the C-style escapes \r \n \t \\ into their characters.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

// Local time of day with milliseconds, "hh:mm:ss.mmm".
std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  return text;
}

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The speed as a number of baud (0 when not a standard speed).
long baud(speed_t code) {
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

class Board {
 public:
  Board(int line, const Options& options) : line_(line), options_(options) {}

  // Takes received bytes; answers and reports every complete command.
  void take(const char* data, size_t size) {
    pending_.append(data, size);
    while (!pending_.empty()) {
      if (pending_[0] == 'P' && pending_.size() < 3) return;  // the rest is on its way
      if (command(pending_.substr(0, 3))) {
        pending_.erase(0, 3);
        continue;
      }
      // Not a command: drop it up to the next 'P' and say so once.
      const size_t next = pending_.find('P', 1);
      say(timestamp() + " unknown \"" + printable(pending_.substr(0, next)) + "\"");
      pending_.erase(0, next);
      answer("ERR\r\n");
    }
  }

 private:
  // Carries out a three-byte command; false when it is not one.
  bool command(const std::string& text) {
    if (text == "P90") {
      states_.fill(false);
    } else if (text.size() == 3 && text[0] == 'P' && text[1] >= '0' && text[1] <= '4' &&
               (text[2] == '0' || text[2] == '1')) {
      states_[static_cast<size_t>(text[1] - '0')] = text[2] == '1';
    } else {
      return false;
    }
    std::string line = timestamp() + " " + text + (text == "P90" ? " init" : "") + " ports";
    for (size_t i = 0; i < states_.size(); ++i) {
      line += ' ';
      line += std::to_string(i + 1);
      line += states_[i] ? ":ON" : ":OFF";
    }
    say(line);
    answer(options_.fixedReply ? options_.reply : text + " OK\r\n");
    return true;
  }

  void answer(const std::string& text) {
    if (options_.silent) return;
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(line_, text.data() + done, text.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      else if (errno != EINTR && errno != EAGAIN) return;
    }
  }

  static std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
  }

  int line_;
  const Options& options_;
  std::string pending_;
  std::array<bool, 5> states_{};
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--silent") {
      options.silent = true;
    } else if ((arg == "--link" || arg == "--reply") && i + 1 < argc) {
      if (arg == "--link") options.link = argv[++i];
      else options.reply = unescape(argv[++i]), options.fixedReply = true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("tarnwick-board: posix_openpt");
    return 1;
  }
  const std::string device = ::ptsname(master);
  // Holding the device end open keeps the line up while the program closes
  // and reopens its port, and lets us read the line settings it chose.
  const int slave = ::open(device.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  if (slave < 0 || ::tcgetattr(slave, &raw) != 0) {
    std::perror("tarnwick-board: open device");
    return 1;
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);

  if (!options.link.empty()) {
    std::error_code ignored;
    const std::filesystem::path link(options.link);
    if (link.has_parent_path()) std::filesystem::create_directories(link.parent_path(), ignored);
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(device, link, ignored);
    if (ignored) {
      std::fprintf(stderr, "tarnwick-board: cannot link %s: %s\n", options.link.c_str(),
                   ignored.message().c_str());
      return 1;
    }
  }

  struct sigaction action {};
  action.sa_handler = onSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  say(device);
  Board board(master, options);
  long shownSpeed = -1;
  while (!gStop) {
    // A short wait, so speed changes and signals are noticed promptly.
    pollfd p{master, POLLIN, 0};
    const bool readable = ::poll(&p, 1, 50) > 0 && (p.revents & POLLIN);
    // Reported before the bytes that follow the change.
    termios now{};
    if (::tcgetattr(slave, &now) == 0 && baud(::cfgetispeed(&now)) != shownSpeed) {
      shownSpeed = baud(::cfgetispeed(&now));
      say("speed " + std::to_string(shownSpeed));
    }
    if (!readable) continue;
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) board.take(buffer, static_cast<size_t>(n));
  }

  if (!options.link.empty()) ::unlink(options.link.c_str());
  ::close(slave);
  ::close(master);
  return 0;
}
