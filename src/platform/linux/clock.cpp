#include "platform/clock.h"

#include <QLocale>
#include <QRegularExpression>

namespace platform {

namespace {
std::function<QDateTime()>& testClock() {
  static std::function<QDateTime()> clock;
  return clock;
}

// The locale's long time format without the zone ("t"), so it has seconds.
QString timeFormat(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
  format.remove(zone);
  return format.trimmed();
}
}  // namespace

QDateTime now() {
  return testClock() ? testClock()() : QDateTime::currentDateTime();
}

void setClockForTesting(std::function<QDateTime()> clock) {
  testClock() = std::move(clock);
}

QString generalDate(const QDateTime& when) {
  static const QLocale locale = QLocale::system();
  static const QString time = timeFormat(locale);
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), time);
}

}  // namespace platform
