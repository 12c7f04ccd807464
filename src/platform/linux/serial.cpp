#include "platform/serial.h"

#include "platform/fault.h"
#include "platform/linux/machine.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <QDir>

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Faults of the serial control name it as their source.
[[noreturn]] void fail(int32_t number, const QString& description) {
  raise(number, description.toStdString(), "MSComm");
}

// QSerialPort keeps a UUCP lock file per device ("LCK..pts_3" for /dev/pts/3) in
// the first writable of these folders: the process id, then the program's name.
struct DeviceLock {
  QString path;          // "" when there is none
  qint64 pid = 0;        // 0 when the file names none (being written, or left empty)
  QString program;       // the name the file gives
  bool running = false;  // the process it names exists
  bool stale = false;    // left behind: its process is gone, or empty for a while
};

// True while some process holds flock() on the file.
bool heldByAnyone(QFile& file) {
  if (!file.open(QIODevice::ReadOnly)) return true;
  const bool held = ::flock(file.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  file.close();  // closing drops a lock taken here
  return held;
}

// The lock files there are for a device.
std::vector<DeviceLock> findLocks(const QString& device) {
  std::vector<DeviceLock> found;
  QString name = device;
  if (name.startsWith(QLatin1String("/dev/"))) name.remove(0, 5);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  for (const QString& dir : {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                             QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                             QDir::tempPath()}) {
    DeviceLock lock;
    lock.path = dir + QStringLiteral("/LCK..") + name;
    QFile file(lock.path);
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> lines = file.read(256).split('\n');
    const QFileInfo info(lock.path);
    file.close();
    bool isNumber = false;
    lock.pid = lines.first().trimmed().toLongLong(&isNumber);
    if (!isNumber || lock.pid <= 0) lock.pid = 0;
    if (lines.size() > 1) lock.program = QString::fromLocal8Bit(lines[1].trimmed());
    lock.running = lock.pid > 0 && !(::kill(static_cast<pid_t>(lock.pid), 0) != 0 && errno == ESRCH);
    // An empty file may be a lock being taken this instant: Qt's writer holds
    // flock() on it from its creation on, a killed one no longer does.
    lock.stale = lock.pid > 0 ? !lock.running
                              : info.lastModified().secsTo(QDateTime::currentDateTime()) > 2 ||
                                    !heldByAnyone(file);
    found.push_back(lock);
  }
  return found;
}

// A program killed while taking the lock leaves an empty file, one killed later
// a file naming a dead process; Qt then refuses the device for good. Such a file
// is removed before opening; one that names a running process is left alone, so
// two programs never share a port.
void clearStaleLock(const QString& device) {
  for (const DeviceLock& lock : findLocks(device))
    if (lock.stale) QFile::remove(lock.path);
}

// The running process's own name, else the one its lock file gives.
QString processName(const DeviceLock& lock) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(lock.pid));
  QString name;
  if (comm.open(QIODevice::ReadOnly)) name = QString::fromLocal8Bit(comm.readAll().trimmed());
  if (name.isEmpty()) name = lock.program;
  return name.isEmpty() ? QStringLiteral("unknown") : name;
}

// The user owning a file, as a name.
QString owningUser(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return QStringLiteral("another user");
  const passwd* user = ::getpwuid(st.st_uid);
  return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("user %1").arg(st.st_uid);
}

const QString kNotOpen = QStringLiteral("Operation valid only when the port is open");

// The line parameters one Settings text stands for.
struct Line {
  qint32 speed = 9600;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits data = QSerialPort::Data8;
  QSerialPort::StopBits stop = QSerialPort::OneStop;
};

[[noreturn]] void refuse(const QString& what) {
  fail(faults::kInvalidProperty, "Invalid property value: " + what);
}

