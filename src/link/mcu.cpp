#include "link/mcu.h"

#include "link/message_log.h"
#include "link/protocol.h"
#include "link/remote.h"
#include "forms/forms.h"

void cmdInit_Click() {
  const Steps step("[btnInit_Click] Error (");
  (void)InitializeMcu(step);
}

std::optional<platform::Fault> InitializeMcu(const Steps& step) {
  TrimMessageLog(step);
  const std::string line = " MCU -> Initialize";
  step([&] { AppendMessageLog(line); });
  const auto fault = step.run([] { Main().MSComm->setOutput(kInitCommand); });
  if (fault) LogNotSent(step, line, *fault);
  return fault;
}

void MSComm_OnComm() {
  // A device unplugged between the event and the read must not end the program.
  const Steps step("[MSComm_OnComm] Error (");
  int16_t event = 0;
  step([&] { event = Main().MSComm->commEvent(); });
  if (event == platform::comEvReceive) step([] { HandleInput(Main().MSComm->input()); });
}

void HandleInput(const std::string& text) {
  const Steps step("[HandleInput] Error (");
  TrimMessageLog(step);
  step([&] { AppendMessageLog(" Received: ----> OK - " + text); });
  // A script waiting through the window gets the board's answer as well.
  TakeRemoteInput(text);
}

void ApplySerialSettings(const Steps& step, int16_t rThreshold, int16_t sThreshold) {
  platform::SerialControl& comm = *Main().MSComm;
  ConfigureLine(comm, LineOf(g), rThreshold, sThreshold, step);
  step([&] { comm.setPortOpen(true); });
}
