// bench_pin_pulse: holds a Momentary port's button for given times through the
// real program under an X server (XTest), against the board's firmware in
// simavr, and compares the output pin's high time with the hold time. Also the
// press-to-pin latency, and the same split at the line (when the board read
// the bytes) to show where the error comes from. Prints figures, never fails.
//
//   bench_pin_pulse --program build/tarnwick --board build/tarnwick-avr-board
//                   [--holds 100,300,1000] [--n 200] [--gap 100] [--spots 2]
//
// Presses alternate between two spots on the button, 24 px apart, so that the
// X server and Qt never take two presses for a double-click (--spots 1 presses
// one spot, to see what a quick second press does).

#include "benchlib.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

// The board's output, read as it comes: pin changes of port 1 and the times
// the board read bytes from the line, all on CLOCK_MONOTONIC.
struct BoardOutput {
  int fd = -1;
  std::string pending;
  std::vector<std::pair<bool, int64_t>> pin;  // level, time
  std::vector<int64_t> rx;
  bool speed9600 = false;

  static int64_t monoField(const std::string& line) {
    const size_t at = line.find("mono=");
    return at == std::string::npos ? 0 : static_cast<int64_t>(std::llround(std::strtod(line.c_str() + at + 5, nullptr) * 1e9));
  }
  void pump(int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return;
    pending.append(buf, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line.rfind("pin ", 0) == 0 && line.find(" port 1 ") != std::string::npos)
        pin.emplace_back(line.find(" high ") != std::string::npos, monoField(line));
      else if (line.rfind("rx ", 0) == 0)
        rx.push_back(monoField(line));
      else if (line == "speed 9600")
        speed9600 = true;
    }
  }
  // Waits until `count` pin changes have come, or the time is up.
  bool awaitPins(size_t count, int timeoutMs) {
    const int64_t end = nowNs() + int64_t{timeoutMs} * 1000000;
    while (pin.size() < count && nowNs() < end) pump(10);
    return pin.size() >= count;
  }
};

// Children to end should the X connection break (Xlib then ends this process).
pid_t gChildren[2] = {-1, -1};

int onXioError(Display*) {
  for (const pid_t pid : gChildren)
    if (pid > 0) kill(pid, SIGTERM);
  std::fprintf(stderr, "the X connection broke\n");
  std::_Exit(1);
}

