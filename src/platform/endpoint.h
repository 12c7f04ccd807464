#pragma once
// The local endpoint through which the window that owns a COM port carries
// commands from tarnwick-switch run by the same user on the same machine: a
// Unix-domain socket in a folder only the user can enter, whose peers are
// checked for the user's id (Linux); a named pipe of the user's session that
// refuses remote clients and other users (Windows). Never a network listener.
//
// One request per connection: the client writes one line (at most
// kMostRequestBytes, ended by "\n"), may later write "cancel\n", and reads the
// owner's answer lines until the owner closes. The backend bounds every
// client: one that sends no whole line within kRequestTimeout, or too many
// bytes, is answered with an error line and dropped; nothing a client does or
// fails to do makes the user-interface thread wait.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

inline constexpr size_t kMostRequestBytes = 256;
inline constexpr std::chrono::milliseconds kRequestTimeout{2000};

// A client with a request, on the user-interface thread.
class EndpointClient {
 public:
  virtual ~EndpointClient() = default;
  // Queues a line (a line end is added) to the client; never waits. A client
  // that stops reading is dropped once its queue passes a bound.
  virtual void reply(const std::string& line) = 0;
  // Sends what is queued, then closes the connection.
  virtual void finish() = 0;
  // False once the client has gone (closed, killed, dropped).
  virtual bool connected() const = 0;
  // Runs when the client writes "cancel" or goes away, whichever comes first
  // (once; not after finish()).
  std::function<void(bool cancelled)> onGone;
};

// Serving lasts as long as this object.
class EndpointServer {
 public:
  virtual ~EndpointServer() = default;
};

using RequestHandler = std::function<void(const std::string& request, std::shared_ptr<EndpointClient> client)>;

// Serves the endpoint `name` (endpointName()). onRequest runs on the
// user-interface thread with each whole request line (without its line end).
// An endpoint left by an owner that was killed is taken over; one that a
// running owner serves raises a Fault (faults::kPortBusy, naming that owner's
// process where the system tells it).
std::unique_ptr<EndpointServer> serveEndpoint(const std::string& name, RequestHandler onRequest);

// tarnwick-switch's end of a conversation.
class EndpointConnection {
 public:
  virtual ~EndpointConnection() = default;
  // Writes a line (a line end is added); false when the owner has gone.
  virtual bool send(const std::string& line) = 0;
  // The next line the owner wrote (without its line end); nothing once the
  // owner has closed, or at the deadline, or when interrupted() (console.h)
  // unless readThroughInterrupts() was called.
  virtual std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline) = 0;
  // True once the owner has closed the connection.
  virtual bool closed() const = 0;
  // After "cancel" has gone out: readLine no longer returns early for an
  // interrupt, so the owner's last lines (the pulse's off, the status) can
  // still be read, up to the deadline.
  void readThroughInterrupts() { readThroughInterrupts_ = true; }

 protected:
  bool readThroughInterrupts_ = false;
};

// Connects to the owner serving `name`; nullptr when none does (no endpoint,
// or one left by an owner that has ended).
std::unique_ptr<EndpointConnection> connectEndpoint(const std::string& name);

// The endpoint's name for COMn of this settings store: the same for the
// window and tarnwick-switch of one user and store, different for another
// port, store or user, whatever the length of the store's path.
std::string endpointName(int commPort);

}  // namespace platform
