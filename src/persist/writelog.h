#pragma once
// The daily log file: "TWK" + yyyymmdd + ".log" in the current directory, one
// line per error report, Windows-1252, CRLF, appended and closed each time.

#include "platform/clock.h"

#include <string>

// Appends date-time + ": " + message, only while gErrorLog is 1. A line that
// cannot be written is lost without notice.
void WriteLog(const std::string& message);

// The name of the day's log file for a moment.
std::string LogFileName(const platform::LocalTime& when);
