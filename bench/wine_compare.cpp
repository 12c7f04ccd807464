// bench_wine_compare: tarnwick.exe against the minimal Win32 program
// (bench/baseline_win32) under Wine, on the X server in DISPLAY, with a
// pseudo-terminal held here as COM1. bench/wine.sh prepares the prefix (COM1
// mapped to --link, a running wineserver) and calls it:
//   bench_wine_compare --ours tarnwick.exe --baseline tarnwick-baseline.exe
//                      --link PATH --server PID [--runs 11] [--presses 200]
//                      [--gap 20] [--only startup,press,unplug]
// Prints markdown tables: exec to window mapped, press to bytes, idle CPU,
// and CPU after the device goes away.

#include "benchlib.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Options {
  std::string ours, baseline, link;
  pid_t server = 0;
  int runs = 11;
  int presses = 200;
  int gapMs = 20;  // after each press and release
  std::string only = "startup,press,unplug";
};

struct Run {
  pid_t pid = -1;
  Window window = 0;
  double startupMs = -1;

  Run(const std::string& program, Display* dpy) {
    dropEvents(dpy);
    const fs::path dir = fs::path(program).parent_path();
    const int64_t forkedAt = nowNs();
    pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execlp("wine", "wine", program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Wine also maps a 1 x 1 input-method window; the program's is larger.
    int64_t mappedAt = 0;
    window = awaitMapped(dpy, 30, 50, &mappedAt);
    if (window) startupMs = static_cast<double>(mappedAt - forkedAt) / 1e6;
    else std::fprintf(stderr, "%s: no window mapped within 30 s\n", program.c_str());
  }
  ~Run() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
};

// Moves the pointer off every window.
void park(Display* dpy) {
  movePointer(dpy, DisplayWidth(dpy, DefaultScreen(dpy)) - 2, DisplayHeight(dpy, DefaultScreen(dpy)) - 2);
}

// Presses port 1 (client 52,96 in both programs) and times the bytes.
void press(Display* dpy, const Run& run, Pty& line, int presses, int gapMs, std::vector<double>& down,
           std::vector<double>& up, int& wrong) {
  int x = 0, y = 0;
  rootPoint(dpy, run.window, 52, 96, x, y);
  sleepMs(300);
  line.drain();
  for (int i = 0; i < presses; ++i) {
    // Every other press 10 pixels aside, so no two make a double-click.
    movePointer(dpy, x + (i % 2 ? 8 : -8), y);
    sleepMs(20);
    for (bool isDown : {true, false}) {
      const int64_t t0 = nowNs();
      button(dpy, isDown);
      const std::string got = line.read(3, 2000);
      const double ms = static_cast<double>(nowNs() - t0) / 1e6;
      if (got != (isDown ? "P01" : "P00")) ++wrong;
      (isDown ? down : up).push_back(ms);
      sleepMs(gapMs);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Args args(argc, argv);
  Options o;
  args.get("--link", o.link);
  args.get("--ours", o.ours);
  args.get("--baseline", o.baseline);
  args.get("--server", o.server);
  args.get("--runs", o.runs);
  args.get("--presses", o.presses);
  args.get("--only", o.only);
  args.get("--gap", o.gapMs);
  if (o.ours.empty() || o.baseline.empty() || o.link.empty()) {
    std::fprintf(stderr, "usage: bench_wine_compare --ours EXE --baseline EXE --link PATH --server PID "
                         "[--runs N] [--presses N] [--gap MS] [--only startup,press,unplug]\n");
    return 2;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "no X display\n");
    return 1;
  }
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
  Pty line;
  line.linkAs(o.link);

  const auto wanted = [&](const char* part) { return o.only.find(part) != std::string::npos; };
  // Start-up, alternating; run -1 warms the caches and creates the settings.
  std::vector<double> startup[2];
  if (wanted("startup")) {
  for (int r = -1; r < o.runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      Run run(k == 0 ? o.ours : o.baseline, dpy);
      sleepMs(400);
      if (r >= 0) startup[k].push_back(run.startupMs);
    }
  }
  const double a = median(startup[0]), b = median(startup[1]);
  std::printf("## Start-up under Wine (%d runs each, alternating, wineserver running)\n\n", o.runs);
  std::printf("| figure | tarnwick.exe | baseline | ratio | goal |\n|---|---|---|---|---|\n");
  std::printf("| exec of `wine` to window mapped, median | %.1f ms | %.1f ms | %.2fx | <= 1.2x |\n", a, b, a / b);
  std::printf("| the same, min / max | %.1f / %.1f ms | %.1f / %.1f ms | | |\n",
              *std::min_element(startup[0].begin(), startup[0].end()),
              *std::max_element(startup[0].begin(), startup[0].end()),
              *std::min_element(startup[1].begin(), startup[1].end()),
              *std::max_element(startup[1].begin(), startup[1].end()));
  }

  // Press to bytes, then idle, for each program.
  if (wanted("press")) {
    std::printf("\n## Press to bytes and idle under Wine (%d presses of port 1 through XTest, %d ms after each press and release)\n\n",
                o.presses, o.gapMs);
    std::printf("| program | press p50 / p99 / max | release p50 / p99 / max | wrong | idle 10 s, pointer off the window: program CPU / wake-ups | wineserver CPU | wake-ups in 5 s, pointer resting on the button |\n"
                "|---|---|---|---|---|---|---|\n");
  }
  for (int k = 0; k < 2 && wanted("press"); ++k) {
    Run run(k == 0 ? o.ours : o.baseline, dpy);
    sleepMs(500);
    std::vector<double> down, up;
    int wrong = 0;
    press(dpy, run, line, o.presses, o.gapMs, down, up, wrong);
    // Resting on the button, then away from the window: Wine follows a pointer
    // over a themed button (hot tracking) by polling.
    const long hover0 = usage(run.pid).switches;
    sleepMs(5000);
    const long hover = usage(run.pid).switches - hover0;
    park(dpy);
    sleepMs(1000);
    const Usage before = usage(run.pid), server0 = usage(o.server);
    sleepMs(10000);
    const Usage after = usage(run.pid);
    const double idle = after.cpuTicksMs - before.cpuTicksMs, server = usage(o.server).cpuTicksMs - server0.cpuTicksMs;
    const long woke = after.switches - before.switches;
    const Stats d = stats(down), u = stats(up);
    std::printf("| %s | %.2f / %.2f / %.2f ms | %.2f / %.2f / %.2f ms | %d | %.0f ms / %ld | %.0f ms | %ld |\n",
                k == 0 ? "tarnwick.exe" : "baseline", d.p50, d.p99, d.max, u.p50, u.p99, u.max, wrong, idle, woke,
                server, hover);
  }

  // The device goes away under the running program.
  if (wanted("unplug")) {
    park(dpy);
    Run run(o.ours, dpy);
    sleepMs(1000);
    line.unplug();
    sleepMs(500);
    const Usage before = usage(run.pid), server0 = usage(o.server);
    sleepMs(5000);
    const Usage after = usage(run.pid);
    const double cpu = after.cpuTicksMs - before.cpuTicksMs, server = usage(o.server).cpuTicksMs - server0.cpuTicksMs;
    const long woke = after.switches - before.switches;
    const bool alive = kill(run.pid, 0) == 0;
    std::printf("\n## Unplug under Wine\n\n| figure | tarnwick.exe | goal |\n|---|---|---|\n");
    std::printf("| in the 5 s after the device went away: program CPU / wake-ups | %.0f ms / %ld | none |\n", cpu, woke);
    std::printf("| the same, wineserver CPU | %.0f ms | none |\n", server);
    std::printf("| program still running | %s | yes |\n", alive ? "yes" : "no");
  }
  XCloseDisplay(dpy);
  return 0;
}
