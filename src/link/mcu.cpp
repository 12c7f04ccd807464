#include "link/mcu.h"

#include "link/message_log.h"
#include "link/protocol.h"
#include "persist/convert.h"
#include "shell/main_window.h"

void cmdInit_Click() {
  const Steps step("[btnInit_Click] Error (");
  TrimMessageLog(step);
  step([] { AppendMessageLog(" MCU -> Initialize"); });
  step([] { Main().MSComm->setOutput(kInitCommand); });
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
}

void ApplySerialSettings(const Steps& step, int16_t rThreshold, int16_t sThreshold) {
  platform::SerialControl& comm = *Main().MSComm;
  step([&] { comm.setCommPort(CInt(g.gCommPort)); });
  step([&] { comm.setHandshaking(CLng(g.gFlowControl)); });
  step([&] {
    comm.setSettings(g.gCommSpeed + ',' + g.gParity + ',' + g.gDataBits +
                     ',' + g.gStopBits);
  });
  step([&] { comm.setInputLen(0); });
  step([&] { comm.setRThreshold(rThreshold); });
  step([&] { comm.setSThreshold(sThreshold); });
  step([&] { comm.setRTSEnable(g.gFlowControl == "2"); });
  step([&] { comm.setPortOpen(true); });
}
