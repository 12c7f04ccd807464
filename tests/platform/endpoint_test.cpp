// The window's endpoint on real Unix sockets: what a lab script meets, and what
// a stuck, hostile or vanished client cannot do to the window. The window's
// side runs on this thread's event loop; connectEndpoint, which blocks in
// poll(), on a thread of its own; misbehaving clients are raw sockets.
#include "platform/endpoint.h"
#include "platform/fault.h"
#include "platform/timer.h"
#include "support/fault_of.h"
#include "support/pty.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <future>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::string tempFolder() {
  char pattern[] = "/tmp/twk-endpoint-XXXXXX";
  return ::mkdtemp(pattern);
}

bool pumpUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) pumpEvents(5);
  return done();
}

// A script's whole conversation through connectEndpoint, on a thread.
Lines converse(const std::string& name, const std::string& request) {
  auto talk = std::async(std::launch::async, [name, request] {
    auto connection = platform::connectEndpoint(name);
    if (!connection) return Lines{"<no owner>"};
    Lines got;
    connection->send(request);
    while (auto line = connection->readLine(std::chrono::steady_clock::now() + 5s)) got.push_back(*line);
    if (!connection->closed()) got.push_back("<still open>");
    return got;
  });
  pumpUntil([&] { return talk.wait_for(0ms) == std::future_status::ready; }, 8000);
  return talk.get();
}

// A client driven byte by byte from this thread.
class RawClient {
 public:
  explicit RawClient(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~RawClient() { close(); }
  bool connected() const { return connected_; }
  bool open() const { return fd_ >= 0; }
  void write(const std::string& bytes) { (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  void close() { ::close(std::exchange(fd_, -1)); }
  // Takes what arrived; true once the owner has closed.
  bool poll() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) received_.append(buffer, static_cast<size_t>(n));
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  }
  std::string received_;

 private:
  int fd_;
  bool connected_;
};

// The window's side: records each request and keeps its client.
struct Window {
  Lines requests;
  std::vector<std::shared_ptr<platform::EndpointClient>> clients;
  std::unique_ptr<platform::EndpointServer> server;