// Parses "speed,parity,data,stop"; raises a fault naming the bad field.
Line parseSettings(const QString& text) {
  const QStringList f = text.split(',');
  if (f.size() != 4) refuse("Settings \"" + text + "\" is not speed,parity,data,stop");
  Line line;
  bool ok = false;
  line.speed = f[0].trimmed().toInt(&ok);
  if (!ok || line.speed <= 0) refuse("speed \"" + f[0] + "\" is not a positive whole number");
  const QString parity = f[1].trimmed().toUpper();
  if (parity == "E") line.parity = QSerialPort::EvenParity;
  else if (parity == "M") line.parity = QSerialPort::MarkParity;
  else if (parity == "N") line.parity = QSerialPort::NoParity;
  else if (parity == "O") line.parity = QSerialPort::OddParity;
  else if (parity == "S") line.parity = QSerialPort::SpaceParity;
  else refuse("parity \"" + f[1] + "\" is not E, M, N, O or S");
  const int data = f[2].trimmed().toInt(&ok);
  if (!ok || data < 5 || data > 8) refuse("data bits \"" + f[2] + "\" are not 5 to 8");
  line.data = static_cast<QSerialPort::DataBits>(data);
  // Qt drives no 1.5 stop bits on this system, so only 1 and 2 are taken.
  const QString stop = f[3].trimmed();
  if (stop == "1") line.stop = QSerialPort::OneStop;
  else if (stop == "2") line.stop = QSerialPort::TwoStop;
  else refuse("stop bits \"" + f[3] + "\" are not 1 or 2");
  return line;
}

// Qt has no mode for both kinds of flow control: 3 takes RTS/CTS here and gets
// XON/XOFF added on the open device (see applySoftwareFlow).
QSerialPort::FlowControl flowFor(int32_t mode) {
  if (mode == 1) return QSerialPort::SoftwareControl;
  if (mode >= 2) return QSerialPort::HardwareControl;
  return QSerialPort::NoFlowControl;
}

// The group owning a device file, as a name ("" when unknown).
QString owningGroup(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
}

// True when the device has hung up (unplugged, or the far end of a pty closed).
bool hungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

class QtSerialControl final : public QObject, public SerialControl {
 public:
  QtSerialControl() {
    connect(&port_, &QSerialPort::readyRead, this, [this] { queueReceiveCheck(); });
    connect(&port_, &QSerialPort::bytesWritten, this, [this] { noteSent(); });
    connect(&port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { noteError(e); });
  }

  void setCommPort(int16_t port) override {
    if (port <= 0) fail(faults::kPortInvalid, "Invalid port number");
    if (port_.isOpen()) fail(faults::kPortAlreadyOpen, "Port already open");
    commPort_ = port;
  }
  int16_t commPort() const override { return commPort_; }

  void setHandshaking(int32_t mode) override {
    if (mode < 0 || mode > 3) refuse("Handshaking " + QString::number(mode) + " is not 0 to 3");
    const int32_t old = handshaking_;
    handshaking_ = mode;
    if (port_.isOpen() && !applyFlow()) {
      handshaking_ = old;
      applyFlow();
      raiseRefusedByDevice("Handshaking " + QString::number(mode));
    }
  }
  int32_t handshaking() const override { return handshaking_; }

  void setSettings(const std::string& text) override {
    const QString settings = QString::fromStdString(text);
    const Line line = parseSettings(settings);
    const Line old = line_;
    line_ = line;
    if (port_.isOpen() && !applyLine()) {
      line_ = old;
      applyLine();
      raiseRefusedByDevice("Settings \"" + settings + "\"");
    }
    settings_ = text;
  }
  std::string settings() const override { return settings_; }

  void setInputLen(int16_t length) override {
    if (length < 0) refuse("InputLen " + QString::number(length) + " is negative");
    inputLen_ = length;
  }

  void setRThreshold(int16_t count) override {
    if (count < 0) refuse("RThreshold " + QString::number(count) + " is negative");
    rThreshold_ = count;
    queueReceiveCheck();  // characters already waiting may now reach it
  }
  int16_t rThreshold() const override { return rThreshold_; }

  void setSThreshold(int16_t count) override {
    if (count < 0) refuse("SThreshold " + QString::number(count) + " is negative");
    sThreshold_ = count;
  }

