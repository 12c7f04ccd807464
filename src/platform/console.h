#pragma once
// How a console program (no windows) runs on a backend: the event delivery the
// serial control needs, and the interrupts a console receives.

#include <chrono>
#include <functional>
#include <string>

namespace platform {

using Deadline = std::chrono::steady_clock::time_point;

// Sets up what the backend's serial control needs to deliver its events (an
// event loop, no windows) and catches the interrupts, then runs body and
// returns its status. An interrupt is, on Linux, every signal that would end
// the process and can be caught (all but SIGKILL and SIGSTOP; a fault of the
// program itself still ends it at once); on Windows, every console control
// event (Ctrl+C, Ctrl+Break, the console closing, log-off, shut-down) and the
// session ending. An interrupt only raises a flag: the body sees it through
// interrupted() and ends as it sees fit, so that what it must still send goes
// out. The console closing and the session ending wait a few seconds for the
// body to end.
int runConsole(int argc, char** argv, int (*body)(int argc, char** argv));

// While one lives, a stop signal (Ctrl+Z: SIGTSTP, SIGTTIN, SIGTTOU on Linux)
// waits: the process stops as asked once it is gone. Outside one, and on
// Windows, which has no such signals, nothing changes. REQUIRES: inside
// runConsole's body, one at a time.
class StopsHeld {
 public:
  StopsHeld();
  ~StopsHeld();
  StopsHeld(const StopsHeld&) = delete;
  StopsHeld& operator=(const StopsHeld&) = delete;
};

// Delivers events until done() holds, an interrupt has arrived or the deadline
// has passed, whichever comes first; returns done()'s last value. The last
// two milliseconds are spent awake, so that a deadline is kept even on a busy
// machine.
bool waitEvents(Deadline deadline, const std::function<bool()>& done);

// True once an interrupt has arrived.
bool interrupted();

// The exit status that tells a caller the program was interrupted: 128 + the
// signal's number on Linux (130 for Ctrl+C), 130 on Windows.
int interruptStatus();

// Writes text (UTF-8) and a line end to standard output or standard error, at
// once: a script reading the output sees each line as it comes.
void writeOut(const std::string& line);
void writeErr(const std::string& line);

}  // namespace platform
