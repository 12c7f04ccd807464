#include "platform/clock.h"

#include "platform/ansi.h"

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

// The locale's short date with the year in four digits: a two-digit year reads
// differently from one reader to the next.
QString dateFormat(const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  static const QRegularExpression shortYear(QStringLiteral("(?<!y)yy(?!y)"));
  format.replace(shortYear, QStringLiteral("yyyy"));
  return format;
}

// The locale's long time format without the zone ("t"), so it has seconds.
QString timeFormat(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
  format.remove(zone);
  return format.trimmed();
}

// Blanks of other widths, as some locales put before "AM", are plain blanks.
QString plainBlanks(QString text) {
  for (const char16_t blank : {u'\u00A0', u'\u202F', u'\u2009'})
    text.replace(QChar(blank), QLatin1Char(' '));
  return text;
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

// The system's date and time forms are the user's locale as Qt knows it (the
// default locale, which is the system's unless a test sets another), the same
// that the windows use. A stamp the log file's code page cannot hold (a
// Japanese locale's characters would be written as "?") is written in numbers.
std::string generalDate(const LocalTime& when) {
  const QLocale locale;
  const QDate date(when.year, when.month, when.day);
  const QTime clock(when.hour, when.minute, when.second);
  const std::string text =
      plainBlanks(locale.toString(date, dateFormat(locale)) + QLatin1Char(' ') +
                  locale.toString(clock, timeFormat(locale)))
          .toStdString();
  if (fromAnsi(toAnsi(text)) == text) return text;
  return QStringLiteral("%1-%2-%3 %4:%5:%6")
      .arg(when.year, 4, 10, QLatin1Char('0'))
      .arg(when.month, 2, 10, QLatin1Char('0'))
      .arg(when.day, 2, 10, QLatin1Char('0'))
      .arg(when.hour, 2, 10, QLatin1Char('0'))
      .arg(when.minute, 2, 10, QLatin1Char('0'))
      .arg(when.second, 2, 10, QLatin1Char('0'))
      .toStdString();
}

}  // namespace platform
