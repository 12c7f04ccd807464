#pragma once
// The local date and time, and their text forms. Tests may move the clock.

#include <functional>
#include <string>

namespace platform {

struct LocalTime {
  int year = 0, month = 0, day = 0;     // month 1 to 12, day 1 to 31
  int hour = 0, minute = 0, second = 0;

  friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

// The current local date and time (from the test clock when one is set).
LocalTime now();

// Replaces the clock; an empty function restores the system clock.
void setClockForTesting(std::function<LocalTime()> clock);

// The general date form: the system's short date, a blank and the time with
// seconds, without a time zone. Used for message-log and log-file lines.
std::string generalDate(const LocalTime& when);

}  // namespace platform
