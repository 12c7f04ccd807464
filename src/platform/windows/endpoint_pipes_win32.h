#pragma once
// The Win32 endpoint's pipes and the I/O thread that runs them, between the
// server (endpoint_server_win32.cpp) and the window's clients.

#include <windows.h>

#include "platform/endpoint.h"
#include "platform/portable/endpoint_rules.h"
#include "platform/windows/endpoint_win32.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform::endpoint_win32 {

using Clock = std::chrono::steady_clock;

// Posted to the server's message-only window when events wait for it.
inline constexpr UINT kMsgEvents = WM_APP + 1;

// A new instance of the pipe at path; `first` refuses to join another's.
HANDLE createInstance(const std::wstring& path, PipeSecurity& security, bool first);

// This process's engines by name: those serving, and those stopped whose
// clients are still being answered. A stopped engine's instances keep the
// name (all of them connected, none listening), so a new server of this
// process adds its own to them instead of taking the name as the first.
struct NameUse {
  int serving = 0;
  int lingering = 0;
};
NameUse useOf(const std::wstring& path);

enum class Op { Connect, Read, Write };
// Refused: answered for breaking the rules, waiting for the answer to go out.
enum class Stage { Listening, AwaitingRequest, Served, Refused, Closing };

struct Instance;
struct Link;
class Engine;

// An operation's OVERLAPPED first, so a completion finds its operation.
struct Pending {
  OVERLAPPED overlapped{};
  Op op;
  Instance* instance;
};

// One pipe instance. Guarded by the engine's mutex.
struct Instance {
  explicit Instance(HANDLE h) : pipe(h) {}
  HANDLE pipe;
  Pending connecting{{}, Op::Connect, this};
  Pending reading{{}, Op::Read, this};
  Pending writing{{}, Op::Write, this};
  int inFlight = 0;
  bool writeInFlight = false;
  Stage stage = Stage::Listening;
  char buffer[512];
  endpoint_rules::RequestReader reader;
  std::string written;  // handed to WriteFile
  std::optional<Clock::time_point> deadline;
  std::shared_ptr<Link> link;
};

// One client as both threads see it.
struct Link {
  Link(std::shared_ptr<Engine> e, Instance* i) : engine(std::move(e)), instance(i) {}
  std::shared_ptr<Engine> engine;
  // Guarded by the engine's mutex.
  Instance* instance;  // until the instance goes
  std::string out;     // queued, not yet written
  bool finishAsked = false;
  bool dropAsked = false;
  // Set by either thread.
  std::atomic<bool> gone{false};
  // The user-interface thread's own.
  EndpointClient* client = nullptr;
  bool goneTold = false;
};

// What the I/O thread hands to the user-interface thread.
struct Event {
  std::shared_ptr<Link> link;
  bool request = false;  // else: the client cancelled or went away
  std::string text;
  bool cancelled = false;
};

// The pipe instances and the thread that runs them, shared by the server,
// that thread and the clients: a client handed to the window outlives the
// server, so the window can still answer it while it closes its port. The
// thread ends once the server has gone and its last client is done.
//
// The thread holds the mutex while it handles a completion (never while it
// waits); the user-interface thread takes it to queue a line and, when no
// write is in flight, to start one itself, so that what the window says
// before it exits is in the pipe already.
class Engine : public std::enable_shared_from_this<Engine> {
 public:
  Engine(std::wstring path, PipeSecurity& security, HANDLE port, HWND window);

  std::recursive_mutex mutex;

  // The server is going: no more events, and the name is gone when this
  // returns (a new server may take it at once); the clients served go on.
  void stop();

  // Wakes the thread to look at what the clients asked for.
  void wake();

  std::deque<Event> takeEvents();

  // Writes what is queued; closes once a finished client has had it all.
  // REQUIRES: mutex held.
  void pumpWrites(Instance& instance);

  // Listens on the first instance, before the thread runs: stop() must find it.
  void start(HANDLE first);

  void run();

 private:
  // Takes a new instance into the completion port and starts listening on it.
  void adopt(HANDLE pipe);

  // Keeps one instance listening while there is room.
  void keepListening();

  void completed(Pending& pending, DWORD bytes, DWORD error);

  void onConnected(Instance& instance);

  void startRead(Instance& instance);

  void received(Instance& instance, DWORD bytes);

  // Answers a client that broke the rules itself, and closes it.
  void refuse(Instance& instance, const std::string& why);

  void clientGone(Instance& instance);

  // Cancels what is in flight; the instance goes once its completions are in.
  // The pipe is closed, not disconnected, so a client still reads what was
  // written before it sees the end.
  void close(Instance& instance);

  void removeClosed();

  std::optional<Clock::time_point> nearestDeadline() const;

  void expireDeadlines();

  void post(Event event);

  const std::wstring path_;
  PipeSecurity& security_;  // kept alive by the thread
  const HANDLE port_;
  // Guarded by mutex.
  HWND window_;
  std::deque<Event> events_;
  bool eventsPosted_ = false;
  bool wakePosted_ = false;
  bool stopping_ = false;
  bool ended_ = false;
  std::list<Instance> instances_;
};

}  // namespace platform::endpoint_win32
