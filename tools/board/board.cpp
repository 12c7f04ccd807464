// tarnwick-board: plays the MCU board on a pseudo-terminal, for trying the
// program without hardware. Prints the device path on its first line, then one
// line per command received (time, command, the five port states) and the line
// speed whenever it changes.

#include "boardline.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

using boardline::say;

namespace {

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
  if (!parse(argc, argv, options)) return boardline::usage(argc, argv, kUsage);

  boardline::Line line;
  if (!boardline::openLine("tarnwick-board", line, false) ||
      !boardline::linkLine("tarnwick-board", line, options.link))
    return 1;
  boardline::stopOnSignals();

  say(line.path);
  Board board(line.master, options);
  long shownSpeed = -1;
  while (!boardline::gStop) {
    // A short wait, so speed changes and signals are noticed promptly.
    pollfd p{line.master, POLLIN, 0};
    const bool readable = ::poll(&p, 1, 50) > 0 && (p.revents & POLLIN);
    // Reported before the bytes that follow the change.
    termios now{};
    if (::tcgetattr(line.device, &now) == 0 && boardline::baud(::cfgetispeed(&now)) != shownSpeed) {
      shownSpeed = boardline::baud(::cfgetispeed(&now));
      say("speed " + std::to_string(shownSpeed));
    }
    if (!readable) continue;
    char buffer[256];
    const ssize_t n = ::read(line.master, buffer, sizeof buffer);
    if (n > 0) board.take(buffer, static_cast<size_t>(n));
  }

  boardline::closeLine(line);
  return 0;
}
