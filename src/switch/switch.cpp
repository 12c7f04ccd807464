#include "switch/switch.h"

#include "forms/globals.h"
#include "link/mcu.h"
#include "link/protocol.h"
#include "persist/convert.h"
#include "persist/errorreport.h"
#include "persist/regkeys.h"
#include "persist/settings.h"
#include "platform/console.h"
#include "platform/endpoint.h"
#include "platform/fault.h"

#include <chrono>
#include <thread>
#include <utility>

SwitchState s;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kLocalMachine = 0x80000002u;
const std::string kProgram = "tarnwick-switch";

// A fault in the words of the window's log file.
void ReportFault(const char* tag, const platform::Fault& fault) { platform::writeErr(ErrorReportText(tag, fault)); }

// An answer line: printed at once, kept for the exit status. A bare line end
// is no answer.
void TakeAnswer(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return;
  platform::writeOut(line);
  s.answers.push_back(std::move(line));
}

void OnComm() {
  try {
    if (s.comm->commEvent() != platform::comEvReceive) return;
    s.partial += s.comm->input();
  } catch (const platform::Fault& fault) {
    ReportFault("[OnComm] Error (", fault);
    return;
  }
  for (size_t end = s.partial.find('\n'); end != std::string::npos; end = s.partial.find('\n')) {
    std::string line = s.partial.substr(0, end);
    s.partial.erase(0, end + 1);
    TakeAnswer(std::move(line));
  }
}

bool Refused() {
  for (const std::string& answer : s.answers)
    if (answer == "ERR") return true;
  return false;
}

bool AllAnswered() { return s.answers.size() >= static_cast<size_t>(s.sent); }

// Configures the serial control as the window does and opens the port; a
// setting the control refuses stops here, so nothing goes out at a wrong speed.
bool OpenLine() {
  try {
    s.comm = platform::makeSerialControl();
    SetUpLine(*s.comm, s.line);
    s.comm->onComm = OnComm;
    s.comm->setPortOpen(true);
  } catch (const platform::Fault& fault) {
    ReportFault("[OpenLine] Error (", fault);
    return false;
  }
  return true;
}

bool Send(const std::string& command) {
  try {
    s.comm->setOutput(command);
  } catch (const platform::Fault& fault) {
    ReportFault("[Send] Error (", fault);
    return false;
  }
  ++s.sent;
  return true;
}

// Gives the last command the time to leave the line (three characters of up
// to 12 bits) before the port closes, when no answer shows it arrived.
void LetLineDrain() {
  int32_t speed = 9600;
  try {
    speed = CLng(s.line.speed);
  } catch (const platform::Fault&) {
  }
  if (speed <= 0) speed = 9600;
  std::this_thread::sleep_for(milliseconds(36 * 1000 / speed + 2));
}

// Waits for every command's answer, or only lets the bytes leave with --wait 0
// or after an interrupt.
void AwaitAnswers(Clock::time_point from) {
  if (s.request.waitMs > 0 && !platform::interrupted())
    platform::waitEvents(from + milliseconds(s.request.waitMs), AllAnswered);
  if (!AllAnswered()) LetLineDrain();
}

int Outcome() {
  // Text without a line end at the end of the wait is an answer all the same.
  if (!s.partial.empty()) TakeAnswer(std::exchange(s.partial, std::string()));
  if (Refused()) return switchstatus::kRefused;
  if (platform::interrupted()) return platform::interruptStatus();
  if (s.request.waitMs == 0 || AllAnswered()) return switchstatus::kAnswered;
  platform::writeErr(kProgram + ": no answer from the board on COM" + s.line.commPort + " within " +
                     std::to_string(s.request.waitMs) + " ms");
  return switchstatus::kNoAnswer;
}

int SendOne(const std::string& command) {
  if (!Send(command)) return switchstatus::kNoLine;
  AwaitAnswers(Clock::now());
  return Outcome();
}

// On, the pulse's length, off. The off command goes out whatever ended the
// wait: the time, an interrupt, or the board refusing the on command (then at
// once: the port was not switched on). A stop (Ctrl+Z) waits for the off, or
// the port would stay on for as long as the process stays stopped.
int Pulse(const std::string& on, const std::string& off) {
  bool offSent = false;
  {
    const platform::StopsHeld stops;
    if (!Send(on)) return switchstatus::kNoLine;
    platform::waitEvents(Clock::now() + milliseconds(s.request.pulseMs), Refused);
    offSent = Send(off);
  }
  if (!offSent) {
    platform::writeErr(kProgram + ": port " + std::to_string(s.request.port) + " may still be on: " + off +
                       " could not be sent");
    return switchstatus::kNoLine;
  }
  if (platform::interrupted())
    platform::writeErr(kProgram + ": interrupted; port " + std::to_string(s.request.port) + " switched off (" +
                       off + " sent)");
  AwaitAnswers(Clock::now());
  return Outcome();
}

// After an interrupt: how long the window may take to send the pulse's off
// and say so, before we give up listening (the off goes out all the same).
constexpr milliseconds kCancelGrace{1000};
// Beyond the request's own times: a window busy with a dialog or a redraw.
constexpr milliseconds kOwnerSlack{10000};