  explicit Window(const std::string& name, const std::function<void(platform::EndpointClient&)>& answer = {}) {
    server = platform::serveEndpoint(name, [this, answer](const std::string& request, auto client) {
      requests.push_back(request);
      clients.push_back(client);
      if (answer) answer(*client);
    });
  }
};

void answerZero(platform::EndpointClient& client) {
  client.reply("status 0");
  client.finish();
}

class Endpoint : public ::testing::Test {
 protected:
  ~Endpoint() override { std::filesystem::remove_all(folder); }
  std::string folder = tempFolder();
  std::string name = folder + "/ep.sock";
};

TEST_F(Endpoint, RequestReachesTheWindowAndItsLinesComeBackInOrder) {
  EXPECT_EQ(converse(name, "init"), Lines{"<no owner>"});
  Window window(name, [](platform::EndpointClient& client) {
    client.reply("answer P21 OK");
    client.reply("answer second");
    answerZero(client);
  });
  EXPECT_EQ(converse(name, "on 3 --wait 1000"), (Lines{"answer P21 OK", "answer second", "status 0"}));
  EXPECT_EQ(window.requests, Lines{"on 3 --wait 1000"});
  EXPECT_FALSE(window.clients.back()->connected());
  window.server.reset();
  EXPECT_FALSE(std::filesystem::exists(name)) << "the window that ended left its socket";
}

// A client that sends nothing, or a byte now and then, holds up no one else,
// and is told off once the request time has passed.
class SlowClients : public Endpoint, public ::testing::WithParamInterface<int> {};

TEST_P(SlowClients, DoNotHoldUpAnotherClient) {
  Window window(name, answerZero);
  RawClient slow(name);
  QElapsedTimer since;
  since.start();
  long long sent = 0;
  const auto trickle = [&] {
    if (GetParam() > 0 && sent < 3 && sent < since.elapsed() / GetParam()) slow.write(std::string(1, "on "[sent++]));
    return false;
  };
  pumpUntil(trickle, 300);
  RawClient next(name);
  next.write("off 2\n");
  ASSERT_TRUE(pumpUntil([&] { return trickle() || next.poll(); }));
  EXPECT_EQ(next.received_, "status 0\n");
  EXPECT_LT(since.elapsed(), 1500) << "the second client waited for the first";
  ASSERT_TRUE(pumpUntil([&] { return trickle() || slow.poll(); }));
  EXPECT_EQ(slow.received_, "error no request within 2 s\nstatus 2\n");
  EXPECT_GE(since.elapsed(), 1900);
  EXPECT_EQ(window.requests, Lines{"off 2"});
}

// 0: silent; else a byte every so many milliseconds.
INSTANTIATE_TEST_SUITE_P(Kinds, SlowClients, ::testing::Values(0, 300));

// Requests that never reach the window: too long, or cut off.
struct Unfinished {
  const char* what;
  std::string bytes;
  const char* answer;  // null: the client hangs up after writing
};

class UnfinishedRequests : public Endpoint, public ::testing::WithParamInterface<Unfinished> {};

TEST_P(UnfinishedRequests, NeverReachTheWindow) {
  Window window(name);
  RawClient client(name);
  client.write(GetParam().bytes);
  if (!GetParam().answer) client.close();
  pumpUntil([&] { return client.open() && client.poll(); }, GetParam().answer ? 5000 : 300);
  EXPECT_TRUE(window.requests.empty());
  EXPECT_EQ(client.received_, GetParam().answer ? GetParam().answer : "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UnfinishedRequests,
    ::testing::Values(Unfinished{"lineOf257Bytes", std::string(256, 'x') + "\n", "error request too long\nstatus 2\n"},
                      Unfinished{"endlessLine", std::string(100000, 'x'), "error request too long\nstatus 2\n"},
                      Unfinished{"cutOffMidRequest", "pulse 2 5", nullptr}),
    [](const auto& row) { return std::string(row.param.what); });

// What the window hears once it holds a client: a script's "cancel", or the
// script going away (killed), once; the window still answers one that cancelled.
struct Leaving {
  const char* what;
  const char* writes;  // null: hangs up
  std::vector<bool> heard;
};

class LeavingClients : public Endpoint, public ::testing::WithParamInterface<Leaving> {};

TEST_P(LeavingClients, AreHeardOnce) {
  std::vector<bool> heard;
  Window window(name, [&heard](platform::EndpointClient& client) {
    client.onGone = [&heard](bool cancelled) { heard.push_back(cancelled); };
  });
  RawClient client(name);
  // The request and what follows in one write: the window sees them in order.
  client.write(std::string("pulse 2 500\n") + (GetParam().writes ? GetParam().writes : ""));
  if (!GetParam().writes) client.close();
  pumpUntil([] { return false; }, 200);
  EXPECT_EQ(window.requests, Lines{"pulse 2 500"});
  EXPECT_EQ(heard, GetParam().heard);
  if (client.open()) {
    answerZero(*window.clients.back());
    ASSERT_TRUE(pumpUntil([&] { return client.poll(); }));
    EXPECT_EQ(client.received_, "status 0\n");
  }
  EXPECT_EQ(heard, GetParam().heard) << "heard after finish()";
}

INSTANTIATE_TEST_SUITE_P(Kinds, LeavingClients,
                         ::testing::Values(Leaving{"cancelTwice", "cancel\ncancel\n", {true}},
                                           Leaving{"hangUp", nullptr, {false}}, Leaving{"otherWords", "hello\n", {}}),
                         [](const auto& row) { return std::string(row.param.what); });

TEST_F(Endpoint, ASocketLeftByAKilledWindowIsTakenOver) {
  // What a killed window leaves: its socket, bound with nobody behind it, and its lock file.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  name.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ::close(::open((name + ".lock").c_str(), O_CREAT | O_WRONLY, 0600));
  std::optional<Window> window;
  const auto fault = faultOf([&] { window.emplace(name, answerZero); });
  ASSERT_FALSE(fault) << fault->description;
  EXPECT_EQ(converse(name, "init"), Lines{"status 0"});
}

TEST_F(Endpoint, ASecondWindowOnTheSamePortIsToldWhoHasIt) {
  Window first(name, answerZero);
  const auto fault = faultOf([&] { Window second(name); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kPortBusy);
  EXPECT_NE(fault->description.find("process " + std::to_string(::getpid()) + " ("), std::string::npos)
      << fault->description;
  EXPECT_EQ(converse(name, "init"), Lines{"status 0"}) << "the first window no longer serves";
}

TEST_F(Endpoint, AnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  Window window(name);
  // The way opened, so that only the check of the peer's user stands.
  ::chmod(folder.c_str(), 0711);
  ::chmod(name.c_str(), 0666);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    RawClient client(name);
    client.write("on 1\n");
    for (int i = 0; i < 200 && !client.poll(); ++i) ::usleep(10000);
    ::_exit(!client.connected() ? 11 : client.poll() && client.received_.empty() ? 0 : 12);
  }
  int status = 0;
  pumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_TRUE(window.requests.empty());
}

// Where the socket goes; two stores and two ports never share an endpoint,
// however long the store's path.
struct Place {
  const char* what;
  int runtimeMode;     // of $XDG_RUNTIME_DIR; -1: unset
  size_t storeLength;  // of the second store's XDG_DATA_HOME
  const char* lands;   // "run", "store" or "short"
};

class Places : public ::testing::TestWithParam<Place> {};

TEST_P(Places, EachStoreAndPortHasItsOwnBindableEndpoint) {
  const std::string root = tempFolder();
  const std::string runtime = root + "/run";
  ::mkdir(runtime.c_str(), 0700);
  ::chmod(runtime.c_str(), static_cast<mode_t>(std::max(GetParam().runtimeMode, 0)));
  const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string saved[] = {oldRuntime ? oldRuntime : "", oldData ? oldData : ""};
  GetParam().runtimeMode < 0 ? ::unsetenv("XDG_RUNTIME_DIR") : ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  const std::string longStore = root + "/" + std::string(GetParam().storeLength - root.size() - 1, 'b');
  Lines names;
  std::vector<std::unique_ptr<Window>> windows;
  for (const auto& store : {root + "/a", longStore}) {
    std::filesystem::create_directories(store + "/tarnwick");
    ::setenv("XDG_DATA_HOME", store.c_str(), 1);
    for (int port : {1, 2}) {
      names.push_back(platform::endpointName(port));
      EXPECT_EQ(platform::endpointName(port), names.back()) << "the same store and port, another name";
      const auto fault = faultOf([&] { windows.push_back(std::make_unique<Window>(names.back())); });
      EXPECT_FALSE(fault) << names.back() << ": " << fault->description;
    }
  }
  const std::string lands = GetParam().lands;
  EXPECT_EQ(names[3].substr(0, names[3].rfind('/')), lands == "run" ? runtime
                                                     : lands == "store"
                                                         ? longStore + "/tarnwick"
                                                         : "/tmp/tarnwick-" + std::to_string(::geteuid()));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_LE(names[i].size(), 107u) << names[i];
    EXPECT_NE(names[i].find("-COM" + std::to_string(i % 2 + 1) + "-"), std::string::npos) << names[i];
    for (size_t j = 0; j < i; ++j) EXPECT_NE(names[i], names[j]);
  }
  windows.clear();
  oldRuntime ? ::setenv("XDG_RUNTIME_DIR", saved[0].c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
  oldData ? ::setenv("XDG_DATA_HOME", saved[1].c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
  std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Places,
                         ::testing::Values(Place{"privateRuntimeFolder", 0700, 200, "run"},
                                           Place{"runtimeFolderOpenToOthers", 0755, 40, "store"},
                                           Place{"noRuntimeFolder", -1, 40, "store"},
                                           Place{"longStorePath", -1, 200, "short"}),
                         [](const auto& row) { return std::string(row.param.what); });

TEST(Timer, FiresOnceFromTheEventLoopAndNotOnceDestroyed) {
  int fired = 0;
  auto timer = platform::startTimer(0ms, [&] { ++fired; });
  EXPECT_EQ(fired, 0) << "ran inside the call that started it";
  platform::startTimer(30ms, [&] { fired += 100; }).reset();
  // A timer that ends itself when it fires, as a pulse's end does.
  std::unique_ptr<platform::Timer> self;
  self = platform::startTimer(10ms, [&] {
    ++fired;
    self.reset();
  });
  pumpUntil([] { return false; }, 100);
  EXPECT_EQ(fired, 2);
}

}  // namespace
