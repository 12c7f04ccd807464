#include "benchlib.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <termios.h>
#include <unistd.h>

namespace bench {

Args::Args(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) values[argv[i]] = argv[i + 1];
}

void Args::get(const char* name, std::string& out) const {
  if (const auto at = values.find(name); at != values.end()) out = at->second;
}

void Args::get(const char* name, int& out) const {
  if (const auto at = values.find(name); at != values.end()) out = std::stoi(at->second);
}

int64_t nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void sleepUntil(int64_t ns) {
  timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

void sleepMs(int ms) { sleepUntil(nowNs() + int64_t{ms} * 1000000); }

Stats stats(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.p50 = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  s.p99 = v[std::min(v.size() - 1, static_cast<size_t>(0.99 * static_cast<double>(v.size())))];
  s.max = v.back();
  for (double x : v) s.mean += x;
  s.mean /= static_cast<double>(v.size());
  return s;
}

double median(const std::vector<double>& v) { return stats(v).p50; }

Pty::Pty() {
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
}

Pty::~Pty() {
  if (master >= 0) unplug();
}

void Pty::linkAs(const std::string& link) {
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(path, link);
}

void Pty::unplug() {
  close(master);
  close(slave);
  master = slave = -1;
}

std::string Pty::read(size_t want, int timeoutMs, int64_t* at) {
  std::string got;
  const int64_t end = nowNs() + int64_t{timeoutMs} * 1000000;
  while (got.size() < want) {
    const int64_t left = end - nowNs();
    if (left <= 0) break;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left / 1000000) + 1) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(master, buf, std::min(sizeof buf, want - got.size()));
    if (n > 0) {
      got.append(buf, static_cast<size_t>(n));
      if (at) *at = nowNs();
    }
  }
  return got;
}

void Pty::drain() {
  char buf[4096];
  while (::read(master, buf, sizeof buf) > 0) {
  }
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {
long statusField(const std::string& status, const char* field) {
  const size_t at = status.find(field);
  if (at == std::string::npos) return -1;
  return std::strtol(status.c_str() + at + std::strlen(field) + 1, nullptr, 10);
}
}  // namespace

Usage usage(pid_t pid) {
  Usage u;
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string stat = slurp(base + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 > stat.size()) return u;  // gone
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stol(f);
    if (i == 15) stime = std::stol(f);
  }
  u.cpuTicksMs = static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  const std::string status = slurp(base + "/status");
  u.rssKb = statusField(status, "VmRSS:");
  u.hwmKb = statusField(status, "VmHWM:");
  if (DIR* d = opendir((base + "/task").c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const std::string task = base + "/task/" + e->d_name;
      const std::string ts = slurp(task + "/status");
      u.switches += statusField(ts, "voluntary_ctxt_switches:") + statusField(ts, "nonvoluntary_ctxt_switches:");
      u.runNs += std::strtod(slurp(task + "/schedstat").c_str(), nullptr);
      ++u.threads;
    }
    closedir(d);
  }
  return u;
}

void dropEvents(Display* dpy) {
  XSync(dpy, False);
  while (XPending(dpy)) {
    XEvent e;
    XNextEvent(dpy, &e);
  }
}

namespace {
// Under a window manager the window mapped on the root is its frame; the
// program's own window inside it is the one with WM_STATE.
Window clientIn(Display* dpy, Window w, int depth) {
  const Atom state = XInternAtom(dpy, "WM_STATE", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, w, state, 0, 0, False, AnyPropertyType, &type, &format, &items, &after, &data) ==
          Success &&
      data)
    XFree(data);
  if (type != None) return w;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (depth < 3 && XQueryTree(dpy, w, &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !found; ++i) found = clientIn(dpy, children[i], depth + 1);
    if (children) XFree(children);
  }
  return found;
}
}  // namespace

Window awaitMapped(Display* dpy, int seconds, int minWidth, int64_t* at) {
  const int64_t end = nowNs() + int64_t{seconds} * 1000000000;
  while (nowNs() < end) {
    while (XPending(dpy)) {
      XEvent e;
      XNextEvent(dpy, &e);
      if (e.type != MapNotify || e.xmap.override_redirect) continue;
      const int64_t mapped = nowNs();
      XWindowAttributes a{};
      if (minWidth > 0 && !(XGetWindowAttributes(dpy, e.xmap.window, &a) && a.width > minWidth)) continue;
      if (at) *at = mapped;
      const Window client = clientIn(dpy, e.xmap.window, 0);
      return client ? client : e.xmap.window;
    }
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, 50);
  }
  return 0;
}

void rootPoint(Display* dpy, Window w, int x, int y, int& rootX, int& rootY) {
  Window child = 0;
  XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), x, y, &rootX, &rootY, &child);
}

void movePointer(Display* dpy, int rootX, int rootY) {
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), rootX, rootY, CurrentTime);
  XFlush(dpy);
}

void button(Display* dpy, bool down) {
  XTestFakeButtonEvent(dpy, 1, down ? True : False, CurrentTime);
  XFlush(dpy);
}

}  // namespace bench
