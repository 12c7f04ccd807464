// The window's side of the Linux endpoint: a Unix-domain stream socket in a
// folder of the user's own, every peer checked for the user's id, run on
// QSocketNotifiers and QTimers, never blocking. A lock file beside the
// socket, held for the server's life, tells a running owner from one that was
// killed, so two windows starting at once cannot both take the socket over.

#include "platform/endpoint.h"

#include "platform/console.h"
#include "platform/fault.h"
#include "platform/linux/endpoint_linux.h"
#include "platform/portable/endpoint_rules.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

using endpoint_linux::Fd;
using endpoint_linux::fill;
using endpoint_linux::folderOf;
using endpoint_linux::isPrivateFolder;
using endpoint_linux::portOf;
using endpoint_linux::shortFolder;
using endpoint_linux::connectTo;
using endpoint_linux::peerOf;
using endpoint_rules::RequestReader;

// How long finish() goes on trying to hand the last lines to a slow reader.
constexpr std::chrono::milliseconds kFlushTimeout{2000};
// Connections still owing their request; more are refused at once.
constexpr size_t kMostWaiting = 64;

std::string systemText(int error) { return std::strerror(error); }

std::string processName(pid_t pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return "?";
  return comm.readAll().trimmed().toStdString();
}

// Objects of a connection are deleted from the event loop: a connection may
// end inside one of their own signals. A notifier stops watching at once, as
// its descriptor is about to be closed and its number given to someone else.
void dispose(QSocketNotifier* notifier) {
  if (!notifier) return;
  notifier->setEnabled(false);
  notifier->disconnect();
  notifier->deleteLater();
}

void dispose(QTimer* timer) {
  if (!timer) return;
  timer->stop();
  timer->disconnect();
  timer->deleteLater();
}

class UnixServer;

// One client of the window: its request, then its answers.
class Connection final : public EndpointClient, public std::enable_shared_from_this<Connection> {
 public:
  Connection(int fd, UnixServer* server) : fd_(fd), server_(server) {}

  ~Connection() override {
    dispose(readable_);
    dispose(writable_);
    dispose(deadline_);
    if (fd_ >= 0) ::close(fd_);
  }

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void start() {
    // Kept alive by itself until its request is handed over (or it is dropped).
    self_ = shared_from_this();
    readable_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
    QObject::connect(readable_, &QSocketNotifier::activated, [this] {
      const auto keep = shared_from_this();
      onReadable();
    });
    writable_ = new QSocketNotifier(fd_, QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_, &QSocketNotifier::activated, [this] {
      const auto keep = shared_from_this();
      flush();
    });
    deadline_ = new QTimer;
    deadline_->setSingleShot(true);
    QObject::connect(deadline_, &QTimer::timeout, [this] {
      const auto keep = shared_from_this();
      if (state_ == State::Reading) {
        refuse(endpoint_rules::noRequestText());
      } else if (state_ == State::Finishing) {
        closeNow();
      }
    });
    deadline_->start(kRequestTimeout);
  }

  void reply(const std::string& line) override {
    if (state_ == State::Closed || state_ == State::Finishing || writeFailed_) return;
    out_ += line;
    out_ += '\n';
    if (out_.size() > endpoint_rules::kMostQueuedBytes) {
      lose();
      return;
    }
    flush();
  }

  void finish() override {
    if (state_ == State::Closed || state_ == State::Finishing) return;
    leaveServer();
    state_ = State::Finishing;
    onGone = nullptr;  // never after finish(); also frees what it holds
    self_ = shared_from_this();
    readable_->setEnabled(false);
    deadline_->start(kFlushTimeout);
    flush();
  }

  bool connected() const override { return state_ != State::Closed && !peerGone_ && !writeFailed_; }

  // The server is going away: a client still owing its request is dropped.
  void abandon() {
    server_ = nullptr;
    closeNow();
  }

 private:
  enum class State { Reading, Requested, Finishing, Closed };

  void leaveServer();

