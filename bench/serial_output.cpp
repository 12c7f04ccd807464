// Time from handing "P01" to the serial control until the bytes are readable at
// the far end of a pseudo-terminal, beside a plain write() on the same kind of
// line. Prints the median and 99th percentile of each, and their ratio.

#include "platform/fault.h"
#include "platform/serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
  int master = -1;
  int slave = -1;
  QString device;
  Pty() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) == 0) device = QString::fromLocal8Bit(name);
  }
  ~Pty() {
    ::close(master);
    ::close(slave);
  }
};

// Waits until three bytes arrived at the far end and takes them.
void takeThree(int master) {
  char buf[16];
  int got = 0;
  while (got < 3) {
    pollfd p{master, POLLIN, 0};
    ::poll(&p, 1, 1000);
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) return;
    got += static_cast<int>(n);
  }
}

struct Figures {
  double p50 = 0, p99 = 0;
};

Figures summary(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

struct Sample {
  double call;     // microseconds spent inside `send`
  double arrival;  // microseconds until the bytes were readable at the far end
};

Sample timeOne(int master, const std::function<void()>& send) {
  const auto start = Clock::now();
  send();
  const auto returned = Clock::now();
  takeThree(master);
  const auto end = Clock::now();
  return {std::chrono::duration<double, std::micro>(returned - start).count(),
          std::chrono::duration<double, std::micro>(end - start).count()};
}

void print(const char* what, const std::vector<double>& control, const std::vector<double>& plain) {
  const Figures c = summary(control);
  const Figures p = summary(plain);
  std::printf("%s\n", what);
  std::printf("  control setOutput: p50 %8.1f us   p99 %8.1f us\n", c.p50, c.p99);
  std::printf("  plain write():     p50 %8.1f us   p99 %8.1f us\n", p.p50, p.p99);
  std::printf("  added by control:  p50 %8.1f us   p99 %8.1f us\n", c.p50 - p.p50, c.p99 - p.p99);
  std::printf("  ratio:             p50 %8.2f      p99 %8.2f\n", c.p50 / p.p50, c.p99 / p.p99);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir machine;
  qputenv("XDG_DATA_HOME", QFile::encodeName(machine.path()));
  QDir(machine.path()).mkpath("tarnwick/dosdevices");

  Pty controlLine;
  Pty plainLine;
  QFile::link(controlLine.device, machine.path() + "/tarnwick/dosdevices/com1");

  auto serial = platform::makeSerialControl();
  try {
    serial->setCommPort(1);
    serial->setSettings("9600,N,8,1");
    serial->setPortOpen(true);
  } catch (const platform::Fault& f) {
    std::printf("cannot open the control: %s\n", f.description.c_str());
    return 0;
  }

  const int rounds = 5000;
  auto viaControl = [&] { serial->setOutput("P01"); };
  auto plainWrite = [&] {
    if (::write(plainLine.slave, "P01", 3) != 3) std::perror("write");
  };
  // Alternating, so a busy machine slows both paths alike; the first rounds warm up.
  std::vector<double> controlArrival, plainArrival, controlCall, plainCall;
  for (int i = 0; i < rounds + 200; ++i) {
    const Sample c = timeOne(controlLine.master, viaControl);
    const Sample p = timeOne(plainLine.master, plainWrite);
    if (i < 200) continue;
    controlArrival.push_back(c.arrival);
    plainArrival.push_back(p.arrival);
    controlCall.push_back(c.call);
    plainCall.push_back(p.call);
  }

  std::printf("serial output, %d commands of 3 bytes over a pty\n", rounds);
  print("until readable at the far end", controlArrival, plainArrival);
  print("inside the call", controlCall, plainCall);
  return 0;
}
