#include "link/message_log.h"

#include "platform/clock.h"
#include "forms/forms.h"

void TrimMessageLog(const Steps& step) {
  if (step.test([] { return Main().List1->listCount() == kMessageLogLines; }))
    step([] { Main().List1->removeItem(0); });
}

void AppendMessageLog(const std::string& text) { Main().List1->addItem(TimestampText() + text); }

void LogNotSent(const Steps& step, const std::string& line, const platform::Fault& fault) {
  TrimMessageLog(step);
  step([&] { AppendMessageLog(line + " not sent: " + fault.description); });
}

std::string TimestampText() { return platform::generalDate(platform::now()); }
