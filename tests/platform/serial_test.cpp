// The serial control over real pseudo-terminals: bytes on the line, receive
// events, line settings the device ends up with, refusals and lost devices.

#include "platform/fault.h"
#include "platform/serial.h"
#include "support/child.h"
#include "support/fault_of.h"
#include "support/machine.h"
#include "support/pty.h"

#include <QElapsedTimer>
#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::Fault;
using platform::SerialControl;

namespace {

// Reads the far end without running the event loop, so only bytes the control
// handed to the device inside its own call can arrive.
QByteArray readWithoutEvents(int fd, int timeoutMs = 100) {
  QByteArray out;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN)) {
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, n);
  }
  return out;
}

class SerialTest : public ::testing::Test {
 protected:
  SerialTest() {
    machine.linkComPort(1, pty.devicePath());
    serial->onComm = [this] { events.push_back(serial->commEvent()); };
  }

  void open(const std::string& settings = "9600,N,8,1", int32_t handshaking = 0) {
    serial->setCommPort(1);
    serial->setHandshaking(handshaking);
    serial->setSettings(settings);
    serial->setInputLen(0);
    serial->setRThreshold(3);
    serial->setSThreshold(1);
    serial->setPortOpen(true);
  }

  // Runs the event loop until `count` events arrived (at most a second).
  void waitForEvents(size_t count) {
    QElapsedTimer timer;
    timer.start();
    while (events.size() < count && timer.elapsed() < 1000) pumpEvents(5);
  }

  TempMachine machine;
  PtyPair pty;
  std::unique_ptr<SerialControl> serial = platform::makeSerialControl();
  std::vector<int16_t> events;
};

TEST_F(SerialTest, CommandLeavesAtOnceAsExactlyItsBytes) {
  open();
  serial->setOutput("P01");
  EXPECT_EQ(readWithoutEvents(pty.farEnd()), QByteArray("\x50\x30\x31"));
  serial->setOutput("P90");
  serial->setOutput("P40");
  EXPECT_EQ(pty.read(100), QByteArray("P90P40"));
}

TEST_F(SerialTest, ReceiveEventWaitsForTheThreshold) {
  open();
  pty.write("OK");
  pumpEvents(100);
  EXPECT_TRUE(events.empty()) << "two characters must wait unannounced";
  pty.write("!");
  waitForEvents(1);
  ASSERT_EQ(events, std::vector<int16_t>{platform::comEvReceive});
  EXPECT_EQ(serial->input(), "OK!");

  serial->setRThreshold(8);
  events.clear();
  pty.write("1234567");
  pumpEvents(100);
  EXPECT_TRUE(events.empty()) << "seven characters must wait under threshold 8";
  pty.write("8");
  waitForEvents(1);
  ASSERT_EQ(events, std::vector<int16_t>{platform::comEvReceive});
  EXPECT_EQ(serial->input(), "12345678");
}

TEST_F(SerialTest, LoweredThresholdAnnouncesWaitingCharactersLater) {
  open();
  serial->setRThreshold(8);
  pty.write("abcde");
  pumpEvents(100);
  ASSERT_TRUE(events.empty());
  serial->setRThreshold(3);
  EXPECT_TRUE(events.empty()) << "the event must not run inside the setter";
  waitForEvents(1);
  EXPECT_EQ(events, std::vector<int16_t>{platform::comEvReceive});
}

TEST_F(SerialTest, UnreadCharactersAreAnnouncedOnceNotRepeatedly) {
  open();
  pty.write("abc");
  pumpEvents(200);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(SerialTest, TwoAnswersBeforeTheEventComeOutOfOneInput) {
  open();
  std::vector<std::string> chunks;
  serial->onComm = [&] {
    if (serial->commEvent() == platform::comEvReceive) chunks.push_back(serial->input());
  };
  pty.write("P01 OK\r\n");
  pty.write("P00 OK\r\n");
  QElapsedTimer timer;
  timer.start();
  // Both answers wait at the device before the program looks, as when they
  // came while it was busy; on a loaded machine the kernel may pass on the
  // first alone.
  while (pty.waitingAtDevice() >= 0 && pty.waitingAtDevice() < 16 && timer.elapsed() < 1000) QThread::usleep(200);
  while (chunks.empty() && timer.elapsed() < 1000) pumpEvents(5);
  pumpEvents(50);
  EXPECT_EQ(chunks, std::vector<std::string>{"P01 OK\r\nP00 OK\r\n"});
}

struct LineRow {
  const char* settings;
  int32_t handshaking;
  speed_t speed;
  bool twoStopBits;
  bool rtsCts;
  bool xonXoff;
};

class LineSettingsTest : public SerialTest, public ::testing::WithParamInterface<LineRow> {};

// The kernel keeps speed, stop bits and flow control on a pseudo-terminal, so
// the far end sees what the control really set. It drops parity and data bits,
// and Qt then calls a later change of them on the open device a refusal.
TEST_P(LineSettingsTest, DeviceGetsTheConfiguredLine) {
  const LineRow row = GetParam();
  auto check = [&](const char* when) {
    const termios t = pty.attributes();
    EXPECT_EQ(cfgetispeed(&t), row.speed) << when;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, row.twoStopBits) << when;
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, row.rtsCts) << when;
    EXPECT_EQ((t.c_iflag & IXON) != 0, row.xonXoff) << when;
  };
  if (const auto fault = faultOf([&] { open(row.settings, row.handshaking); }))
    FAIL() << fault->number << " " << fault->description;
  check("applied at open");
  EXPECT_EQ(serial->settings(), row.settings);

  serial->setPortOpen(false);
  open();
  serial->setHandshaking(row.handshaking);
  serial->setSettings(row.settings);
  check("applied to the open port");
}

