#pragma once
// tarnwick-switch: one command to the board from a script or a scheduled task,
// over the line the window uses, with the line settings the window stored.

#include "persist/settings.h"
#include "platform/serial.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Exit statuses, for the scripts that call the program.
namespace switchstatus {
inline constexpr int kAnswered = 0;   // the board answered, or --wait 0 and the bytes went out
inline constexpr int kRefused = 1;    // the board answered "ERR"
inline constexpr int kUsage = 2;      // bad arguments: nothing was sent
inline constexpr int kNoLine = 3;     // the port could not be opened or set up, or the line was lost
inline constexpr int kNoAnswer = 4;   // no answer within the wait
}  // namespace switchstatus

enum class SwitchAction { On, Off, Pulse, Init };

struct SwitchRequest {
  SwitchAction action = SwitchAction::Init;
  int port = 0;        // 1 to 5; 0 for Init
  int pulseMs = 0;     // how long a pulse holds the port on
  int waitMs = 1000;   // how long to wait for each answer; 0: do not wait
};

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

// The request the arguments make, or nullopt with error set to what is wrong.
// help is set for --help (and nullopt returned).
std::optional<SwitchRequest> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                            bool& help);

// The usage text, one line per element.
std::vector<std::string> UsageLines();

// The commands the request sends, in order.
std::vector<std::string> CommandsFor(const SwitchRequest& request);

// Configures the serial control for the line as the window does (the port is
// not opened); raises the first property the control refuses.
void SetUpLine(platform::SerialControl& comm, const LineText& line);

// Reads the line settings from the settings store, which it neither writes nor
// adds to.
LineText ReadLineSettings();

// The program: parses, opens the line, sends, waits, prints; the exit status.
int SwitchMain(int argc, char** argv);
