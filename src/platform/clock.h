#pragma once
// The local date and time, and their text forms. Tests may move the clock.

#include <QDateTime>
#include <QString>
#include <functional>

namespace platform {

// The current local date and time (from the test clock when one is set).
QDateTime now();

// Replaces the clock; an empty function restores the system clock.
void setClockForTesting(std::function<QDateTime()> clock);

// The general date form: the system locale's short date, a blank and the time
// with seconds, without a time zone. Used for message-log and log-file lines.
QString generalDate(const QDateTime& when);

}  // namespace platform
