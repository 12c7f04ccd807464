// bench_perf_compare: runs the real program and the baseline side by side on an
// X server (DISPLAY, normally a private Xvfb started by bench/compare.sh) and
// prints medians and ratios for start-up, memory, idling, a receive flood and
// press-to-bytes through the X server. Each run gets its own temporary machine
// folder and a pseudo-terminal held here as COM1. Prints figures, never fails.
//
//   bench_perf_compare --ours build/tarnwick --baseline build/tarnwick-baseline
//                      [--runs 11] [--idle-runs 2] [--presses 1000]
//                      [--only startup,idle,flood,press]

#include "benchlib.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

// ---- one program run --------------------------------------------------------

enum class Kind { Ours, Baseline };
const char* name(Kind k) { return k == Kind::Ours ? "tarnwick" : "baseline"; }

struct Options {
  std::string ours, baseline;
  int runs = 11;
  int idleRuns = 2;
  int presses = 1000;
  std::string only = "startup,idle,flood,press";
};

struct Run {
  Pty pty;
  fs::path root;
  pid_t pid = -1;
  int64_t forkedAt = 0;
  Window window = 0;
  int64_t mappedAt = 0;

  // `registry`: the settings file to start with ("" for a first start).
  Run(const Options& o, Kind kind, Display* dpy, const std::string& registry = "") {
    char tmpl[] = "/tmp/tarnwick-perf-XXXXXX";
    root = mkdtemp(tmpl);
    const fs::path machine = root / "data" / "tarnwick";
    fs::create_directories(machine / "dosdevices");
    fs::create_directories(root / "work");
    fs::create_symlink(pty.path, machine / "dosdevices" / "com1");
    if (!registry.empty()) std::ofstream(machine / "registry.reg", std::ios::binary) << registry;
    // Events of earlier runs are gone before this one starts.
    dropEvents(dpy);
    const std::string program = kind == Kind::Ours ? o.ours : o.baseline;
    const std::string data = (root / "data").string();
    const std::string work = (root / "work").string();
    forkedAt = nowNs();
    pid = fork();
    if (pid == 0) {
      if (chdir(work.c_str()) != 0) _exit(127);
      setenv("XDG_DATA_HOME", data.c_str(), 1);
      if (kind == Kind::Ours) execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      else execl(program.c_str(), program.c_str(), pty.path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    window = awaitMapped(dpy, 20, 0, &mappedAt);
    if (!window) std::fprintf(stderr, "no window mapped within 20 s\n");
  }
  ~Run() {
    if (pid > 0) finish();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  double startupMs() const { return window ? static_cast<double>(mappedAt - forkedAt) / 1e6 : -1; }

  // Ends the program; its peak resident set (kB) from wait4.
  long finish() {
    kill(pid, SIGTERM);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    pid = -1;
    return ru.ru_maxrss;
  }
};

// ---- the parts ------------------------------------------------------------

// The settings file a first start of the program leaves behind.
std::string firstStartRegistry(const Options& o, Display* dpy) {
  Run run(o, Kind::Ours, dpy);
  sleepMs(300);
  run.finish();
  return slurp((run.root / "data" / "tarnwick" / "registry.reg").string());
}

void startup(const Options& o, Display* dpy) {
  const std::string registry = firstStartRegistry(o, dpy);
  std::vector<double> ms[2], hwm[2], maxrss[2], first;
  for (int r = -1; r < o.runs; ++r) {  // run -1 warms the caches
    if (r >= 0) {  // a first start, with no settings yet, for comparison
      Run run(o, Kind::Ours, dpy);
      first.push_back(run.startupMs());
    }
    for (Kind k : {Kind::Ours, Kind::Baseline}) {
      Run run(o, k, dpy, k == Kind::Ours ? registry : "");
      sleepMs(300);
      const Usage u = usage(run.pid);
      const long peak = run.finish();
      if (r < 0) continue;
      const int i = k == Kind::Ours ? 0 : 1;
      ms[i].push_back(run.startupMs());
      hwm[i].push_back(static_cast<double>(u.hwmKb) / 1024.0);
      maxrss[i].push_back(static_cast<double>(peak) / 1024.0);
    }
  }
  std::printf("\n## Start-up and memory (%d runs each, alternating; tarnwick with its settings file present)\n\n", o.runs);
  std::printf("| figure | tarnwick | baseline | ratio / difference | goal |\n|---|---|---|---|---|\n");
  const double a = median(ms[0]), b = median(ms[1]);
  std::printf("| exec to window mapped, median | %.1f ms | %.1f ms | %.2fx | <= 1.2x |\n", a, b, a / b);
  std::printf("| exec to window mapped, min / max | %.1f / %.1f ms | %.1f / %.1f ms | | |\n",
              *std::min_element(ms[0].begin(), ms[0].end()), stats(ms[0]).max,
              *std::min_element(ms[1].begin(), ms[1].end()), stats(ms[1]).max);
  std::printf("| tarnwick first start (no settings file: all values created), median | %.1f ms | | %.2fx | |\n",
              median(first), median(first) / b);
  const double ha = median(hwm[0]), hb = median(hwm[1]);
  std::printf("| peak resident (VmHWM), median | %.1f MB | %.1f MB | +%.1f MB | <= +10 MB |\n", ha, hb, ha - hb);
  std::printf("| peak resident (wait4 ru_maxrss), median | %.1f MB | %.1f MB | +%.1f MB | |\n", median(maxrss[0]),
              median(maxrss[1]), median(maxrss[0]) - median(maxrss[1]));
}

void idle(const Options& o, Display* dpy) {
  std::printf("\n## Idle, port open, 10 s (%d runs each)\n\n", o.idleRuns);
  std::printf("| program | run | CPU utime+stime | CPU run time (schedstat) | context switches | threads |\n"
              "|---|---|---|---|---|---|\n");
  for (int r = 0; r < o.idleRuns; ++r) {
    for (Kind k : {Kind::Ours, Kind::Baseline}) {
      Run run(o, k, dpy);
      sleepMs(1000);
      const Usage before = usage(run.pid);
      sleepMs(10000);
      const Usage after = usage(run.pid);
      std::printf("| %s | %d | %.0f ms | %.3f ms | %ld | %d |\n", name(k), r + 1, after.cpuTicksMs - before.cpuTicksMs,
                  (after.runNs - before.runNs) / 1e6, after.switches - before.switches, after.threads);
    }
  }
}

// Writes `rate` random bytes a second (NUL included) into the far end for `ms`,
// in slices every 10 ms; returns the bytes the line took.
long flood(Pty& pty, int ms, long rate, std::mt19937& rng) {
  std::vector<char> slice(static_cast<size_t>(rate / 100));
  long written = 0;
  size_t pending = 0;  // bytes of the current slice the line did not take yet
  const int64_t start = nowNs();
  for (int s = 0; s < ms / 10; ++s) {
    sleepUntil(start + int64_t{s} * 10000000);
    if (pending == 0) {
      for (char& c : slice) c = static_cast<char>(rng() & 0xff);
      pending = slice.size();
    }
    const ssize_t n = write(pty.master, slice.data() + (slice.size() - pending), pending);
    if (n > 0) {
      pending -= static_cast<size_t>(n);
      written += n;
    }
    pty.drain();
  }
  return written;
}

void receiveFlood(const Options& o, Display* dpy) {
  std::printf("\n## Receive flood, 1 MB/s random bytes for 5 s, twice (measured from outside)\n\n");
  std::printf("| program | flood | bytes taken | CPU share (schedstat) | CPU utime+stime | RSS before | RSS 2 s after |\n"
              "|---|---|---|---|---|---|---|\n");
  std::mt19937 rng(7);
  for (Kind k : {Kind::Ours, Kind::Baseline}) {
    Run run(o, k, dpy);
    sleepMs(1000);
    for (int f = 1; f <= 2; ++f) {
      const Usage before = usage(run.pid);
      const int64_t t0 = nowNs();
      const long bytes = flood(run.pty, 5000, 1000000, rng);
      const double seconds = static_cast<double>(nowNs() - t0) / 1e9;
      const Usage during = usage(run.pid);
      sleepMs(2000);
      const Usage after = usage(run.pid);
      std::printf("| %s | %d | %ld | %.1f %% | %.0f ms | %.1f MB | %.1f MB |\n", name(k), f, bytes,
                  (during.runNs - before.runNs) / 1e9 / seconds * 100, during.cpuTicksMs - before.cpuTicksMs,
                  static_cast<double>(before.rssKb) / 1024, static_cast<double>(after.rssKb) / 1024);
    }
  }
}

struct PressFigures {
  std::vector<double> pressUs, releaseUs, errorMs;
  int wrong = 0;
};

PressFigures presses(const Options& o, Display* dpy, Kind k) {
  PressFigures out;
  Run run(o, k, dpy);
  sleepMs(500);
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> holdUs(2000, 20000);
  for (int n = 0; n < o.presses; ++n) {
    const int port = n % 5;
    // Port buttons: 57 x 49 px at x = 24 + 64 * port, y = 72 in both programs.
    int rx = 0, ry = 0;
    rootPoint(dpy, run.window, 52 + 64 * port, 96, rx, ry);
    movePointer(dpy, rx, ry);
    sleepMs(3);
    run.pty.drain();
    const int64_t hold = int64_t{holdUs(rng)} * 1000;
    button(dpy, true);
    const int64_t pressed = nowNs();
    int64_t on = 0, off = 0;
    const std::string a = run.pty.read(3, 1000, &on);
    sleepUntil(pressed + hold);
    button(dpy, false);
    const int64_t released = nowNs();
    const std::string b = run.pty.read(3, 1000, &off);
    const std::string digit = std::to_string(port);
    if (a != "P" + digit + "1" || b != "P" + digit + "0") {
      ++out.wrong;
      sleepMs(50);
      continue;
    }
    out.pressUs.push_back(static_cast<double>(on - pressed) / 1e3);
    out.releaseUs.push_back(static_cast<double>(off - released) / 1e3);
    out.errorMs.push_back(std::abs(static_cast<double>((off - on) - (released - pressed))) / 1e6);
    sleepMs(10);
  }
  return out;
}

void press(const Options& o, Display* dpy) {
  const PressFigures ours = presses(o, dpy, Kind::Ours);
  const PressFigures base = presses(o, dpy, Kind::Baseline);
  std::printf("\n## Press to bytes through the X server (XTest), %d presses held 2-20 ms\n\n", o.presses);
  std::printf("| figure | tarnwick p50 / p99 / max | baseline p50 / p99 / max | ratio p99 | goal |\n"
              "|---|---|---|---|---|\n");
  auto row = [](const char* what, const std::vector<double>& a, const std::vector<double>& b, const char* unit,
                const char* goal) {
    const Stats x = stats(a), y = stats(b);
    std::printf("| %s | %.1f / %.1f / %.1f %s | %.1f / %.1f / %.1f %s | %.2fx | %s |\n", what, x.p50, x.p99, x.max, unit,
                y.p50, y.p99, y.max, unit, y.p99 > 0 ? x.p99 / y.p99 : 0, goal);
  };
  row("press to \"P<i>1\" read at the far end", ours.pressUs, base.pressUs, "us", "p99 <= 1.1x, < 100 us");
  row("release to \"P<i>0\" read at the far end", ours.releaseUs, base.releaseUs, "us", "");
  const Stats e = stats(ours.errorMs), eb = stats(base.errorMs);
  std::printf("| pulse-length error, abs(held - on-to-off) | %.3f / %.3f / %.3f ms | %.3f / %.3f / %.3f ms | | p99 < 0.2 ms |\n",
              e.p50, e.p99, e.max, eb.p50, eb.p99, eb.max);
  std::printf("\nPresses with wrong or missing bytes: tarnwick %d, baseline %d.\n", ours.wrong, base.wrong);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const Args args(argc, argv);
  args.get("--ours", o.ours);
  args.get("--baseline", o.baseline);
  args.get("--runs", o.runs);
  args.get("--idle-runs", o.idleRuns);
  args.get("--presses", o.presses);
  args.get("--only", o.only);
  if (o.ours.empty() || o.baseline.empty()) {
    std::fprintf(stderr, "usage: bench_perf_compare --ours PATH --baseline PATH [--runs N] [--idle-runs N] "
                         "[--presses N] [--only startup,idle,flood,press]\n");
    return 0;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "no X display (DISPLAY=%s); run through bench/compare.sh\n", getenv("DISPLAY"));
    return 0;
  }
  int ev = 0, er = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(dpy, &ev, &er, &major, &minor)) std::fprintf(stderr, "the X server has no XTEST\n");
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
  signal(SIGPIPE, SIG_IGN);
  auto wanted = [&](const char* part) { return o.only.find(part) != std::string::npos; };
  if (wanted("startup")) startup(o, dpy);
  if (wanted("idle")) idle(o, dpy);
  if (wanted("flood")) receiveFlood(o, dpy);
  if (wanted("press")) press(o, dpy);
  std::fflush(stdout);
  XCloseDisplay(dpy);
  return 0;
}
