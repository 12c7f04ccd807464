#include "support/pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master_, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty");
  device_ = name;
  keepOpen_ = slave;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (master_ >= 0) ::close(master_);
  if (keepOpen_ >= 0) ::close(keepOpen_);
}

QByteArray PtyPair::read(int timeoutMs, int want) {
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  while (true) {
    const int left = timeoutMs - static_cast<int>(timer.elapsed());
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, std::min(left, 5)) > 0 && (p.revents & POLLIN)) {
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) out.append(buf, n);
      if (want > 0 && out.size() >= want) break;
    }
    QCoreApplication::processEvents();
  }
  return out;
}

void PtyPair::write(const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (n > 0) done += n;
    else if (errno != EAGAIN && errno != EINTR) break;
  }
}

int PtyPair::waitingAtDevice() const {
  int n = 0;
  if (keepOpen_ < 0 || ::ioctl(keepOpen_, FIONREAD, &n) != 0) return -1;
  return n;
}

termios PtyPair::attributes() const {
  termios t{};
  tcgetattr(keepOpen_ >= 0 ? keepOpen_ : master_, &t);
  return t;
}

void PtyPair::closeFarEnd() {
  if (keepOpen_ >= 0) ::close(keepOpen_);
  keepOpen_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void pumpEvents(int ms) {
  QElapsedTimer timer;
  timer.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::usleep(500);
  } while (timer.elapsed() < ms);
}
