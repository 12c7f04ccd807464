#include "platform/files.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool appendToFile(const QString& path, const std::string& bytes) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { ok = false; break; }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

QString localPath(const QString& programPath) {
  QString path = programPath;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return QDir::cleanPath(path);
}

namespace {
QString& testProgramDirectory() {
  static QString dir;
  return dir;
}
}  // namespace

void setProgramDirectoryForTesting(const QString& dir) { testProgramDirectory() = dir; }

QString programDirectory() {
  if (!testProgramDirectory().isEmpty()) return testProgramDirectory();
  return QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                      : QDir::currentPath();
}

}  // namespace platform