  void onReadable() {
    char buffer[4096];
    // A client that writes without end gets a share of the loop, not all of it.
    for (int turn = 0; turn < 16; ++turn) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        reader_.take(buffer, static_cast<size_t>(n));
        if (!takeLines() || state_ == State::Closed || state_ == State::Finishing) return;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      // The client closed its end or went away.
      readable_->setEnabled(false);
      if (state_ == State::Reading) {
        closeNow();  // mid-request: nothing to deliver
      } else {
        peerGone_ = true;
        gone(false);
      }
      return;
    }
  }

  // Acts on what the client's bytes say; false once the connection was refused.
  bool takeLines() {
    for (;;) {
      switch (reader_.next()) {
        case RequestReader::Heard::Nothing: return true;
        case RequestReader::Heard::TooLong: refuse(endpoint_rules::tooLongText()); return false;
        case RequestReader::Heard::Request: deliver(reader_.request()); break;
        case RequestReader::Heard::Cancel: gone(true); break;
      }
      if (state_ == State::Closed || state_ == State::Finishing) return true;
    }
  }

  void deliver(const std::string& request) {
    deadline_->stop();
    state_ = State::Requested;
    // From here on the handler's references keep the connection.
    RequestHandler handler = handlerOf();
    leaveServer();
    auto self = std::move(self_);
    if (!handler) {
      refuse("the window is closing");
      return;
    }
    try {
      handler(request, self);
    } catch (...) {
      // Nothing may cross the event loop; the client hears that its request failed.
      refuse("the request failed in the window");
    }
  }

  RequestHandler handlerOf() const;

  // Answers a request that cannot be taken; nothing reaches the handler.
  void refuse(const std::string& text) {
    for (const std::string& line : endpoint_rules::refusalLines(text)) reply(line);
    finish();
  }

  void flush() {
    while (!out_.empty() && fd_ >= 0) {
      const ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        out_.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        writable_->setEnabled(true);
        return;
      }
      lose();
      return;
    }
    if (writable_) writable_->setEnabled(false);
    if (state_ == State::Finishing) closeNow();
  }

  // The client cannot be written to (gone, or too slow a reader): its lines
  // are dropped and the connection shut, so the window hears of it from the
  // read side in the event loop, not inside the reply() that found out.
  void lose() {
    out_.clear();
    writeFailed_ = true;
    if (state_ != State::Requested) {
      closeNow();
      return;
    }
    ::shutdown(fd_, SHUT_RDWR);
  }

  void gone(bool cancelled) {
    if (state_ != State::Requested || goneReported_) return;
    goneReported_ = true;
    auto report = std::move(onGone);
    onGone = nullptr;
    if (report) report(cancelled);
  }

  void closeNow() {
    if (state_ == State::Closed) return;
    leaveServer();
    state_ = State::Closed;
    onGone = nullptr;
    deadline_->stop();
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    // Unread input would make the client's last reads fail (ECONNRESET)
    // instead of ending quietly; a flooding client is not read for long.
    char buffer[4096];
    for (int i = 0; i < 16 && ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(fd_);
    fd_ = -1;
    auto last = std::move(self_);  // may end this object once the caller lets go
  }

  int fd_;
  UnixServer* server_;  // while the request is owed
  State state_ = State::Reading;
  std::shared_ptr<Connection> self_;
  QSocketNotifier* readable_ = nullptr;
  QSocketNotifier* writable_ = nullptr;
  QTimer* deadline_ = nullptr;  // the request's, then the last lines'
  RequestReader reader_;
  std::string out_;
  bool peerGone_ = false;
  bool writeFailed_ = false;
  bool goneReported_ = false;
};

class UnixServer final : public EndpointServer {
 public:
  UnixServer(std::string path, RequestHandler onRequest) : path_(std::move(path)), onRequest_(std::move(onRequest)) {
    prepareFolder();
    takeLock();
    bindSocket();
    listener_ = new QSocketNotifier(fd_.fd, QSocketNotifier::Read);
    QObject::connect(listener_, &QSocketNotifier::activated, [this] { acceptAll(); });
  }

