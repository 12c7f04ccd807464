#include "support/machine.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>
#include <fstream>
#include <sstream>

TempMachine::TempMachine() {
  hadXdg_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
  oldXdg_ = qgetenv("XDG_DATA_HOME");
  oldCwd_ = QDir::currentPath();
  QDir(dir_.path()).mkpath("data/tarnwick");
  QDir(dir_.path()).mkpath("work");
  qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path() + "/data"));
  QDir::setCurrent(workDir());
}

TempMachine::~TempMachine() {
  QDir::setCurrent(oldCwd_);
  if (hadXdg_) qputenv("XDG_DATA_HOME", oldXdg_);
  else qunsetenv("XDG_DATA_HOME");
}

QString TempMachine::machineFolder() const { return dir_.path() + "/data/tarnwick"; }

void TempMachine::writeRegistry(const std::string& bytes) const {
  std::ofstream out(QFile::encodeName(registryFile()).toStdString(), std::ios::binary);
  out << bytes;
}

std::string TempMachine::readRegistry() const {
  std::ifstream in(QFile::encodeName(registryFile()).toStdString(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

QStringList TempMachine::logLines() const {
  QStringList lines;
  QDir work(workDir());
  for (const QString& name : work.entryList({"TWK*.log"}, QDir::Files, QDir::Name)) {
    QFile f(work.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QByteArray all = f.readAll();
    for (const QByteArray& line : all.split('\n'))
      if (!line.isEmpty()) lines << QString::fromLatin1(line.endsWith('\r') ? line.chopped(1) : line);
  }
  return lines;
}

void TempMachine::linkComPort(int port, const QString& device) const {
  QDir(machineFolder()).mkpath("dosdevices");
  const QString link = machineFolder() + "/dosdevices/com" + QString::number(port);
  QFile::remove(link);
  QFile::link(device, link);
}

QString registryValue(const std::string& file, const QString& name) {
  const QString text = QString::fromLatin1(file.data(), static_cast<qsizetype>(file.size()));
  const QRegularExpression re("^\"" + QRegularExpression::escape(name) + "\"=\"((?:[^\"\\\\]|\\\\.)*)\"\\r?$",
                              QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
  const auto m = re.match(text);
  if (!m.hasMatch()) return {};
  QString v = m.captured(1);
  v.replace("\\\"", "\"");
  v.replace("\\\\", "\\");
  return v;
}