INSTANTIATE_TEST_SUITE_P(Rows, LineSettingsTest,
                         ::testing::Values(LineRow{"19200,N,8,2", 2, B19200, true, true, false},
                                           LineRow{"4800,n,8,1", 1, B4800, false, false, true},
                                           LineRow{"115200,o,8,2", 3, B115200, true, true, true},
                                           LineRow{"2400,s,5,1", 0, B2400, false, false, false}));

// Which texts are refused is settings_text_test.cpp's table; here, that a
// refusal on the open port leaves the device's line as it was.
TEST_F(SerialTest, RefusedValuesOnTheOpenPortKeepTheDevicesLine) {
  open("19200,e,7,2", 2);
  for (const auto& step : std::vector<std::function<void()>>{[&] { serial->setSettings("9600,N,4,1"); },
                                                             [&] { serial->setSettings("9600,N,8,1.5"); },
                                                             [&] { serial->setHandshaking(4); }}) {
    const auto fault = faultOf(step);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->number, 380);
  }
  EXPECT_EQ(serial->settings(), "19200,e,7,2");
  EXPECT_EQ(serial->handshaking(), 2);
  const termios t = pty.attributes();
  EXPECT_EQ(cfgetispeed(&t), speed_t{B19200});
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
}

TEST_F(SerialTest, OpenStateRules) {
  open();
  EXPECT_EQ(faultOf([&] { serial->setCommPort(2); })->number, platform::faults::kPortAlreadyOpen);
  EXPECT_EQ(faultOf([&] { serial->setPortOpen(true); })->number, platform::faults::kPortAlreadyOpen);
  EXPECT_TRUE(serial->portOpen());
  serial->setPortOpen(false);
  EXPECT_FALSE(faultOf([&] { serial->setPortOpen(false); })) << "closing a closed port is harmless";
}

TEST_F(SerialTest, OutputAndInputOnAClosedPortFault) {
  for (const auto& step : std::vector<std::function<void()>>{[&] { serial->setOutput("P01"); },
                                                             [&] { serial->input(); }}) {
    const auto fault = faultOf(step);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->number, platform::faults::kPortNotOpen);
    EXPECT_EQ(fault->description, "Operation valid only when the port is open");
  }
  EXPECT_TRUE(pty.read(50).isEmpty());
}

TEST_F(SerialTest, MissingDeviceFaultNamesWhatWasTriedAndTheLinkToMake) {
  machine.linkComPort(4, machine.root() + "/unplugged");
  serial->setCommPort(4);
  const auto fault = faultOf([&] { serial->setPortOpen(true); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kPortInvalid);
  EXPECT_TRUE(fault->description.find(machine.root() + "/unplugged") != std::string::npos) << fault->description;
  EXPECT_TRUE(fault->description.find(machine.machineFolder() + "/dosdevices/com4") != std::string::npos);
  EXPECT_FALSE(serial->portOpen());
  // Without a link the port falls back to the serial device of that number.
  EXPECT_EQ(platform::devicePathFor(7), "/dev/ttyS6");
}

TEST_F(SerialTest, SecondOpenOfTheSameDeviceIsRefusedAsBusy) {
  open();
  auto other = platform::makeSerialControl();
  const auto fault = faultOf([&] { other->setPortOpen(true); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kPortBusy) << fault->description;
  EXPECT_NE(fault->description.find("is open in another program: process " + std::to_string(::getpid()) +
                                    " (test_platform)"),
            std::string::npos)
      << fault->description;
  EXPECT_TRUE(serial->portOpen());
}

// The lock file QSerialPort keeps for the pty under test.
QString lockFileFor(const QString& device) {
  QString name = device.mid(5);  // without "/dev/"
  name.replace('/', '_');
  return "/var/lock/LCK.." + name;
}

struct LeftLock {
  const char* name;
  QByteArray content;  // %PID: a running process (cat); %HOST: this machine
  int ageSeconds;
  bool opens;
  std::string says = "";     // in the refusal; %PID, %LOCK: the lock file
  bool asOtherUser = false;  // the program runs as nobody, the file is root's
};

// Opens the port in a child process that runs as nobody; returns the refusal
// ("" when the port opened).
std::string openAsNobody(const std::function<void()>& open) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    std::string said = "cannot become nobody";
    if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
      const auto fault = faultOf(open);
      said = fault ? fault->description : "";
    }
    if (::write(out[1], said.data(), said.size()) < 0) ::_exit(1);
    ::_exit(0);
  }
  ::close(out[1]);
  std::string said;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(child, nullptr, 0);
  return said;
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  for (size_t at; (at = text.find(what)) != std::string::npos;) text.replace(at, what.size(), with);
  return text;
}

