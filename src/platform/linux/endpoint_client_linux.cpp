// tarnwick-switch's end of the Linux endpoint: a connect to the owner's
// socket, checked for the user's id, and plain poll() with a deadline.

#include "platform/console.h"
#include "platform/endpoint.h"
#include "platform/linux/endpoint_linux.h"
#include "platform/portable/endpoint_rules.h"

#include <poll.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace platform {

namespace {

using endpoint_linux::Fd;

// How long tarnwick-switch tries an owner whose queue of connections is full.
constexpr std::chrono::milliseconds kConnectPatience{1000};
// The longest a client's poll sleeps before looking at interrupted() again:
// a signal that lands just before poll() would otherwise wait out the deadline.
constexpr int kPollSliceMs = 50;

class UnixConnection final : public EndpointConnection {
 public:
  explicit UnixConnection(int fd) : fd_(fd) {}

  bool send(const std::string& line) override {
    const std::string text = line + "\n";
    size_t sent = 0;
    const auto giveUp = std::chrono::steady_clock::now() + kConnectPatience;
    while (sent < text.size()) {
      const ssize_t n = ::send(fd_.fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && std::chrono::steady_clock::now() < giveUp) {
        pollfd p{fd_.fd, POLLOUT, 0};
        ::poll(&p, 1, kPollSliceMs);
        continue;
      }
      return false;
    }
    return true;
  }

  std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline) override {
    for (;;) {
      if (auto line = lines_.next()) return line;
      if (closed_) return lines_.rest();
      if (interrupted() && !readThroughInterrupts_) return std::nullopt;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const int wait = static_cast<int>(std::clamp<long long>(left.count(), 0, kPollSliceMs));
      pollfd p{fd_.fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;  // a signal: interrupted() tells whether to stop
        closed_ = true;
        continue;
      }
      if (ready == 0) {
        if (left.count() <= 0) return std::nullopt;
        continue;
      }
      char buffer[4096];
      const ssize_t n = ::recv(fd_.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        lines_.take(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        closed_ = true;  // ended, or reset by an owner that went away
      }
    }
  }

  bool closed() const override { return closed_ && lines_.empty(); }

 private:
  Fd fd_;
  endpoint_rules::LineSplitter lines_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<EndpointConnection> connectEndpoint(const std::string& name) {
  const auto giveUp = std::chrono::steady_clock::now() + kConnectPatience;
  for (;;) {
    Fd fd(endpoint_linux::connectTo(name));
    if (fd.fd >= 0) {
      // Only an owner of this user's is spoken to.
      const auto cred = endpoint_linux::peerOf(fd.fd);
      if (!cred || cred->uid != ::geteuid()) return nullptr;
      return std::make_unique<UnixConnection>(fd.release());
    }
    // EAGAIN: the owner's queue of new connections is full (a window that
    // hangs); anything else: no owner.
    if (errno != EAGAIN || interrupted() || std::chrono::steady_clock::now() >= giveUp) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds{20});
  }
}

}  // namespace platform
