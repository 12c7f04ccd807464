#pragma once
// The common error report and the one mechanism that carries a trapped
// procedure through its steps.
//
//   const Steps step("[Form_Load] Error (");
//   step([] { ... });                 // a fault is reported and the next step runs
//   if (step.test([] { ... })) ...    // a test that faults counts as passed
//   if (auto fault = step.run([] { ... })) ...  // the fault, already reported

#include "platform/fault.h"

#include <optional>
#include <string>
#include <utility>

// The report of a fault: tag + number + ") - " + description + ", " + source.
std::string ErrorReportText(const char* tag, const platform::Fault& fault);

// Writes the report to the day's log file, with the log switch on for just
// that line (it is 0 afterwards).
void ReportError(const char* tag, const platform::Fault& fault);

class Steps {
 public:
  explicit Steps(const char* tag) : tag_(tag) {}

  template <typename Step>
  void operator()(Step&& step) const {
    (void)run(std::forward<Step>(step));
  }

  // Runs a step as above and hands back the fault it reported, for a caller
  // whose next steps depend on it; nothing when the step ran through.
  template <typename Step>
  std::optional<platform::Fault> run(Step&& step) const {
    try {
      step();
    } catch (const platform::Fault& fault) {
      ReportError(tag_, fault);
      return fault;
    }
    return std::nullopt;
  }

  // Runs a test; when it faults, the fault is reported and the guarded step
  // runs as if the test had passed.
  template <typename Test>
  bool test(Test&& check) const {
    bool passed = true;
    (*this)([&] { passed = check(); });
    return passed;
  }

 private:
  const char* tag_;
};
