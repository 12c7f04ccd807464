#include "persist/writelog.h"

#include "persist/errorreport.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "shell/globals.h"

#include <QDateTime>

QString LogFileName(const QDateTime& when) {
  return QStringLiteral("TWK") + when.toString(QStringLiteral("yyyyMMdd")) +
         QStringLiteral(".log");
}

void WriteLog(const QString& message) {
  if (g.gErrorLog != 1) return;
  const QString file = LogFileName(platform::now());
  // The stamp is taken after the name: just after midnight a line may carry the
  // new date in the old day's file.
  const QString line = platform::generalDate(platform::now()) + QStringLiteral(": ") + message;
  platform::appendToFile(file, platform::toAnsi(line) + "\r\n");
}

void ReportError(const char* tag, const platform::Fault& fault) {
  const QString message = QString::fromLatin1(tag) + QString::number(fault.number) +
                          QStringLiteral(") - ") + fault.description + QStringLiteral(", ") +
                          fault.source;
  g.gErrorLog = 1;
  WriteLog(message);
  g.gErrorLog = 0;
}
