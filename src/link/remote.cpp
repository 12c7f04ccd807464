#include "link/remote.h"

#include "forms/forms.h"
#include "link/mcu.h"
#include "link/message_log.h"
#include "link/ports.h"
#include "link/protocol.h"
#include "link/request.h"
#include "platform/endpoint.h"
#include "platform/timer.h"

#include <chrono>
#include <list>
#include <memory>
#include <utility>
#include <vector>

namespace {

using std::chrono::milliseconds;

const char* const kRequestTag = "[RemoteRequest] Error (";
// Received text that never ends its line is not kept without bound.
constexpr size_t kMostPartial = 1024;

struct PendingRequest {
  int id = 0;
  SwitchRequest request;
  std::shared_ptr<platform::EndpointClient> client;  // null once the script has gone
  int sent = 0;           // commands handed to the line
  int answered = 0;       // answer lines taken
  bool refused = false;   // an answer was "ERR"
  bool offDue = false;    // a pulse whose off has not gone out
  std::unique_ptr<platform::Timer> pulseTimer, waitTimer;
};

struct RemoteState {
  std::unique_ptr<platform::EndpointServer> server;
  int comPort = 0;                    // the port served: the one the control holds open
  std::list<PendingRequest> pending;  // oldest first: the board answers in order
  std::string partial;                // received text not yet ended by CR or LF
  int nextId = 1;
  // Ended requests' timers and clients, kept until no call of theirs can be
  // running (a timer's own callback may end its request).
  std::vector<std::unique_ptr<platform::Timer>> retiredTimers;
  std::vector<std::shared_ptr<platform::EndpointClient>> retiredClients;
};

RemoteState r;

PendingRequest* Find(int id) {
  for (PendingRequest& p : r.pending)
    if (p.id == id) return &p;
  return nullptr;
}

void Reply(const PendingRequest& p, const std::string& line) {
  if (p.client && p.client->connected()) p.client->reply(line);
}

std::string PortText(const PendingRequest& p) { return "port " + std::to_string(p.request.port); }

void Finish(PendingRequest& p, int status) {
  Reply(p, "status " + std::to_string(status));
  if (p.client) {
    p.client->finish();
    r.retiredClients.push_back(std::move(p.client));
  }
  r.retiredTimers.push_back(std::move(p.pulseTimer));
  r.retiredTimers.push_back(std::move(p.waitTimer));
  r.pending.remove_if([id = p.id](const PendingRequest& q) { return q.id == id; });
}

// The status as tarnwick-switch gives it once its wait is over.
int Outcome(const PendingRequest& p) {
  if (p.refused) return switchstatus::kRefused;
  if (p.request.waitMs == 0 || p.answered >= p.sent) return switchstatus::kAnswered;
  Reply(p, "error tarnwick-switch: no answer from the board on COM" + std::to_string(r.comPort) + " within " +
               std::to_string(p.request.waitMs) + " ms");
  return switchstatus::kNoAnswer;
}

void WaitOver(int id) {
  PendingRequest* p = Find(id);
  if (!p) return;
  // Text without a line end at the end of the wait is an answer all the same.
  if (!r.partial.empty() && p == &r.pending.front() && p->answered < p->sent) {
    ++p->answered;
    Reply(*p, "answer " + std::exchange(r.partial, std::string()));
  }
  Finish(*p, Outcome(*p));
}

// Every command is out: the status now, or once the answers are in or the
// request's wait has run out.
void AwaitAnswers(PendingRequest& p) {
  if (p.request.waitMs == 0 || p.answered >= p.sent || p.refused) {
    Finish(p, Outcome(p));
    return;
  }
  const int id = p.id;
  const Steps step(kRequestTag);
  if (step.run([&] { p.waitTimer = platform::startTimer(milliseconds(p.request.waitMs), [id] { WaitOver(id); }); }))
    Finish(p, Outcome(p));
}

// The pulse's off, as a press's release sends it. `why` (when not empty) tells
// the script why the pulse ended early. False when the request has ended.
bool EndPulse(PendingRequest& p, const std::string& why) {
  if (!p.offDue) return true;
  p.offDue = false;
  r.retiredTimers.push_back(std::move(p.pulseTimer));
  const Steps step(kRequestTag);
  TrimMessageLog(step);
  const std::string off = SwitchCommand(p.request.port - 1, false);
  if (const auto fault = SwitchPort(step, p.request.port - 1, false)) {
    Reply(p, "error " + ErrorReportText(kRequestTag, *fault));
    Reply(p, "error tarnwick-switch: " + PortText(p) + " may still be on: " + off + " could not be sent");
    Finish(p, switchstatus::kNoLine);
    return false;
  }
  ++p.sent;
  if (!why.empty()) Reply(p, "error tarnwick-switch: " + why + "; " + PortText(p) + " switched off (" + off + " sent)");
  return true;
}

void PulseDue(int id) {
  PendingRequest* p = Find(id);
  if (p && EndPulse(*p, "")) AwaitAnswers(*p);
}

// "cancel" from the script (it was interrupted): a pulse ends now, and the
// script hears at once. A script that went away without one leaves its pulse
// to end at its time.
void ClientGone(int id, bool cancelled) {
  PendingRequest* p = Find(id);
  if (!p) return;
  if (!cancelled) {
    r.retiredClients.push_back(std::move(p->client));
    return;
  }
  if (!EndPulse(*p, "interrupted")) return;
  Finish(*p, p->refused ? switchstatus::kRefused : switchstatus::kAnswered);
}

// The command goes out with the steps of a press (or Initialize MCU).
void Start(PendingRequest& p) {
  const Steps step(kRequestTag);
  std::optional<platform::Fault> fault;
  if (p.request.action == SwitchAction::Init) {
    fault = InitializeMcu(step);
  } else {
    TrimMessageLog(step);
    fault = SwitchPort(step, p.request.port - 1, p.request.action != SwitchAction::Off);
  }
  if (fault) {
    Reply(p, "error " + ErrorReportText(kRequestTag, *fault));
    Finish(p, switchstatus::kNoLine);
    return;
  }
  ++p.sent;
  if (p.request.action != SwitchAction::Pulse) {
    AwaitAnswers(p);
    return;
  }
  p.offDue = true;
  const int id = p.id;
  if (step.run([&] { p.pulseTimer = platform::startTimer(milliseconds(p.request.pulseMs), [id] { PulseDue(id); }); })) {
    // Without a timer the port would stay on: end the pulse at once.
    if (EndPulse(p, "the pulse could not be timed")) AwaitAnswers(p);
  }
}

void OnRequest(const std::string& line, std::shared_ptr<platform::EndpointClient> client) {
  r.retiredTimers.clear();
  r.retiredClients.clear();
  std::string error;
  bool help = false;
  std::optional<SwitchRequest> request = ParseArguments(RequestWords(line), error, help);
  if (help) error = "--help is not a request";
  if (request && request->comPort != 0) {
    error = "--com picks the window; a request to the window takes none";
    request.reset();
  }
  if (!request) {
    client->reply("error tarnwick-switch: " + error);
    client->reply("status " + std::to_string(switchstatus::kUsage));
    client->finish();
    return;
  }
  PendingRequest& p = r.pending.emplace_back();
  p.id = r.nextId++;
  p.request = *request;
  p.client = std::move(client);
  p.client->onGone = [id = p.id](bool cancelled) { ClientGone(id, cancelled); };
  Start(p);
}

void GiveAnswer(const std::string& line) {
  for (PendingRequest& p : r.pending) {
    if (p.answered >= p.sent) continue;
    ++p.answered;
    Reply(p, "answer " + line);
    if (line == "ERR") {
      p.refused = true;
      // The port was not switched on: the pulse's off goes out at once.
      if (p.offDue && !EndPulse(p, "")) return;
    }
    if (!p.offDue && (p.answered >= p.sent || p.refused)) Finish(p, Outcome(p));
    return;
  }
}

}  // namespace

