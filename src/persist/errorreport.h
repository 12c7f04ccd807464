#pragma once
// The common error report and the one mechanism that carries a trapped
// procedure through its steps.
//
//   const Steps step("[Form_Load] Error (");
//   step([] { ... });                 // a fault is reported and the next step runs
//   if (step.test([] { ... })) ...    // a test that faults counts as passed

#include "platform/fault.h"

// Writes tag + number + ") - " + description + ", " + source to the day's log
// file, with the log switch on for just that line (it is 0 afterwards).
void ReportError(const char* tag, const platform::Fault& fault);

class Steps {
 public:
  explicit Steps(const char* tag) : tag_(tag) {}

  template <typename Step>
  void operator()(Step&& step) const {
    try {
      step();
    } catch (const platform::Fault& fault) {
      ReportError(tag_, fault);
    }
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
