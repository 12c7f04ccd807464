// bench_wine_compare: tarnwick.exe against the minimal Win32 program
// (bench/baseline_win32) under Wine, on the X server in DISPLAY, with a
// pseudo-terminal held here as COM1. bench/wine.sh prepares the prefix (COM1
// mapped to --link, a running wineserver) and calls it:
//   bench_wine_compare --ours tarnwick.exe --baseline tarnwick-baseline.exe
//                      --link PATH --server PID [--runs 11] [--presses 200]
//                      [--gap 20] [--only startup,press,unplug]
// Prints markdown tables: exec to window mapped, press to bytes, idle CPU,
// and CPU after the device goes away.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

int64_t nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void sleepMs(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  if (q == 0.5) return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// CPU time (ms) a process has used, from /proc/<pid>/stat.
double cpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream s;
  s << in.rdbuf();
  const std::string stat = s.str();
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i)
    if (i == 14 || i == 15) ticks += std::stol(f);
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Context switches (voluntary and not) of all a process's threads: a thread
// that wakes up, even briefly, counts.
long switches(pid_t pid) {
  long total = 0;
  const std::string task = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  for (const auto& t : fs::directory_iterator(task, ec)) {
    std::ifstream in(t.path() / "status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::stol(line.substr(line.find(':') + 1));
  }
  return total;
}

struct Options {
  std::string ours, baseline, link;
  pid_t server = 0;
  int runs = 11;
  int presses = 200;
  int gapMs = 20;  // after each press and release
  std::string only = "startup,press,unplug";
};

struct Pty {
  int master = -1, slave = -1;
  std::string path;
  explicit Pty(const std::string& link) {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    path = name;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(path, link);
  }
  void unplug() {
    close(master);
    close(slave);
    master = slave = -1;
  }
  ~Pty() {
    if (master >= 0) unplug();
  }
  // Reads until `want` bytes came or the time is up.
  std::string read(size_t want, int timeoutMs) {
    std::string got;
    const int64_t end = nowNs() + int64_t{timeoutMs} * 1000000;
    while (got.size() < want && nowNs() < end) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(master, buf, std::min(sizeof buf, want - got.size()));
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  void drain() {
    char buf[4096];
    while (::read(master, buf, sizeof buf) > 0) {
    }
  }
};

struct Run {
  pid_t pid = -1;
  Window window = 0;
  double startupMs = -1;

  Run(const std::string& program, Display* dpy) {
    XSync(dpy, False);
    while (XPending(dpy)) {
      XEvent e;
      XNextEvent(dpy, &e);
    }
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
    const int fd = ConnectionNumber(dpy);
    const int64_t end = nowNs() + int64_t{30} * 1000000000;
    while (!window && nowNs() < end) {
      while (XPending(dpy)) {
        XEvent e;
        XNextEvent(dpy, &e);
        // Wine also maps a 1 x 1 input-method window; the program's is larger.
        XWindowAttributes a{};
        if (e.type == MapNotify && !e.xmap.override_redirect && !window &&
            XGetWindowAttributes(dpy, e.xmap.window, &a) && a.width > 50) {
          startupMs = static_cast<double>(nowNs() - forkedAt) / 1e6;
          window = e.xmap.window;
        }
      }
      pollfd p{fd, POLLIN, 0};
      if (!window) poll(&p, 1, 20);
    }
    if (!window) std::fprintf(stderr, "%s: no window mapped within 30 s\n", program.c_str());
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
  XTestFakeMotionEvent(dpy, -1, DisplayWidth(dpy, DefaultScreen(dpy)) - 2,
                       DisplayHeight(dpy, DefaultScreen(dpy)) - 2, CurrentTime);
  XFlush(dpy);
}

// Presses port 1 (client 52,96 in both programs) and times the bytes.
void press(Display* dpy, const Run& run, Pty& line, int presses, int gapMs, std::vector<double>& down,
           std::vector<double>& up, int& wrong) {
  Window child = 0;
  int x = 0, y = 0;
  XTranslateCoordinates(dpy, run.window, DefaultRootWindow(dpy), 52, 96, &x, &y, &child);
  sleepMs(300);
  line.drain();
  for (int i = 0; i < presses; ++i) {
    // Every other press 10 pixels aside, so no two make a double-click.
    XTestFakeMotionEvent(dpy, -1, x + (i % 2 ? 8 : -8), y, CurrentTime);
    XFlush(dpy);
    sleepMs(20);
    for (bool isDown : {true, false}) {
      const int64_t t0 = nowNs();
      XTestFakeButtonEvent(dpy, 1, isDown, CurrentTime);
      XFlush(dpy);
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
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--ours") o.ours = v;
    else if (k == "--baseline") o.baseline = v;
    else if (k == "--link") o.link = v;
    else if (k == "--server") o.server = std::stoi(v);
    else if (k == "--runs") o.runs = std::stoi(v);
    else if (k == "--presses") o.presses = std::stoi(v);
    else if (k == "--only") o.only = v;
    else if (k == "--gap") o.gapMs = std::stoi(v);
  }
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
  Pty line(o.link);

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
  const double a = percentile(startup[0], 0.5), b = percentile(startup[1], 0.5);
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
    const long hover0 = switches(run.pid);
    sleepMs(5000);
    const long hover = switches(run.pid) - hover0;
    park(dpy);
    sleepMs(1000);
    const double cpu0 = cpuMs(run.pid), server0 = o.server ? cpuMs(o.server) : 0;
    const long woke0 = switches(run.pid);
    sleepMs(10000);
    const double idle = cpuMs(run.pid) - cpu0, server = (o.server ? cpuMs(o.server) : 0) - server0;
    const long woke = switches(run.pid) - woke0;
    std::printf("| %s | %.2f / %.2f / %.2f ms | %.2f / %.2f / %.2f ms | %d | %.0f ms / %ld | %.0f ms | %ld |\n",
                k == 0 ? "tarnwick.exe" : "baseline", percentile(down, 0.5), percentile(down, 0.99),
                percentile(down, 1.0), percentile(up, 0.5), percentile(up, 0.99), percentile(up, 1.0), wrong, idle,
                woke, server, hover);
  }

  // The device goes away under the running program.
  if (wanted("unplug")) {
    park(dpy);
    Run run(o.ours, dpy);
    sleepMs(1000);
    line.unplug();
    sleepMs(500);
    const double cpu0 = cpuMs(run.pid), server0 = o.server ? cpuMs(o.server) : 0;
    const long woke0 = switches(run.pid);
    sleepMs(5000);
    const double cpu = cpuMs(run.pid) - cpu0, server = (o.server ? cpuMs(o.server) : 0) - server0;
    const long woke = switches(run.pid) - woke0;
    const bool alive = kill(run.pid, 0) == 0;
    std::printf("\n## Unplug under Wine\n\n| figure | tarnwick.exe | goal |\n|---|---|---|\n");
    std::printf("| in the 5 s after the device went away: program CPU / wake-ups | %.0f ms / %ld | none |\n", cpu, woke);
    std::printf("| the same, wineserver CPU | %.0f ms | none |\n", server);
    std::printf("| program still running | %s | yes |\n", alive ? "yes" : "no");
  }
  XCloseDisplay(dpy);
  return 0;
}