// The request through the window that holds the line: its answer lines to
// standard output, its messages to standard error, its status as ours. The
// window times a pulse, so an interrupt only asks it to end the pulse now.
int AskOwner(platform::EndpointConnection& owner, const std::string& port) {
  const std::string noStatus = kProgram + ": the window serving COM" + port +
                               " ended the request without a status; the port's state is not known";
  if (!owner.send(RequestLine(s.request))) {
    platform::writeErr(noStatus);
    return switchstatus::kNoLine;
  }
  const milliseconds expected(s.request.pulseMs + s.request.waitMs * 2);
  Clock::time_point deadline = Clock::now() + expected + kOwnerSlack;
  bool cancelled = false;
  std::optional<int> status;
  while (!status && !owner.closed() && Clock::now() < deadline) {
    if (platform::interrupted() && !cancelled) {
      cancelled = true;
      owner.send("cancel");
      owner.readThroughInterrupts();
      deadline = std::min(deadline, Clock::now() + kCancelGrace);
    }
    const std::optional<std::string> line = owner.readLine(deadline);
    if (!line) {
      // Nothing yet: an interrupt cut the read short, or the owner closed.
      if (cancelled) std::this_thread::sleep_for(milliseconds(10));
      continue;
    }
    const size_t space = line->find(' ');
    const std::string kind = line->substr(0, space);
    const std::string text = space == std::string::npos ? std::string() : line->substr(space + 1);
    if (kind == "answer") platform::writeOut(text);
    else if (kind == "error") platform::writeErr(text);
    else if (kind == "status" && !text.empty() && text.size() < 4 &&
             text.find_first_not_of("0123456789") == std::string::npos)
      status = std::stoi(text);
  }
  if (!status && cancelled) {
    // The window ends a cancelled pulse at once; we only missed its word.
    platform::writeErr(kProgram + ": interrupted; asked the window serving COM" + port + " to end the request");
    return platform::interruptStatus();
  }
  if (!status) {
    platform::writeErr(noStatus);
    return switchstatus::kNoLine;
  }
  // The window cannot know which signal ended us: a refusal or a lost line
  // says more than the interrupt, anything else is the interrupt's status.
  if (cancelled && *status != switchstatus::kRefused && *status != switchstatus::kNoLine)
    return platform::interruptStatus();
  return *status;
}

void CloseLine() {
  try {
    if (s.comm && s.comm->portOpen()) {
      s.comm->input();  // drop what waits unread
      s.comm->setPortOpen(false);
    }
  } catch (const platform::Fault& fault) {
    ReportFault("[CloseLine] Error (", fault);
  }
  s.comm.reset();
}

}  // namespace

std::vector<std::string> UsageLines() {
  return {
      "usage: tarnwick-switch [--wait MS] [--com N] PORT on|off",
      "       tarnwick-switch [--wait MS] [--com N] PORT pulse MS",
      "       tarnwick-switch [--wait MS] [--com N] init",
      "Switches port PORT (1-5) of the board on the line the window uses, with the",
      "window's stored line settings; pulse: on, MS milliseconds, off; init: P90.",
      "When a window holds the COM port, the command goes through that window.",
      "  --wait MS  how long to wait for the board's answer (default 1000; 0: do not wait)",
      "  --com N    the board on COM port N instead of the stored one",
      "Prints the board's answer lines. Exit status: 0 answered (or sent, with --wait 0),",
      "1 the board answered ERR, 2 bad arguments, 3 the port could not be opened or set up,",
      "4 no answer within the wait; 128 + signal (130 on Windows) when interrupted.",
  };
}

void SetUpLine(platform::SerialControl& comm, const LineText& line) {
  // Every byte raises the receive event, so an answer without a line end is
  // seen too; the first property refused ends the set-up.
  ConfigureLine(comm, line, 1, 0, [](const auto& property) { property(); });
}

LineText ReadLineSettings() {
  LineText line;
  for (const Setting* setting : kLineSettings) {
    std::string path = SettingsKeyPath();
    std::string key = setting->name;
    // Read only: a missing value is the window's default, and stays missing.
    const std::string stored = GetKeyValue(kLocalMachine, path, key);
    if (!stored.empty()) line[setting] = stored;
  }
  return line;
}

int SwitchMain(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  bool help = false;
  const auto request = ParseArguments(args, error, help);
  if (help) {
    for (const std::string& line : UsageLines()) platform::writeOut(line);
    return switchstatus::kAnswered;
  }
  if (!request) {
    platform::writeErr(kProgram + ": " + error + " (tarnwick-switch --help shows the usage)");
    return switchstatus::kUsage;
  }
  s.request = *request;
  s.line = ReadLineSettings();
  if (s.request.comPort != 0) s.line.commPort = std::to_string(s.request.comPort);
  if (platform::interrupted()) return platform::interruptStatus();
  // A window that holds the port carries the command; without one, the line is ours.
  std::unique_ptr<platform::EndpointConnection> owner;
  try {
    owner = platform::connectEndpoint(platform::endpointName(CInt(s.line.commPort)));
  } catch (const platform::Fault&) {
    // A port number the store cannot give is reported by the line's set-up below.
  }
  if (owner) return AskOwner(*owner, s.line.commPort);
  if (!OpenLine()) {
    s.comm.reset();
    return switchstatus::kNoLine;
  }
  const std::vector<std::string> commands = CommandsFor(s.request);
  const int status = commands.size() == 2 ? Pulse(commands[0], commands[1]) : SendOne(commands[0]);
  CloseLine();
  return status;
}