struct Options {
  std::string program, board;
  std::vector<int> holdsMs{100, 300, 1000};
  int n = 200;
  int gapMs = 100;
  int spots = 2;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const Args args(argc, argv);
  args.get("--program", o.program);
  args.get("--board", o.board);
  args.get("--n", o.n);
  args.get("--gap", o.gapMs);
  args.get("--spots", o.spots);
  if (std::string holds; args.get("--holds", holds), !holds.empty()) {
    o.holdsMs.clear();
    std::stringstream list(holds);
    std::string item;
    while (std::getline(list, item, ',')) o.holdsMs.push_back(std::stoi(item));
  }
  if (o.program.empty() || o.board.empty()) {
    std::fprintf(stderr, "usage: bench_pin_pulse --program PATH --board PATH [--holds 100,300,1000] [--n 200]\n");
    return 0;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "no X display; run through bench/pin_pulse.sh\n");
    return 0;
  }
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
  XSetIOErrorHandler(onXioError);
  signal(SIGPIPE, SIG_IGN);

  char tmpl[] = "/tmp/tarnwick-pulse-XXXXXX";
  const fs::path root = mkdtemp(tmpl);
  fs::create_directories(root / "data" / "tarnwick");
  fs::create_directories(root / "work");
  const std::string link = (root / "data" / "tarnwick" / "dosdevices" / "com1").string();

  int out[2];
  if (pipe(out) != 0) return 1;
  const pid_t board = fork();
  if (board == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(o.board.c_str(), o.board.c_str(), "--link", link.c_str(), "--rx-times", static_cast<char*>(nullptr));
    _exit(127);
  }
  gChildren[0] = board;
  close(out[1]);
  BoardOutput b;
  b.fd = out[0];
  const int64_t linkDeadline = nowNs() + 10000000000;
  while (!fs::is_symlink(link) && nowNs() < linkDeadline) b.pump(20);

  const std::string data = (root / "data").string(), work = (root / "work").string();
  const pid_t program = fork();
  if (program == 0) {
    if (chdir(work.c_str()) != 0) _exit(127);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    execl(o.program.c_str(), o.program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  gChildren[1] = program;
  const Window window = awaitMapped(dpy, 20);
  const int64_t speedDeadline = nowNs() + 10000000000;
  while (!b.speed9600 && nowNs() < speedDeadline) b.pump(20);
  if (!window || !b.speed9600) {
    std::fprintf(stderr, "the program did not come up (window %lu, line at 9600: %d)\n", window, b.speed9600);
  } else {
    usleep(500000);
    // Port 1's button (57 x 49 px at 24,72 in the window).
    int rx = 0, ry = 0;
    rootPoint(dpy, window, 52, 96, rx, ry);
    int spot = 0;

    struct Figures {
      std::vector<double> pinError, lineError, pinSigned, boardShare, pressToPin, releaseToPin, pressToLine, lineToPin;
      int missing = 0;
    };
    std::map<int, Figures> figures;
    for (int n = 0; n < o.n; ++n) {
      for (const int hold : o.holdsMs) {
        Figures& f = figures[hold];
        b.pump(0);
        const size_t pins = b.pin.size(), rxs = b.rx.size();
        spot = (spot + 1) % std::max(1, o.spots);
        movePointer(dpy, rx - 12 + 24 * spot, ry);
        usleep(20000);
        button(dpy, true);
        const int64_t pressed = nowNs();
        sleepUntil(pressed + int64_t{hold} * 1000000);
        button(dpy, false);
        const int64_t released = nowNs();
        const bool seen = b.awaitPins(pins + 2, 2000);
        // The answers (8 bytes each) are out before the next press.
        const int64_t next = nowNs() + int64_t{o.gapMs} * 1000000;
        while (nowNs() < next) b.pump(5);
        if (!seen || !b.pin[pins].first || b.pin[pins + 1].first || b.rx.size() < rxs + 2) {
          ++f.missing;
          continue;
        }
        const double held = static_cast<double>(released - pressed) / 1e6;
        const double high = static_cast<double>(b.pin[pins + 1].second - b.pin[pins].second) / 1e6;
        const double onLine = static_cast<double>(b.rx[rxs + 1] - b.rx[rxs]) / 1e6;
        f.pinSigned.push_back(high - held);
        f.pinError.push_back(std::abs(high - held));
        f.lineError.push_back(std::abs(onLine - held));
        f.boardShare.push_back(std::abs(high - onLine) * 1000);
        f.pressToPin.push_back(static_cast<double>(b.pin[pins].second - pressed) / 1e6);
        f.releaseToPin.push_back(static_cast<double>(b.pin[pins + 1].second - released) / 1e6);
        f.pressToLine.push_back(static_cast<double>(b.rx[rxs] - pressed) / 1e6);
        f.lineToPin.push_back(static_cast<double>(b.pin[pins].second - b.rx[rxs]) / 1e6);
      }
    }

    std::printf("Pressed at %d spot(s), %d ms between a release and the next press.\n\n", o.spots, o.gapMs);
    std::printf("| hold | presses | pin high time - hold, mean | abs error p50 / p99 / max | at the line: abs error p50 / p99 / max "
                "| press to pin p50 / p99 / max | release to pin p50 / p99 / max | press to line p50 / p99 | line to pin p50 / max | pin - line high time, max |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (auto& [hold, f] : figures) {
      const Stats e = stats(f.pinError), s = stats(f.pinSigned), l = stats(f.lineError), p = stats(f.pressToPin),
                  r = stats(f.releaseToPin), pl = stats(f.pressToLine), lp = stats(f.lineToPin),
                  bs = stats(f.boardShare);
      std::printf("| %d ms | %zu (%d missing) | %+.3f ms | %.3f / %.3f / %.3f ms | %.3f / %.3f / %.3f ms "
                  "| %.2f / %.2f / %.2f ms | %.2f / %.2f / %.2f ms | %.2f / %.2f ms | %.3f / %.3f ms | %.1f us |\n",
                  hold, f.pinError.size(), f.missing, s.mean, e.p50, e.p99, e.max, l.p50, l.p99, l.max, p.p50, p.p99,
                  p.max, r.p50, r.p99, r.max, pl.p50, pl.p99, lp.p50, lp.max, bs.max);
    }
    std::vector<double> all;
    for (auto& [hold, f] : figures) all.insert(all.end(), f.pinError.begin(), f.pinError.end());
    const Stats a = stats(all);
    std::printf("\nAll holds: pin high time against hold time, abs error p50 %.3f ms, p99 %.3f ms, max %.3f ms (goal p99 < 1 ms)\n",
                a.p50, a.p99, a.max);
  }
  kill(program, SIGTERM);
  waitpid(program, nullptr, 0);
  kill(board, SIGTERM);
  waitpid(board, nullptr, 0);
  close(out[0]);
  XCloseDisplay(dpy);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
