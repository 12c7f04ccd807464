#include "platform/clock.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <ctime>

namespace platform {

namespace {
std::function<LocalTime()>& testClock() {
  static std::function<LocalTime()> clock;
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

LocalTime now() {
  if (testClock()) return testClock()();
  const std::time_t seconds = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

void setClockForTesting(std::function<LocalTime()> clock) {
  testClock() = std::move(clock);
}

// The system's date and time forms are the user's locale as Qt knows it, the
// same that the windows use.
std::string generalDate(const LocalTime& when) {
  static const QLocale locale = QLocale::system();
  static const QString time = timeFormat(locale);
  const QDate date(when.year, when.month, when.day);
  const QTime clock(when.hour, when.minute, when.second);
  return (locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ') + locale.toString(clock, time))
      .toStdString();
}

}  // namespace platform
