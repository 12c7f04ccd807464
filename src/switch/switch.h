#pragma once
// tarnwick-switch: one command to the board from a script or a scheduled task,
// over the line the window uses, with the line settings the window stored.

#include "link/request.h"
#include "persist/settings.h"
#include "platform/serial.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The one state record of the program.
struct SwitchState {
  SwitchRequest request;
  LineText line;
  std::unique_ptr<platform::SerialControl> comm;
  std::string partial;               // received text not yet ended by a line feed
  std::vector<std::string> answers;  // the board's answer lines so far, without CR LF
  int sent = 0;                      // commands handed to the line
};

extern SwitchState s;

// The usage text, one line per element.
std::vector<std::string> UsageLines();

// Configures the serial control for the line as the window does (the port is
// not opened); raises the first property the control refuses.
void SetUpLine(platform::SerialControl& comm, const LineText& line);

// Reads the line settings from the settings store, which it neither writes nor
// adds to.
LineText ReadLineSettings();

// The program: parses, opens the line, sends, waits, prints; the exit status.
int SwitchMain(int argc, char** argv);
