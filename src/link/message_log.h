#pragma once
// The message log List1: at most 13 lines, newest at the bottom. Every writer
// trims first, then appends its one line.

#include "persist/errorreport.h"

#include <string>

inline constexpr int kMessageLogLines = 13;

// Removes the oldest line when the log is full. A count that cannot be read
// goes on with the removal. Steps are the caller's, so faults carry its tag.
void TrimMessageLog(const Steps& step);

// Appends timestamp + text as one line.
void AppendMessageLog(const std::string& text);

// The timestamp text that begins message-log lines.
std::string TimestampText();
