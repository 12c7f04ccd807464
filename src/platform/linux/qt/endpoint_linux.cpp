// The window's endpoint on Linux: a Unix-domain stream socket in a folder of
// the user's own, every peer checked for the user's id. The window's side
// runs on QSocketNotifiers and QTimers, never blocking; tarnwick-switch's side
// is plain poll(). A lock file beside the socket, held for the server's life,
// tells a running owner from one that was killed, so two windows starting at
// once cannot both take the socket over.

#include "platform/endpoint.h"

#include "platform/console.h"
#include "platform/fault.h"
#include "platform/linux/machine_linux.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

// sun_path holds 108 bytes with the terminating zero.
constexpr size_t kMostSocketPath = sizeof(sockaddr_un::sun_path) - 1;
// A client that stops reading is dropped beyond this much unsent text.
constexpr size_t kMostQueuedBytes = 64 * 1024;
// How long finish() goes on trying to hand the last lines to a slow reader.
constexpr std::chrono::milliseconds kFlushTimeout{2000};
// Connections still owing their request; more are refused at once.
constexpr size_t kMostWaiting = 64;
// How long tarnwick-switch tries an owner whose queue of connections is full.
constexpr std::chrono::milliseconds kConnectPatience{1000};
// The longest a client's poll sleeps before looking at interrupted() again:
// a signal that lands just before poll() would otherwise wait out the deadline.
constexpr int kPollSliceMs = 50;

std::string systemText(int error) { return std::strerror(error); }

std::string decimal(long long n) { return std::to_string(n); }

bool fill(sockaddr_un& address, const std::string& path) {
  if (path.empty() || path.size() > kMostSocketPath) return false;
  address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// The socket's folder: everything before the last '/'.
std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The short private folder used when the usual one makes the socket's path too
// long for a Unix socket.
std::string shortFolder() { return "/tmp/tarnwick-" + decimal(::geteuid()); }

// A folder only this user may enter: a real directory (not a link), ours, no
// access for anyone else. What $XDG_RUNTIME_DIR and the short folder must be.
bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// 64-bit FNV-1a: stable across builds and systems, enough to tell stores apart.
uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// The settings folder as the system resolves it, so that two spellings of one
// store ("a//b", a linked folder) meet at one endpoint.
std::string storeIdentity() {
  std::string folder = machineFolder();
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  return folder;
}

std::string processName(pid_t pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return "?";
  return comm.readAll().trimmed().toStdString();
}

// "COM3" out of ".../tarnwick-1000-COM3-<hash>.sock"; the path itself for a
// name of another shape.
std::string portOf(const std::string& path) {
  const auto at = path.rfind("-COM");
  if (at == std::string::npos) return path;
  const auto end = path.find('-', at + 1);
  return path.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int f = -1) {
    if (fd >= 0) ::close(fd);
    fd = f;
  }
  int release() { return std::exchange(fd, -1); }
};

std::optional<ucred> peerOf(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return std::nullopt;
  return cred;
}

// A nonblocking connect to the socket at path: the connected socket, or -1
// with errno set.
int connectTo(const std::string& path) {
  sockaddr_un address;
  if (!fill(address, path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.fd < 0) return -1;
  if (::connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd.release();
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
        refuse("no request within " +
               decimal(std::chrono::duration_cast<std::chrono::seconds>(kRequestTimeout).count()) + " s");
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
    if (out_.size() > kMostQueuedBytes) {
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
        in_.append(buffer, static_cast<size_t>(n));
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

  // Acts on the whole lines read so far; false once the connection was refused.
  bool takeLines() {
    for (;;) {
      const auto end = in_.find('\n');
      if (state_ == State::Reading) {
        if (end == std::string::npos ? in_.size() >= kMostRequestBytes : end + 1 > kMostRequestBytes) {
          refuse("request too long");
          return false;
        }
      }
      if (end == std::string::npos) {
        // After the request only "cancel" matters: a client's other bytes are
        // not kept.
        if (state_ != State::Reading && in_.size() > kMostRequestBytes) in_.clear();
        return true;
      }
      std::string line = in_.substr(0, end);
      in_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (state_ == State::Reading) {
        deliver(line);
      } else if (state_ == State::Requested && line == "cancel") {
        gone(true);
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
    reply("error " + text);
    reply("status 2");
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
  std::string in_;
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
        fail(faults::kAccessDenied, "Cannot create the folder of", errno);
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
        fail(faults::kAccessDenied, "Cannot create the folder of", errno);
      }
      if (at == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) fail(faults::kAccessDenied, "Cannot use the folder of", errno);
    if (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
      raise(faults::kAccessDenied, "The folder " + folder + " belongs to another user or is open to others' writing");
    }
  }

  // The lock is held for the server's life: free means any socket there is
  // a killed owner's.
  void takeLock() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      lock_.reset(::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (lock_.fd < 0) fail(faults::kAccessDenied, "Cannot create the lock file of", errno);
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
        owner += ": process " + decimal(cred->pid) + " (" + processName(cred->pid) + ")";
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

// tarnwick-switch's end.
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
      const auto end = in_.find('\n');
      if (end != std::string::npos) {
        std::string line = in_.substr(0, end);
        in_.erase(0, end + 1);
        return line;
      }
      if (closed_) {
        if (in_.empty()) return std::nullopt;
        return std::exchange(in_, {});
      }
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
        in_.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        closed_ = true;  // ended, or reset by an owner that went away
      }
    }
  }

  bool closed() const override { return closed_; }

 private:
  Fd fd_;
  std::string in_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<EndpointServer> serveEndpoint(const std::string& name, RequestHandler onRequest) {
  return std::make_unique<UnixServer>(name, std::move(onRequest));
}

std::unique_ptr<EndpointConnection> connectEndpoint(const std::string& name) {
  const auto giveUp = std::chrono::steady_clock::now() + kConnectPatience;
  for (;;) {
    Fd fd(connectTo(name));
    if (fd.fd >= 0) {
      // Only an owner of this user's is spoken to.
      const auto cred = peerOf(fd.fd);
      if (!cred || cred->uid != ::geteuid()) return nullptr;
      return std::make_unique<UnixConnection>(fd.release());
    }
    // EAGAIN: the owner's queue of new connections is full (a window that
    // hangs); anything else: no owner.
    if (errno != EAGAIN || interrupted() || std::chrono::steady_clock::now() >= giveUp) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds{20});
  }
}

std::string endpointName(int commPort) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(storeIdentity())));
  const std::string leaf = "tarnwick-" + decimal(::geteuid()) + "-COM" + decimal(commPort) + "-" + hash + ".sock";
  // The user's runtime folder when it is really private; else the settings
  // folder (when this user may write there); else, as for a path too long for
  // a socket, the short private folder.
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) {
    folder = runtime;
  } else {
    const std::string settings = machineFolder();
    if (::access(settings.c_str(), W_OK) == 0) folder = settings;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder.size() + 1 + leaf.size() > kMostSocketPath) folder = shortFolder();
  return folder + "/" + leaf;
}

}  // namespace platform
