// Console programs on Qt: a QCoreApplication (no widgets) whose event loop
// delivers the serial control's events, and signals turned into a flag plus a
// byte on a pipe that wakes the loop.

#include "platform/console.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

volatile std::sig_atomic_t gSignal = 0;  // the first interrupt's number
int gWake[2] = {-1, -1};

// What each caught signal did before, for a fault of the program's own.
struct sigaction gPrevious[NSIG];

// Set while stops are held; the stop signal that arrived meanwhile.
volatile std::sig_atomic_t gStopHeld = 0;
volatile std::sig_atomic_t gStopPending = 0;

// How long before a deadline a wait stops sleeping.
constexpr std::chrono::milliseconds kSpin{2};

// Every signal whose default action ends the process and that can be caught;
// the real-time ones are added at run time. SIGPIPE is ignored instead.
constexpr int kEnding[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,
    SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

constexpr int kStops[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Signals the kernel raises for a fault of the program itself (a bad address,
// a bad instruction, a breakpoint, a refused system call) or that abort()
// raises. Sent by another process they are requests to end like any other.
bool isFaultSignal(int number) {
  switch (number) {
    case SIGILL: case SIGTRAP: case SIGABRT: case SIGBUS: case SIGFPE: case SIGSEGV: case SIGSYS: return true;
    default: return false;
  }
}

// After these the faulting instruction runs again when the handler returns.
bool faultRepeats(int number) {
  return number == SIGILL || number == SIGBUS || number == SIGFPE || number == SIGSEGV;
}

void onSignal(int number, siginfo_t* info, void*) {
  const int saved = errno;
  if (isFaultSignal(number) && (info->si_code > 0 || info->si_pid == ::getpid())) {
    // The program's own fault cannot be returned from: it ends as it would
    // have without the handler (a core dump, or the sanitizer's report).
    ::sigaction(number, &gPrevious[number], nullptr);
    if (!faultRepeats(number)) ::raise(number);  // delivered once the handler returns
    errno = saved;
    return;
  }
  if (gSignal == 0) gSignal = number;
  const char byte = 1;
  if (gWake[1] >= 0) (void)!::write(gWake[1], &byte, 1);
  errno = saved;
}

// Stops the process as the signal's default action does (unless the kernel
// drops it: an orphaned process group); returns once continued. REQUIRES: the
// signal is blocked, as it is inside its own handler.
void stopNow(int number) {
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  struct sigaction mine {};
  ::sigaction(number, &stop, &mine);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  ::raise(number);  // pending until unblocked
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::sigaction(number, &mine, nullptr);
}

void onStop(int number) {
  const int saved = errno;
  if (gStopHeld) {
    if (gStopPending == 0) gStopPending = number;
  } else {
    stopNow(number);
  }
  errno = saved;
}

void writeLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

int runConsole(int argc, char** argv, int (*body)(int argc, char** argv)) {
  QCoreApplication app(argc, argv);
  if (::pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
  QSocketNotifier wake(gWake[0], QSocketNotifier::Read);
  QObject::connect(&wake, &QSocketNotifier::activated, [] {
    char drained[16];
    while (::read(gWake[0], drained, sizeof drained) > 0) {
    }
  });
  // Any signal that would end the process becomes the interrupt, so that a
  // pulse's off goes out whichever one a caller (or a timeout, a CPU limit, a
  // profiler) sends. SA_ONSTACK: a sanitizer's alternate stack, when there is one.
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
  const auto catchSignal = [&action](int number) { ::sigaction(number, &action, &gPrevious[number]); };
  for (const int number : kEnding) catchSignal(number);
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) catchSignal(number);
  struct sigaction stop {};
  stop.sa_handler = onStop;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = SA_RESTART;
  for (const int number : kStops) ::sigaction(number, &stop, nullptr);
  // A reader that went away must not end the program in the middle of a pulse.
  std::signal(SIGPIPE, SIG_IGN);
  return body(argc, argv);
}

StopsHeld::StopsHeld() { gStopHeld = 1; }

StopsHeld::~StopsHeld() {
  // Blocked while the flag drops, so that a stop arriving now is either the
  // one recorded or one taken at once, never lost between the two.
  sigset_t stops;
  sigemptyset(&stops);
  for (const int number : kStops) sigaddset(&stops, number);
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &stops, &before);
  gStopHeld = 0;
  if (gStopPending != 0) stopNow(gStopPending);
  gStopPending = 0;
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool waitEvents(Deadline deadline, const std::function<bool()>& done) {
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  for (;;) {
    if (done()) return true;
    if (interrupted()) return false;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    // A process woken on a busy machine runs late by the scheduler's share
    // (milliseconds); one already running when the deadline comes does not.
    // So the loop wakes kSpin early and stays on the processor, still
    // delivering events, for the rest.
    if (left <= kSpin) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      continue;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left - kSpin).count();
    timer.start(static_cast<int>(std::min<long long>(std::max<long long>(ms, 1), 1 << 30)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

bool interrupted() { return gSignal != 0; }

int interruptStatus() { return 128 + (gSignal != 0 ? static_cast<int>(gSignal) : SIGINT); }

void writeOut(const std::string& line) { writeLine(stdout, line); }
void writeErr(const std::string& line) { writeLine(stderr, line); }

}  // namespace platform