void ServeLine() {
  const Steps step("[ServeLine] Error (");
  r.server.reset();
  bool open = false;
  step([&] { open = Main().MSComm->portOpen(); });
  if (!open) return;  // the port is someone else's, or not there: tarnwick-switch finds out itself
  // The port the control holds, which a setting it refused has not changed.
  step([] { r.comPort = Main().MSComm->commPort(); });
  step([] { r.server = platform::serveEndpoint(platform::endpointName(r.comPort), OnRequest); });
}

void StopServing(const Steps& step) {
  step([] { r.server.reset(); });
  std::vector<int> ids;
  for (const PendingRequest& p : r.pending) ids.push_back(p.id);
  const std::string com = "COM" + std::to_string(r.comPort);
  for (const int id : ids) {
    PendingRequest* p = Find(id);
    if (!p || !EndPulse(*p, "the window on " + com + " is closing its port")) continue;
    if (p->refused) Finish(*p, switchstatus::kRefused);
    else if (p->request.waitMs == 0 || p->answered >= p->sent) Finish(*p, switchstatus::kAnswered);
    else {
      Reply(*p, "error tarnwick-switch: the window on " + com + " closed its port before the board answered");
      Finish(*p, switchstatus::kNoAnswer);
    }
  }
  r.partial.clear();
  // Called from a click, never from a request's own callbacks.
  r.retiredTimers.clear();
  r.retiredClients.clear();
}

void TakeRemoteInput(const std::string& text) {
  r.partial += text;
  // The board ends a line with CR LF; either ends it here, so a line end that
  // arrives after the rest (below the receive threshold) holds nothing up.
  for (size_t end = r.partial.find_first_of("\r\n"); end != std::string::npos;
       end = r.partial.find_first_of("\r\n")) {
    std::string line = r.partial.substr(0, end);
    r.partial.erase(0, end + 1);
    if (!line.empty()) GiveAnswer(line);
  }
  if (r.partial.size() > kMostPartial) r.partial.erase(0, r.partial.size() - kMostPartial);
}
