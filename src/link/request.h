#pragma once
// One command for the board from a script, as tarnwick-switch's arguments say
// it and as the window that owns the line takes it over its endpoint: the same
// words, the same checks, the same commands and exit statuses on both paths.

#include <optional>
#include <string>
#include <vector>

// Exit statuses, for the scripts that call tarnwick-switch; the window's reply
// ends with the one tarnwick-switch then returns.
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
  int comPort = 0;     // --com: the COM port for this command; 0: the stored one
};

// The highest COM port --com takes (Windows numbers them up to 255).
inline constexpr int kHighestComPort = 255;

// The request the arguments make, or nullopt with error set to what is wrong.
// help is set for --help (and nullopt returned).
std::optional<SwitchRequest> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                            bool& help);

// The commands the request sends, in order.
std::vector<std::string> CommandsFor(const SwitchRequest& request);

// The request as one line of arguments for the window ("3 on --wait 1000",
// "2 pulse 500 --wait 1000", "init --wait 0"); never --com, which only picks
// the window. ParseArguments(RequestWords(line)) gives the request back.
std::string RequestLine(const SwitchRequest& request);

// A request line's words, split at spaces and tabs.
std::vector<std::string> RequestWords(const std::string& line);
