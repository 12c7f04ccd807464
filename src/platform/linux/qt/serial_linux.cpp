#include "platform/serial.h"

#include "platform/fault.h"
#include "platform/linux/machine_linux.h"
#include "platform/portable/serial_model.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <QDir>

#include <cerrno>
#include <csignal>
#include <cstring>
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

// Qt has no mode for both kinds of flow control: 3 takes RTS/CTS here and gets
// XON/XOFF added on the open device (see applySoftwareFlow).
QSerialPort::FlowControl flowFor(int32_t mode) {
  if (mode == 1) return QSerialPort::SoftwareControl;
  if (mode >= 2) return QSerialPort::HardwareControl;
  return QSerialPort::NoFlowControl;
}

QSerialPort::Parity parityFor(char letter) {
  switch (letter) {
    case 'E': return QSerialPort::EvenParity;
    case 'M': return QSerialPort::MarkParity;
    case 'O': return QSerialPort::OddParity;
    case 'S': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
  }
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

class QtSerialControl final : public QObject, public SerialModel {
 public:
  QtSerialControl() : SerialModel(kTermiosRules) {
    connect(&port_, &QSerialPort::readyRead, this, [this] { queueReceiveCheck(); });
    connect(&port_, &QSerialPort::bytesWritten, this, [this] { noteSent(); });
    connect(&port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { noteError(e); });
  }

 protected:
  std::string openDevice(int16_t port, const LineState& state) override {
    const QString path = QString::fromStdString(devicePathFor(port));
    // Opening the link's target keeps Qt's lock file per device, not per name.
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) raiseMissingAt(path);
    device_ = target;
    clearStaleLock(target);
    port_.setPortName(target);
    // Set on the closed port, these are what the opening configures.
    if (!applyLine(state.line) || !port_.setFlowControl(flowFor(state.handshaking)) ||
        !port_.open(QIODevice::ReadWrite)) {
      // A device that opens with a plain line refused this one: that is a
      // refusal of the settings, not a device that cannot be opened.
      const std::string reason = lastError();
      if (port_.error() == QSerialPort::UnsupportedOperationError && opensWithPlainLine()) return reason;
      raiseOpenFailure(path);
    }
    port_.setDataTerminalReady(true);
    if (state.handshaking == 3 && !applySoftwareFlow()) return "XON/XOFF with RTS/CTS: " + lastError();
    return {};
  }

  void startReceiving() override {
    applyRts(state());
    ++openings_;
  }

  void closeDevice() override { port_.close(); }
  bool deviceOpen() const override { return port_.isOpen(); }

  std::string applyState(const LineState& state) override {
    if (!applyLine(state.line) || !port_.setFlowControl(flowFor(state.handshaking)) ||
        (state.handshaking == 3 && !applySoftwareFlow()))
      return lastError();
    applyRts(state);
    return {};
  }

  // RTS is ours only without RTS/CTS flow control. A device without modem lines
  // (a pseudo-terminal) refuses the request; that is not worth a fault.
  void applyRts(const LineState& state) override {
    if (flowFor(state.handshaking) != QSerialPort::HardwareControl) port_.setRequestToSend(state.rts);
    port_.clearError();
  }

  std::string writeBytes(const std::string& bytes) override {
    size_t sent = 0;
    // QSerialPort::write only queues until the event loop runs; when nothing is
    // queued before them, the bytes go to the driver now. The rest keeps order.
    if (port_.bytesToWrite() == 0) {
      const ssize_t n = ::write(port_.handle(), bytes.data(), bytes.size());
      if (n > 0) sent = static_cast<size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR) return std::strerror(errno);
    }
    if (sent < bytes.size()) {
      port_.write(bytes.data() + sent, static_cast<qint64>(bytes.size() - sent));
      queuedAtOrAbove_ = sThreshold() > 0 && port_.bytesToWrite() >= sThreshold();
    }
    return {};
  }

  std::string takeBytes(size_t most) override {
    return (most > 0 ? port_.read(static_cast<qint64>(most)) : port_.readAll()).toStdString();
  }

  size_t bytesWaiting() override { return static_cast<size_t>(port_.bytesAvailable()); }

  // Several arrivals before the event loop runs make one look.
  void queueReceiveCheck() override {
    if (receiveQueued_) return;
    receiveQueued_ = true;
    QMetaObject::invokeMethod(this, [this] {
      receiveQueued_ = false;
      receiveArrived();
    }, Qt::QueuedConnection);
  }

  std::string deviceName() const override { return device_.toStdString(); }

 private:
  std::string lastError() const { return port_.errorString().toStdString(); }

  // Pushes speed, parity, data and stop bits to the port; false when refused.
  bool applyLine(const LineSettings& line) {
    const auto stop = line.stop == StopBits::Two ? QSerialPort::TwoStop : QSerialPort::OneStop;
    return port_.setBaudRate(line.speed) && port_.setParity(parityFor(line.parity)) &&
           port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) && port_.setStopBits(stop);
  }

  // Whether the device opens at 9600,N,8,1 without flow control; it is left
  // closed either way.
  bool opensWithPlainLine() {
    applyLine(LineSettings{});
    port_.setFlowControl(QSerialPort::NoFlowControl);
    const bool opened = port_.open(QIODevice::ReadWrite);
    port_.close();
    return opened;
  }

  // Adds XON/XOFF on top of the RTS/CTS that Qt set.
  bool applySoftwareFlow() {
    termios t{};
    if (::tcgetattr(port_.handle(), &t) != 0) return false;
    t.c_iflag |= IXON | IXOFF;
    return ::tcsetattr(port_.handle(), TCSANOW, &t) == 0;
  }

  [[noreturn]] void raiseMissingAt(const QString& path) {
    const QString link = QFile::decodeName(machineFolder().c_str()) + "/dosdevices/com" +
                         QString::number(commPort());
    QString tried = path;
    if (QFileInfo(path).isSymLink()) tried += " -> " + QFileInfo(path).symLinkTarget();
    raiseMissing(tried.toStdString(),
                 ("make " + link + " a link to the board's device, for example /dev/ttyUSB0").toStdString());
  }

  [[noreturn]] void raiseOpenFailure(const QString& path) {
    const std::string detail = lastError();
    switch (port_.error()) {
      case QSerialPort::DeviceNotFoundError:
        raiseMissingAt(path);
      case QSerialPort::PermissionError: {
        // Whoever holds the lock is named, so the operator knows what to close.
        const std::vector<DeviceLock> locks = findLocks(device_);
        const DeviceLock lock = locks.empty() ? DeviceLock{} : locks.front();
        if (lock.stale) {
          raiseInUse(("is locked by a program that has ended, and its lock file " + lock.path + " (owned by " +
                      owningUser(lock.path) + ") cannot be removed; remove it as that user")
                         .toStdString());
        }
        if (::access(QFile::encodeName(device_).constData(), R_OK | W_OK) != 0) {
          raise(faults::kAccessDenied,
                ("Permission denied opening " + device_ + " for " + QString::fromStdString(comName()) +
                 ": add the user to group " + owningGroup(device_) + " (the device's owner group) and log in again")
                    .toStdString(),
                kSerialSource);
        }
        if (lock.running) {
          raiseInUse(("is open in another program: process " + QString::number(lock.pid) + " (" +
                      processName(lock) + "), lock file " + lock.path)
                         .toStdString());
        }
        raiseInUse("is open in another program (" + detail + ")");
      }
      default:
        raiseOpenFailed(detail);
    }
  }

  // The transmit queue fell below SThreshold after holding at least that many.
  void noteSent() {
    if (!queuedAtOrAbove_ || port_.bytesToWrite() >= sThreshold()) return;
    queuedAtOrAbove_ = false;
    signalEvent(comEvSend);
  }

  // Qt 6 reports no parity, framing or break errors, so only a device that went
  // away is acted on, once Qt has finished its notification.
  void noteError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
      return;
    const int opening = openings_;
    QMetaObject::invokeMethod(this, [this, opening] {
      if (opening == openings_ && port_.isOpen() && hungUp(port_.handle())) lineLost({});
    }, Qt::QueuedConnection);
  }

  QSerialPort port_;
  QString device_;  // the device file behind the open (or last opened) port
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
