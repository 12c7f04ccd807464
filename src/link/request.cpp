#include "link/request.h"

#include "forms/globals.h"
#include "link/protocol.h"

namespace {

// An hour: longer is a typing slip, not a pulse or a wait anyone means.
constexpr int kLongestMs = 3600000;

// Digits only, within lo..hi.
std::optional<int> WholeNumber(const std::string& text, int lo, int hi) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int value = std::stoi(text);
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct NumberOption {
  const char* name;  // "--wait"
  const char* what;  // "milliseconds"
  int lo, hi;
  int SwitchRequest::*field;
};
const NumberOption kOptions[] = {
    {"--wait", "milliseconds", 0, kLongestMs, &SwitchRequest::waitMs},
    {"--com", "COM port", 1, kHighestComPort, &SwitchRequest::comPort},
};

}  // namespace

std::optional<SwitchRequest> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                            bool& help) {
  SwitchRequest request;
  std::vector<std::string> words;
  help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      return std::nullopt;
    }
    const NumberOption* option = nullptr;
    for (const NumberOption& o : kOptions) {
      const std::string name = o.name;
      if (arg == name || arg.rfind(name + "=", 0) == 0) option = &o;
    }
    if (option) {
      const std::string name = option->name;
      std::string value;
      if (arg != name) value = arg.substr(name.size() + 1);
      else if (i + 1 < args.size()) value = args[++i];
      else {
        error = name + " needs a number" + (option->field == &SwitchRequest::waitMs ? " of milliseconds" : "");
        return std::nullopt;
      }
      const auto number = WholeNumber(value, option->lo, option->hi);
      if (!number) {
        error = name + " takes " + std::to_string(option->lo) + " to " + std::to_string(option->hi) +
                (option->field == &SwitchRequest::waitMs ? " milliseconds" : "") + ", not " + Quoted(value);
        return std::nullopt;
      }
      request.*(option->field) = *number;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + Quoted(arg);
      return std::nullopt;
    }
    words.push_back(arg);
  }
  if (words.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  if (words[0] == "init") {
    if (words.size() != 1) {
      error = "init takes nothing after it, not " + Quoted(words[1]);
      return std::nullopt;
    }
    request.action = SwitchAction::Init;
    return request;
  }
  const auto port = WholeNumber(words[0], 1, kPorts);
  if (!port) {
    error = "PORT must be 1 to " + std::to_string(kPorts) + ", not " + Quoted(words[0]);
    return std::nullopt;
  }
  request.port = *port;
  const std::string command = words.size() > 1 ? words[1] : "";
  const size_t expected = command == "pulse" ? 3 : 2;
  if (command == "on") request.action = SwitchAction::On;
  else if (command == "off") request.action = SwitchAction::Off;
  else if (command == "pulse") request.action = SwitchAction::Pulse;
  else {
    error = command.empty() ? "port " + words[0] + " needs on, off or pulse MS"
                            : "unknown command " + Quoted(command) + " (on, off, pulse MS or init)";
    return std::nullopt;
  }
  if (request.action == SwitchAction::Pulse) {
    const auto ms = words.size() > 2 ? WholeNumber(words[2], 1, kLongestMs) : std::nullopt;
    if (!ms) {
      error = "pulse takes 1 to " + std::to_string(kLongestMs) + " milliseconds" +
              (words.size() > 2 ? ", not " + Quoted(words[2]) : std::string());
      return std::nullopt;
    }
    request.pulseMs = *ms;
  }
  if (words.size() > expected) {
    error = "unexpected " + Quoted(words[expected]);
    return std::nullopt;
  }
  return request;
}

std::vector<std::string> CommandsFor(const SwitchRequest& request) {
  const int index = request.port - 1;
  switch (request.action) {
    case SwitchAction::On: return {SwitchCommand(index, true)};
    case SwitchAction::Off: return {SwitchCommand(index, false)};
    case SwitchAction::Pulse: return {SwitchCommand(index, true), SwitchCommand(index, false)};
    case SwitchAction::Init: break;
  }
  return {kInitCommand};
}

std::string RequestLine(const SwitchRequest& request) {
  std::string line;
  switch (request.action) {
    case SwitchAction::On: line = std::to_string(request.port) + " on"; break;
    case SwitchAction::Off: line = std::to_string(request.port) + " off"; break;
    case SwitchAction::Pulse:
      line = std::to_string(request.port) + " pulse " + std::to_string(request.pulseMs);
      break;
    case SwitchAction::Init: line = "init"; break;
  }
  return line + " --wait " + std::to_string(request.waitMs);
}

std::vector<std::string> RequestWords(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
    const size_t end = line.find_first_of(" \t", at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}
