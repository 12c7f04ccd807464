#pragma once
// "Initialize MCU" and the receive path: text from the board goes, unchanged,
// into the message log, one line per receive event.

#include "persist/errorreport.h"

#include <string>
#include <cstdint>

void cmdInit_Click();
void MSComm_OnComm();
void HandleInput(const std::string& text);

// Configures the serial control from the settings and opens the port, each
// property its own step of the caller's procedure.
void ApplySerialSettings(const Steps& step, int16_t rThreshold, int16_t sThreshold);
