// What the benches that drive a program from outside share: the clock,
// percentiles, a pseudo-terminal as the far end of COM1, a process's figures
// from /proc, and the X server (windows mapped, pointer and button through
// XTest).
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// The command line's "--name value" pairs; get() leaves `out` as it is for a
// name not given.
struct Args {
  Args(int argc, char** argv);
  void get(const char* name, std::string& out) const;
  void get(const char* name, int& out) const;
  std::map<std::string, std::string> values;
};

int64_t nowNs();  // CLOCK_MONOTONIC
void sleepUntil(int64_t ns);
void sleepMs(int ms);

struct Stats {
  double p50 = 0, p99 = 0, max = 0, mean = 0;
};
Stats stats(std::vector<double> v);
double median(const std::vector<double>& v);

// A raw pseudo-terminal; this end does not block. Ends the bench if none.
struct Pty {
  int master = -1;
  int slave = -1;  // kept open so the line never hangs up between opens
  std::string path;
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  void linkAs(const std::string& link);  // replaces whatever is there
  void unplug();                          // closes both ends: the device goes away
  // Reads until `want` bytes arrived or the time is up; `at` gets the time the
  // last of them was read.
  std::string read(size_t want, int timeoutMs, int64_t* at = nullptr);
  void drain();
};

std::string slurp(const std::string& path);

struct Usage {
  double cpuTicksMs = 0;  // utime + stime from /proc/<pid>/stat, in ms
  double runNs = 0;       // sum of the threads' run time (schedstat), exact
  long switches = 0;      // voluntary + involuntary, all threads: every wake-up counts
  long rssKb = 0, hwmKb = 0;
  int threads = 0;
};
Usage usage(pid_t pid);

// Drops the events that came so far (of an earlier run).
void dropEvents(Display* dpy);
// The first top-level window mapped within `seconds` that is wider than
// `minWidth` (needs SubstructureNotifyMask on the root); `at` gets the time
// its MapNotify was read. 0 when none.
Window awaitMapped(Display* dpy, int seconds, int minWidth = 0, int64_t* at = nullptr);
// A window-relative spot on the root window.
void rootPoint(Display* dpy, Window w, int x, int y, int& rootX, int& rootY);
void movePointer(Display* dpy, int rootX, int rootY);
void button(Display* dpy, bool down);  // button 1

}  // namespace bench