class LeftLockTest : public SerialTest, public ::testing::WithParamInterface<LeftLock> {};

TEST_P(LeftLockTest, OnlyALockOfARunningProgramKeepsThePortClosed) {
  if (::access("/var/lock", W_OK) != 0) GTEST_SKIP() << "/var/lock is not writable here";
  if (GetParam().asOtherUser && ::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  const QString lock = lockFileFor(QFileInfo(QString::fromStdString(pty.devicePath())).canonicalFilePath());
  // A running program: once cat echoes a line, it is cat (exec done).
  ChildProcess holder("/bin/cat", {});
  holder.write("up\n");
  std::string echoed;
  ASSERT_TRUE(holder.readLine(echoed));
  const std::string pid = std::to_string(holder.pid());
  {
    QFile f(lock);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(GetParam().content)
                .replace("%PID", QByteArray::fromStdString(pid))
                .replace("%HOST", QSysInfo::machineHostName().toLocal8Bit()));
  }
  const QDateTime written = QDateTime::currentDateTime().addSecs(-GetParam().ageSeconds);
  QFile f(lock);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  f.setFileTime(written, QFileDevice::FileModificationTime);
  f.close();

  std::string said;
  if (GetParam().asOtherUser) {
    // nobody reaches the device through the machine folder.
    ::chmod(machine.root().c_str(), 0755);
    ::chmod(pty.devicePath().c_str(), 0666);
    said = openAsNobody([&] { open(); });
    EXPECT_TRUE(QFile::exists(lock)) << "nobody removed root's file";
  } else {
    const auto fault = faultOf([&] { open(); });
    said = fault ? fault->description : "";
    EXPECT_EQ(serial->portOpen(), GetParam().opens) << said;
  }
  EXPECT_EQ(said.empty(), GetParam().opens) << said;
  const std::string says = replaced(replaced(GetParam().says, "%PID", pid), "%LOCK", lock.toStdString());
  EXPECT_NE(said.find(says), std::string::npos) << said;
  serial->setPortOpen(false);
  QFile::remove(lock);
}

// A program killed while taking the lock leaves it empty (a writer holds
// flock() on it until it is written); one killed later
// leaves the number of a process that is gone. PID 1 is always running.
INSTANTIATE_TEST_SUITE_P(
    Rows, LeftLockTest,
    ::testing::Values(
        LeftLock{"empty", "", 60, true}, LeftLock{"empty_nobody_writing", "", 0, true},
        LeftLock{"dead_process", "2147483000\ntarnwick\nhost\n", 0, true},
        LeftLock{"running_process", "1\ninit\nhost\n", 0, false,
                 "The port is in use: /dev/pts/"},
        LeftLock{"live_holder_named", "%PID\ncat\n%HOST\n", 0, false,
                 "is open in another program: process %PID (cat), lock file %LOCK"},
        LeftLock{"another_users_stale_file", "2147483000\ntarnwick\n%HOST\n", 0, false,
                 "is locked by a program that has ended, and its lock file %LOCK (owned by root) "
                 "cannot be removed; remove it as that user",
                 true}),
    [](const ::testing::TestParamInfo<LeftLock>& row) { return std::string(row.param.name); });

TEST_F(SerialTest, VanishedDeviceClosesThePortQuietly) {
  open();
  serial->setRThreshold(1);
  pty.closeFarEnd();
  pumpEvents(200);
  EXPECT_TRUE(events.empty()) << events.size() << " events after the device went away";
  EXPECT_FALSE(serial->portOpen());
  EXPECT_EQ(faultOf([&] { serial->setOutput("P01"); })->number, platform::faults::kPortNotOpen);
  EXPECT_EQ(faultOf([&] { serial->input(); })->number, platform::faults::kPortNotOpen);
}

TEST_F(SerialTest, OutputRightAfterTheDeviceVanishedFaults) {
  open();
  pty.closeFarEnd();
  EXPECT_EQ(faultOf([&] { serial->setOutput("P01"); })->number, platform::faults::kPortNotOpen);
  EXPECT_FALSE(serial->portOpen());
}

TEST_F(SerialTest, ReopensWhenTheDeviceReturnsUnderTheSameLink) {
  open();
  pty.closeFarEnd();
  pumpEvents(50);
  PtyPair replugged;
  machine.linkComPort(1, replugged.devicePath());
  serial->setPortOpen(false);
  serial->setPortOpen(true);
  serial->setOutput("P11");
  EXPECT_EQ(replugged.read(200, 3), QByteArray("P11"));
  replugged.write("OK!");
  waitForEvents(1);
  EXPECT_EQ(serial->input(), "OK!");
}

}  // namespace