  void setRTSEnable(bool on) override {
    rts_ = on;
    if (port_.isOpen()) applyRts();
  }
  bool rtsEnable() const override { return rts_; }

  void setPortOpen(bool open) override {
    if (!open) {
      if (port_.isOpen()) port_.close();
      return;
    }
    if (port_.isOpen()) fail(faults::kPortAlreadyOpen, "Port already open");
    openPort();
  }
  bool portOpen() const override { return port_.isOpen(); }

  void setOutput(const std::string& text) override {
    requireOpen();
    const QByteArray bytes = QString::fromStdString(text).toLatin1();
    qsizetype sent = 0;
    // QSerialPort::write only queues until the event loop runs; when nothing is
    // queued before them, the bytes go to the driver now. The rest keeps order.
    if (port_.bytesToWrite() == 0) {
      const ssize_t n = ::write(port_.handle(), bytes.constData(), static_cast<size_t>(bytes.size()));
      if (n > 0) sent = n;
      else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        port_.close();
        fail(faults::kPortNotOpen,
              kNotOpen + ": the device " + device_ + " went away and the port was closed");
      }
    }
    if (sent < bytes.size()) {
      port_.write(bytes.constData() + sent, bytes.size() - sent);
      queuedAtOrAbove_ = sThreshold_ > 0 && port_.bytesToWrite() >= sThreshold_;
    }
  }

  std::string input() override {
    requireOpen();
    return QString::fromLatin1(inputLen_ > 0 ? port_.read(inputLen_) : port_.readAll()).toStdString();
  }

  int16_t commEvent() const override { return event_; }

 private:
  void requireOpen() const {
    if (!port_.isOpen()) fail(faults::kPortNotOpen, kNotOpen);
  }

  [[noreturn]] void raiseRefusedByDevice(const QString& what) {
    fail(faults::kSetStateFailed,
          "The device " + device_ + " refused " + what + ": " + port_.errorString());
  }

  // Pushes speed, parity, data and stop bits to the port; false when refused.
  bool applyLine() {
    return port_.setBaudRate(line_.speed) && port_.setParity(line_.parity) &&
           port_.setDataBits(line_.data) && port_.setStopBits(line_.stop);
  }

  // Pushes the flow control to the port; false when refused.
  bool applyFlow() {
    if (!port_.setFlowControl(flowFor(handshaking_))) return false;
    if (port_.isOpen() && handshaking_ == 3) return applySoftwareFlow();
    return true;
  }

  // Adds XON/XOFF on top of the RTS/CTS that Qt set.
  bool applySoftwareFlow() {
    termios t{};
    if (::tcgetattr(port_.handle(), &t) != 0) return false;
    t.c_iflag |= IXON | IXOFF;
    return ::tcsetattr(port_.handle(), TCSANOW, &t) == 0;
  }

  // RTS is ours only without RTS/CTS flow control. A device without modem lines
  // (a pseudo-terminal) refuses the request; that is not worth a fault.
  void applyRts() {
    if (flowFor(handshaking_) != QSerialPort::HardwareControl) port_.setRequestToSend(rts_);
    port_.clearError();
  }

  void openPort() {
    const QString path = QString::fromStdString(devicePathFor(commPort_));
    // Opening the link's target keeps Qt's lock file per device, not per name.
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) raiseMissing(path);
    device_ = target;
    clearStaleLock(target);
    port_.setPortName(target);
    if (!applyLine() || !applyFlow() || !port_.open(QIODevice::ReadWrite)) raiseOpenFailure(path);
    if (handshaking_ == 3 && !applySoftwareFlow()) {
      port_.close();
      raiseRefusedByDevice("XON/XOFF with RTS/CTS");
    }
    port_.setDataTerminalReady(true);
    applyRts();
    ++openings_;
  }

  [[noreturn]] void raiseMissing(const QString& path) {
    const QString link = QFile::decodeName(machineFolder().c_str()) + "/dosdevices/com" +
                         QString::number(commPort_);
    QString why = "Invalid port number: COM" + QString::number(commPort_) + " has no device (tried " + path;
    if (QFileInfo(path).isSymLink()) why += " -> " + QFileInfo(path).symLinkTarget();
    why += "); make " + link + " a link to the board's device, for example /dev/ttyUSB0";
    fail(faults::kPortInvalid, why);
  }

  [[noreturn]] void raiseOpenFailure(const QString& path) {
    const QString com = "COM" + QString::number(commPort_);
    const QString detail = port_.errorString();
    switch (port_.error()) {
      case QSerialPort::DeviceNotFoundError:
        raiseMissing(path);
      case QSerialPort::PermissionError: {
        // Whoever holds the lock is named, so the operator knows what to close.
        const std::vector<DeviceLock> locks = findLocks(device_);
        const DeviceLock lock = locks.empty() ? DeviceLock{} : locks.front();
        const QString busy = "The port is in use: " + device_ + " (" + com + ") ";
        if (lock.stale) {
          fail(faults::kPortBusy, busy + "is locked by a program that has ended, and its lock file " +
                                      lock.path + " (owned by " + owningUser(lock.path) +
                                      ") cannot be removed; remove it as that user");
        }
        if (::access(QFile::encodeName(device_).constData(), R_OK | W_OK) != 0) {
          fail(faults::kAccessDenied,
                "Permission denied opening " + device_ + " for " + com + ": add the user to group " +
                    owningGroup(device_) + " (the device's owner group) and log in again");
        }
        if (lock.running) {
          fail(faults::kPortBusy, busy + "is open in another program: process " + QString::number(lock.pid) +
                                      " (" + processName(lock) + "), lock file " + lock.path);
        }
        fail(faults::kPortBusy, busy + "is open in another program (" + detail + ")");
      }
      default:
        fail(faults::kPortOpenFailed,
              "The device " + device_ + " (" + com + ") could not be opened: " + detail);
    }
  }

  // Looks at the waiting count once the current event is done, so OnComm never
  // runs inside one of the program's calls; several arrivals make one look.
  void queueReceiveCheck() {
    if (receiveQueued_) return;
    receiveQueued_ = true;
    QMetaObject::invokeMethod(this, [this] {
      receiveQueued_ = false;
      if (port_.isOpen() && rThreshold_ > 0 && port_.bytesAvailable() >= rThreshold_)
        signalEvent(comEvReceive);
    }, Qt::QueuedConnection);
  }

  // The transmit queue fell below SThreshold after holding at least that many.
  void noteSent() {
    if (!queuedAtOrAbove_ || port_.bytesToWrite() >= sThreshold_) return;
    queuedAtOrAbove_ = false;
    signalEvent(comEvSend);
  }

  // Qt 6 reports no parity, framing or break errors, so only a device that went
  // away is acted on: the port is closed once Qt has finished its notification.
  void noteError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
      return;
    const int opening = openings_;
    QMetaObject::invokeMethod(this, [this, opening] {
      if (opening == openings_ && port_.isOpen() && hungUp(port_.handle())) port_.close();
    }, Qt::QueuedConnection);
  }

  void signalEvent(int16_t code) {
    event_ = code;
    if (onComm) onComm();
  }

  QSerialPort port_;
  QString device_;  // the device file behind the open (or last opened) port
  std::string settings_ = "9600,N,8,1";
  Line line_;
  int16_t commPort_ = 1;
  int32_t handshaking_ = 0;
  int16_t inputLen_ = 0;
  int16_t rThreshold_ = 0;
  int16_t sThreshold_ = 0;
  int16_t event_ = 0;
  bool rts_ = false;
  bool receiveQueued_ = false;
  bool queuedAtOrAbove_ = false;
  int openings_ = 0;
};

}  // namespace

std::unique_ptr<SerialControl> makeSerialControl() { return std::make_unique<QtSerialControl>(); }

std::string devicePathFor(int port) {
  const std::string link = machineFolder() + "/dosdevices/com" + std::to_string(port);
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) return link;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace platform
