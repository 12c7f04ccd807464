// The window's named pipe and its timers on Win32, built with mingw-w64 and
// run under Wine (tests/wine/windows.sh). One process plays both ends: the
// main thread is the window (it delivers messages), client threads are
// tarnwick-switch.
#include <windows.h>

#include "platform/endpoint.h"
#include "platform/fault.h"
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Delivers the main thread's messages until done() holds or `most` passes.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds most = 5s) {
  const auto until = Clock::now() + most;
  for (;;) {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (done()) return true;
    if (Clock::now() >= until) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// A name no other run uses.
std::string uniqueName(const char* what) {
  return "tarnwick-test-" + std::to_string(GetCurrentProcessId()) + "-" + what;
}

struct Heard {
  std::vector<std::string> lines;
  bool closed = false;
};

// Reads every line until the owner closes (or 5 s pass).
Heard readAll(platform::EndpointConnection& connection) {
  Heard heard;
  const auto until = Clock::now() + 5s;
  while (auto line = connection.readLine(until)) heard.lines.push_back(*line);
  heard.closed = connection.closed();
  return heard;
}

// A client thread speaking as tarnwick-switch does: one request, then the answer.
std::future<Heard> talk(const std::string& name, const std::string& request) {
  return std::async(std::launch::async, [name, request] {
    auto connection = platform::connectEndpoint(name);
    if (!connection) return Heard{{"<no owner>"}, true};
    connection->send(request);
    return readAll(*connection);
  });
}

// A client thread writing raw bytes (no line end added), then reading what
// comes back until the owner closes, or with `hangUp` closing at once.
std::future<Heard> rawTalk(const std::string& name, const std::string& bytes, bool hangUp = false) {
  return std::async(std::launch::async, [name, bytes, hangUp] {
    const std::wstring path = L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end());
    const HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return Heard{{"<no owner>"}, true};
    DWORD n = 0;
    if (!bytes.empty()) WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    std::string in;
    if (hangUp) {
      CloseHandle(pipe);
      return Heard{{}, true};
    }
    char buffer[256];
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) in.append(buffer, n);
    CloseHandle(pipe);
    Heard heard{{}, true};
    for (size_t end; (end = in.find('\n')) != std::string::npos; in.erase(0, end + 1))
      heard.lines.push_back(in.substr(0, end));
    if (!in.empty()) heard.lines.push_back(in);
    return heard;
  });
}

template <typename T>
bool ready(std::future<T>& f) {
  return f.wait_for(0s) == std::future_status::ready;
}

TEST(Endpoint, RequestIsDeliveredAndAnsweredInOrderThenClosed) {
  const std::string name = uniqueName("order");
  std::vector<std::string> requests;
  int gone = 0;
  auto server = platform::serveEndpoint(name, [&](const std::string& request, auto client) {
    requests.push_back(request);
    client->onGone = [&](bool) { ++gone; };
    client->reply("answer OK - P21");
    client->reply("error late");
    client->reply("status 0");
    client->finish();
  });
  auto heard = talk(name, "on 3 --wait 1000");
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  const Heard got = heard.get();
  pumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(requests, std::vector<std::string>{"on 3 --wait 1000"});
  EXPECT_EQ(got.lines, (std::vector<std::string>{"answer OK - P21", "error late", "status 0"}));
  EXPECT_TRUE(got.closed);
  EXPECT_EQ(gone, 0) << "onGone after finish()";
}

TEST(Endpoint, NobodyServingIsNoConnectionAndAnEndedServerLeavesNothing) {
  const std::string name = uniqueName("none");
  EXPECT_EQ(platform::connectEndpoint(name), nullptr);
  platform::serveEndpoint(name, [](const std::string&, auto) {});
  EXPECT_EQ(platform::connectEndpoint(name), nullptr);
  EXPECT_NO_THROW(platform::serveEndpoint(name, [](const std::string&, auto) {}));
}

