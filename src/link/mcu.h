#pragma once
// "Initialize MCU" and the receive path: text from the board goes, unchanged,
// into the message log, one line per receive event.

#include "persist/convert.h"
#include "persist/errorreport.h"
#include "persist/settings.h"
#include "platform/serial.h"

#include <cstdint>
#include <optional>
#include <string>

void cmdInit_Click();
// Initialize MCU's steps in the caller's procedure: the log line, then "P90".
// The fault, already reported, when the command could not be sent.
std::optional<platform::Fault> InitializeMcu(const Steps& step);
void MSComm_OnComm();
void HandleInput(const std::string& text);

// Configures the serial control from the settings and opens the port, each
// property its own step of the caller's procedure.
void ApplySerialSettings(const Steps& step, int16_t rThreshold, int16_t sThreshold);

// The serial control's properties for a line, in the window's order; the port
// is not opened. `step` runs each one: the window's Steps report a fault and
// go on, tarnwick-switch lets the first fault end its set-up.
template <typename Step>
void ConfigureLine(platform::SerialControl& comm, const LineText& line, int16_t rThreshold, int16_t sThreshold,
                   const Step& step) {
  step([&] { comm.setCommPort(CInt(line.commPort)); });
  step([&] { comm.setHandshaking(CLng(line.flowControl)); });
  step([&] { comm.setSettings(line.settingsText()); });
  step([&] { comm.setInputLen(0); });
  step([&] { comm.setRThreshold(rThreshold); });
  step([&] { comm.setSThreshold(sThreshold); });
  step([&] { comm.setRTSEnable(line.flowControl == "2"); });
}
