#include "persist/writelog.h"

#include "persist/errorreport.h"
#include "persist/store_state.h"
#include "platform/ansi.h"
#include "platform/files.h"

#include <cstdio>

std::string LogFileName(const platform::LocalTime& when) {
  char day[40];
  std::snprintf(day, sizeof day, "%04d%02d%02d", when.year, when.month, when.day);
  return std::string("TWK") + day + ".log";
}

void WriteLog(const std::string& message) {
  if (storeState().gErrorLog != 1) return;
  const std::string file = LogFileName(platform::now());
  // The stamp is taken after the name: just after midnight a line may carry the
  // new date in the old day's file.
  const std::string line = platform::generalDate(platform::now()) + ": " + message;
  platform::appendToFile(file, platform::toAnsi(line) + "\r\n");
}

std::string ErrorReportText(const char* tag, const platform::Fault& fault) {
  return tag + std::to_string(fault.number) + ") - " + fault.description + ", " + fault.source;
}

void ReportError(const char* tag, const platform::Fault& fault) {
  const std::string message = ErrorReportText(tag, fault);
  storeState().gErrorLog = 1;
  WriteLog(message);
  storeState().gErrorLog = 0;
}