TEST(Endpoint, SecondServerOnTheNameIsPortBusyNamingTheOwner) {
  const std::string name = uniqueName("busy-COM7");
  auto server = platform::serveEndpoint(name, [](const std::string&, auto) {});
  try {
    platform::serveEndpoint(name, [](const std::string&, auto) {});
    ADD_FAILURE() << "a second server started";
  } catch (const platform::Fault& fault) {
    EXPECT_EQ(fault.number, platform::faults::kPortBusy);
    EXPECT_NE(fault.description.find("COM7"), std::string::npos) << fault.description;
    EXPECT_NE(fault.description.find("process " + std::to_string(GetCurrentProcessId())), std::string::npos)
        << fault.description;
  }
  // The probe that asked who serves it is no request.
  auto heard = talk(name, "init");
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
}

// Clients that break the rules get an error, a status and the end; the window
// never hears of them.
struct RudeRow {
  const char* name;
  std::string bytes;
  const char* error;
};

class RudeClientTest : public ::testing::TestWithParam<RudeRow> {};

TEST_P(RudeClientTest, IsAnsweredAndClosedWithoutARequest) {
  const RudeRow row = GetParam();
  const std::string name = uniqueName(row.name);
  int requests = 0;
  auto server = platform::serveEndpoint(name, [&](const std::string&, auto) { ++requests; });
  auto heard = rawTalk(name, row.bytes);
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  EXPECT_EQ(heard.get().lines, (std::vector<std::string>{row.error, "status 2"}));
  EXPECT_EQ(requests, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RudeClientTest,
    ::testing::Values(RudeRow{"endless", std::string(platform::kMostRequestBytes + 1, 'x'), "error request too long"},
                      RudeRow{"long", std::string(platform::kMostRequestBytes + 1, 'x') + "\n",
                              "error request too long"},
                      RudeRow{"silent", "", "error no request within 2 s"},
                      RudeRow{"half", "on 3", "error no request within 2 s"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Endpoint, SilentClientDoesNotDelayAnother) {
  const std::string name = uniqueName("silent");
  auto server = platform::serveEndpoint(name, [](const std::string&, auto client) {
    client->reply("status 0");
    client->finish();
  });
  auto silent = rawTalk(name, "");
  pumpUntil([] { return false; }, 100ms);
  const auto started = Clock::now();
  auto heard = talk(name, "init");
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  EXPECT_LT(Clock::now() - started, 1500ms) << "the second client waited for the silent one";
  EXPECT_EQ(heard.get().lines, std::vector<std::string>{"status 0"});
  EXPECT_FALSE(ready(silent));
  ASSERT_TRUE(pumpUntil([&] { return ready(silent); }));
}

TEST(Endpoint, ClientLeavingMidRequestDeliversNothing) {
  const std::string name = uniqueName("leaving");
  std::vector<std::string> requests;
  auto server = platform::serveEndpoint(name, [&](const std::string& request, auto client) {
    requests.push_back(request);
    client->finish();
  });
  auto left = rawTalk(name, "on 3", true);
  ASSERT_TRUE(pumpUntil([&] { return ready(left); }));
  auto heard = talk(name, "init");
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  EXPECT_EQ(requests, std::vector<std::string>{"init"});
}

struct GoneRow {
  const char* name;
  bool cancel;  // else the client goes away
};

class GoneTest : public ::testing::TestWithParam<GoneRow> {};

TEST_P(GoneTest, ReachesOnGoneOnce) {
  const GoneRow row = GetParam();
  const std::string name = uniqueName(row.name);
  std::shared_ptr<platform::EndpointClient> held;
  std::vector<bool> gone;
  std::promise<void> requested;
  auto server = platform::serveEndpoint(name, [&](const std::string&, auto client) {
    held = client;
    client->onGone = [&](bool cancelled) { gone.push_back(cancelled); };
    requested.set_value();
  });
  auto heard = std::async(std::launch::async, [&] {
    auto connection = platform::connectEndpoint(name);
    if (!connection) return Heard{{"<no owner>"}, true};
    connection->send("pulse 2 500");
    requested.get_future().wait_for(5s);
    if (!row.cancel) return Heard{};
    connection->send("cancel");
    connection->send("cancel");
    return readAll(*connection);
  });
  ASSERT_TRUE(pumpUntil([&] { return !gone.empty(); }));
  EXPECT_EQ(gone, std::vector<bool>{row.cancel});
  EXPECT_EQ(held->connected(), row.cancel);
  held->reply("status 130");
  held->finish();
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  pumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(gone.size(), 1u);
  if (row.cancel) {
    EXPECT_EQ(heard.get().lines, std::vector<std::string>{"status 130"});
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, GoneTest, ::testing::Values(GoneRow{"cancel", true}, GoneRow{"hangup", false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Endpoint, ClientThatDoesNotReadIsDroppedAndRepliesNeverWait) {
  const std::string name = uniqueName("deaf");
  std::shared_ptr<platform::EndpointClient> held;
  auto server = platform::serveEndpoint(name, [&](const std::string&, auto client) { held = client; });
  std::promise<void> done;
  auto deaf = std::async(std::launch::async, [&] {
    auto connection = platform::connectEndpoint(name);
    if (connection) connection->send("on 1");
    done.get_future().wait_for(10s);
  });
  ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
  const std::string line(1000, 'a');
  const auto started = Clock::now();
  for (int i = 0; i < 200 && held->connected(); ++i) held->reply(line);
  EXPECT_LT(Clock::now() - started, 1s);
  EXPECT_FALSE(held->connected());
  done.set_value();
  deaf.get();
}

// The window stops serving as it closes its port, then answers the scripts it
// was serving: they still hear it, and the name is free for the next owner.
TEST(Endpoint, ClientServedOutlivesTheServer) {
  const std::string name = uniqueName("outlive");
  std::shared_ptr<platform::EndpointClient> held;
  auto server = platform::serveEndpoint(name, [&](const std::string&, auto client) { held = client; });
  auto heard = talk(name, "pulse 2 60000");
  ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
  server.reset();
  EXPECT_NO_THROW(server = platform::serveEndpoint(name, [](const std::string&, auto) {}));
  held->reply("error the window on COM1 is closing its port");
  held->reply("status 0");
  held->finish();
  ASSERT_TRUE(pumpUntil([&] { return ready(heard); }));
  EXPECT_EQ(heard.get().lines,
            (std::vector<std::string>{"error the window on COM1 is closing its port", "status 0"}));
}

TEST(Timer, FiresInOrderFromTheLoopAndNeverOnceDestroyed) {
  std::vector<int> fired;
  auto at60 = platform::startTimer(60ms, [&] { fired.push_back(60); });
  auto at20 = platform::startTimer(20ms, [&] { fired.push_back(20); });
  auto at40 = platform::startTimer(40ms, [&] { fired.push_back(40); });
  auto at30 = platform::startTimer(30ms, [&] { fired.push_back(30); });
  auto at0 = platform::startTimer(0ms, [&] { fired.push_back(0); });
  std::unique_ptr<platform::Timer> second;
  // Due together: the first one cancels the second.
  auto first = platform::startTimer(50ms, [&] {
    fired.push_back(50);
    second.reset();
  });
  second = platform::startTimer(50ms, [&] { fired.push_back(51); });
  EXPECT_TRUE(fired.empty()) << "fired inside startTimer";
  at30.reset();
  ASSERT_TRUE(pumpUntil([&] { return fired.size() >= 5; }, 2s));
  pumpUntil([] { return false; }, 100ms);
  EXPECT_EQ(fired, (std::vector<int>{0, 20, 40, 50, 60}));
}

}  // namespace