  ~UnixServer() override {
    dispose(listener_);
    onRequest_ = nullptr;
    for (const auto& weak : std::vector<std::weak_ptr<Connection>>(waiting_)) {
      if (auto connection = weak.lock()) connection->abandon();
    }
    // Only our own socket and lock file: a later owner's are left alone.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_ino == socketId_.st_ino && st.st_dev == socketId_.st_dev) {
      ::unlink(path_.c_str());
    }
    ::unlink(lockPath().c_str());  // still held: no one else is using it
  }

  UnixServer(const UnixServer&) = delete;
  UnixServer& operator=(const UnixServer&) = delete;

  const RequestHandler& handler() const { return onRequest_; }

  void forget(const Connection* connection) {
    std::erase_if(waiting_, [connection](const std::weak_ptr<Connection>& weak) {
      const auto held = weak.lock();
      return !held || held.get() == connection;
    });
  }

 private:
  std::string lockPath() const { return path_ + ".lock"; }

  [[noreturn]] void fail(int number, const std::string& what, int error) const {
    raise(number, what + " " + path_ + ": " + systemText(error));
  }

  // The socket's folder exists and belongs to this user; the short folder in
  // /tmp is made private here, and must not be someone else's or a link.
  void prepareFolder() const {
    const std::string folder = folderOf(path_);
    if (folder == shortFolder()) {
      if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        fail(faults::kAccessDenied, "Cannot create the folder for the endpoint", errno);
      if (!isPrivateFolder(folder)) {
        raise(faults::kAccessDenied,
              "The folder " + folder +
                  " is not private to this user (a link, another owner, or open to others); remove it");
      }
      return;
    }
    // Created on demand, each new level private.
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
      const std::string level = folder.substr(0, at);
      if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
        fail(faults::kAccessDenied, "Cannot create the folder for the endpoint", errno);
      }
      if (at == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) fail(faults::kAccessDenied, "Cannot use the folder for the endpoint", errno);
    if (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
      raise(faults::kAccessDenied, "The folder " + folder + " belongs to another user or is open to others' writing");
    }
  }

  // The lock is held for the server's life: free means any socket there is
  // a killed owner's.
  void takeLock() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      lock_.reset(::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (lock_.fd < 0) fail(faults::kAccessDenied, "Cannot create a lock file for the endpoint", errno);
      if (::flock(lock_.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) raiseBusy();
        fail(faults::kPortOpenFailed, "Cannot lock", errno);
      }
      // An owner ending meanwhile removes the file it held: the lock must be on
      // the file the path names now.
      struct stat held {};
      struct stat named {};
      if (::fstat(lock_.fd, &held) == 0 && ::stat(lockPath().c_str(), &named) == 0 && held.st_ino == named.st_ino &&
          held.st_dev == named.st_dev) {
        return;
      }
    }
    raiseBusy();
  }

  // A running owner holds the endpoint; its process is named when it answers.
  [[noreturn]] void raiseBusy() const {
    std::string owner = "another Tarnwick window";
    Fd probe(connectTo(path_));
    if (probe.fd >= 0) {
      if (const auto cred = peerOf(probe.fd)) {
        owner += ": process " + std::to_string(cred->pid) + " (" + processName(cred->pid) + ")";
      }
    }
    raise(faults::kPortBusy, "The port is in use: " + portOf(path_) + " is served by " + owner + ", endpoint " + path_);
  }

  void bindSocket() {
    sockaddr_un address;
    if (!fill(address, path_)) fail(faults::kPortOpenFailed, "Cannot serve", ENAMETOOLONG);
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd_.fd < 0) fail(faults::kPortOpenFailed, "Cannot serve", errno);
    const auto bindNow = [&] { return ::bind(fd_.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address); };
    if (bindNow() != 0) {
      if (errno != EADDRINUSE) fail(faults::kPortOpenFailed, "Cannot serve", errno);
      Fd probe(connectTo(path_));
      if (probe.fd >= 0) raiseBusy();
      // Refused: left by an owner that was killed.
      if (::unlink(path_.c_str()) != 0 && errno != ENOENT) fail(faults::kPortOpenFailed, "Cannot take over", errno);
      if (bindNow() != 0) fail(faults::kPortOpenFailed, "Cannot serve", errno);
    }
    // No connection is taken before listen(), so the mode is in place first.
    if (::chmod(path_.c_str(), 0600) != 0 || ::lstat(path_.c_str(), &socketId_) != 0) {
      const int error = errno;
      ::unlink(path_.c_str());
      fail(faults::kPortOpenFailed, "Cannot serve", error);
    }
    if (::listen(fd_.fd, SOMAXCONN) != 0) {
      const int error = errno;
      ::unlink(path_.c_str());
      fail(faults::kPortOpenFailed, "Cannot serve", error);
    }
  }

  void acceptAll() {
    for (;;) {
      const int client = ::accept4(fd_.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // The connection stays queued and the notifier would fire at once
          // again: look again a little later.
          listener_->setEnabled(false);
          QTimer::singleShot(100, listener_, [n = listener_] { n->setEnabled(true); });
        }
        return;
      }
      const auto cred = peerOf(client);
      forget(nullptr);
      if (!cred || cred->uid != ::geteuid() || waiting_.size() >= kMostWaiting) {
        ::close(client);
        continue;
      }
      auto connection = std::make_shared<Connection>(client, this);
      waiting_.push_back(connection);
      connection->start();
    }
  }

  std::string path_;
  RequestHandler onRequest_;
  Fd lock_;
  Fd fd_;
  struct stat socketId_ {};
  QSocketNotifier* listener_ = nullptr;
  std::vector<std::weak_ptr<Connection>> waiting_;
};

void Connection::leaveServer() {
  if (!server_) return;
  std::exchange(server_, nullptr)->forget(this);
}

RequestHandler Connection::handlerOf() const { return server_ ? server_->handler() : RequestHandler{}; }

}  // namespace

std::unique_ptr<EndpointServer> serveEndpoint(const std::string& name, RequestHandler onRequest) {
  return std::make_unique<UnixServer>(name, std::move(onRequest));
}

}  // namespace platform
