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

// How long before a deadline a wait stops sleeping.
constexpr std::chrono::milliseconds kSpin{2};

void onSignal(int number) {
  if (gSignal == 0) gSignal = number;
  const int saved = errno;
  const char byte = 1;
  (void)!::write(gWake[1], &byte, 1);
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
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(number, &action, nullptr);
  // A reader that went away must not end the program in the middle of a pulse.
  std::signal(SIGPIPE, SIG_IGN);
  return body(argc, argv);
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
