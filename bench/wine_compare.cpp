// bench_wine_compare: tarnwick.exe against the minimal Win32 program
// (bench/baseline_win32) under Wine, on the X server in DISPLAY, with a
// pseudo-terminal held here as COM1. bench/wine.sh prepares the prefix (COM1
// mapped to --link, a running wineserver) and calls it:
//   bench_wine_compare --ours tarnwick.exe --baseline tarnwick-baseline.exe
//                      --link PATH --server PID [--linux build/src/tarnwick]
//                      [--runs 11] [--presses 200] [--gap 20]
//                      [--only startup,press,unplug,save]
// Prints markdown tables: exec to window mapped, press to bytes, idle CPU,
// CPU after the device goes away, and Save and Exit against the Linux
// program on the same X server.

#include "benchlib.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Options {
  std::string ours, baseline, link, linuxProgram;
  pid_t server = 0;
  int runs = 11;
  int presses = 200;
  int gapMs = 20;  // after each press and release
  std::string only = "startup,press,unplug,save";
};

struct Run {
  pid_t pid = -1;
  Window window = 0;
  double startupMs = -1;

  // `linuxData`: the Linux program's data folder (COM1 there points at the
  // line); empty for a Windows program under Wine.
  Run(const std::string& program, Display* dpy, const std::string& linuxData = "") {
    dropEvents(dpy);
    const fs::path dir = fs::path(program).parent_path();
    const int64_t forkedAt = nowNs();
    pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      if (!linuxData.empty()) {
        setenv("XDG_DATA_HOME", linuxData.c_str(), 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      }
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

// A click (press and release) at a window-relative spot.
void click(Display* dpy, Window w, int x, int y) {
  int rx = 0, ry = 0;
  rootPoint(dpy, w, x, y, rx, ry);
  movePointer(dpy, rx, ry);
  sleepMs(30);
  button(dpy, true);
  sleepMs(30);
  button(dpy, false);
}

// The time the window was unmapped (StructureNotifyMask selected on it), or -1.
int64_t awaitUnmapped(Display* dpy, Window w, int seconds) {
  const int64_t end = nowNs() + int64_t{seconds} * 1000000000;
  while (nowNs() < end) {
    XEvent e;
    while (XCheckTypedWindowEvent(dpy, w, UnmapNotify, &e)) return nowNs();
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, 5);
  }
  return -1;
}

// The time the process ended, or -1.
int64_t awaitExit(pid_t& pid, int seconds) {
  const int64_t end = nowNs() + int64_t{seconds} * 1000000000;
  while (nowNs() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return nowNs();
    }
    sleepMs(1);
  }
  return -1;
}

// Configure, Save on the dialog (click to dialog unmapped), then Exit (click
// to process end), on a program already started. Both programs lay out their
// windows in twips at 96 dpi: Configure at 52,156, Exit at 308,156, Save at
// 76,272 of the dialog.
void saveAndExit(Display* dpy, Run& run, std::vector<double>& save, std::vector<double>& exits) {
  if (!run.window) return;
  sleepMs(500);
  dropEvents(dpy);
  click(dpy, run.window, 52, 156);
  const Window dialog = awaitMapped(dpy, 10, 50);
  if (!dialog) {
    std::fprintf(stderr, "no configuration dialog within 10 s\n");
    return;
  }
  XSelectInput(dpy, dialog, StructureNotifyMask);
  sleepMs(500);
  int rx = 0, ry = 0;
  rootPoint(dpy, dialog, 76, 272, rx, ry);
  movePointer(dpy, rx, ry);
  sleepMs(30);
  button(dpy, true);
  sleepMs(30);
  const int64_t clicked = nowNs();
  button(dpy, false);  // a button acts on its release
  const int64_t gone = awaitUnmapped(dpy, dialog, 10);
  if (gone > 0) save.push_back(static_cast<double>(gone - clicked) / 1e6);
  else std::fprintf(stderr, "the dialog stayed after Save\n");
  sleepMs(500);
  rootPoint(dpy, run.window, 308, 156, rx, ry);
  movePointer(dpy, rx, ry);
  sleepMs(30);
  button(dpy, true);
  sleepMs(30);
  const int64_t exitClicked = nowNs();
  button(dpy, false);
  const int64_t ended = awaitExit(run.pid, 10);
  if (ended > 0) exits.push_back(static_cast<double>(ended - exitClicked) / 1e6);
  else std::fprintf(stderr, "the program did not end after Exit\n");
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
  args.get("--linux", o.linuxProgram);
  if (o.ours.empty() || o.baseline.empty() || o.link.empty()) {
    std::fprintf(stderr, "usage: bench_wine_compare --ours EXE --baseline EXE --link PATH --server PID "
                         "[--linux PROGRAM] [--runs N] [--presses N] [--gap MS] "
                         "[--only startup,press,unplug,save]\n");
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
  // Every run on stderr, in order, so the spread can be looked at.
  for (int k = 0; k < 2; ++k) {
    std::fprintf(stderr, "start-up %s:", k == 0 ? "tarnwick.exe" : "baseline");
    for (const double ms : startup[k]) std::fprintf(stderr, " %.1f", ms);
    std::fprintf(stderr, "\n");
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
  // Save and Exit, tarnwick.exe under Wine and the Linux program, alternating.
  if (wanted("save")) {
    park(dpy);
    std::string linuxData;
    if (!o.linuxProgram.empty()) {
      char tmpl[] = "/tmp/tarnwick-wine-bench-XXXXXX";
      linuxData = mkdtemp(tmpl);
      const fs::path machine = fs::path(linuxData) / "tarnwick";
      fs::create_directories(machine / "dosdevices");
      fs::create_symlink(line.path, machine / "dosdevices" / "com1");
    }
    std::vector<double> save[2], exits[2];
    const int runs = std::max(3, o.runs / 2);
    for (int r = 0; r < runs; ++r) {
      for (int k = 0; k < 2; ++k) {
        if (k == 1 && linuxData.empty()) continue;
        Run run(k == 0 ? o.ours : o.linuxProgram, dpy, k == 0 ? "" : linuxData);
        saveAndExit(dpy, run, save[k], exits[k]);
        park(dpy);
      }
    }
    const auto cell = [](const std::vector<double>& v) {
      if (v.empty()) return std::string("-");
      char text[96];
      std::snprintf(text, sizeof text, "%.1f ms (%.1f / %.1f)", median(v), *std::min_element(v.begin(), v.end()),
                    *std::max_element(v.begin(), v.end()));
      return std::string(text);
    };
    std::printf("\n## Save and Exit (%d runs each, alternating; median (min / max))\n\n", runs);
    std::printf("| figure | tarnwick.exe under Wine | tarnwick on Linux | goal |\n|---|---|---|---|\n");
    std::printf("| Save: click (release) to the dialog unmapped | %s | %s | < 300 ms |\n", cell(save[0]).c_str(),
                cell(save[1]).c_str());
    std::printf("| Exit: click (release) to the process ended | %s | %s | < 300 ms |\n", cell(exits[0]).c_str(),
                cell(exits[1]).c_str());
    if (!linuxData.empty()) fs::remove_all(linuxData);
  }
  XCloseDisplay(dpy);
  return 0;
}
