// The Windows serial control against a real pseudo-terminal under Wine, with
// tarnwick-board answering "ab" to every command on the far end:
//   serial_line.exe BOARD_PORT MISSING_PORT
// Prints one line per finding; "FAIL ..." lines and the exit status tell
// serial_line.sh what went wrong. After "unplug now" it waits for the script to
// end the board, then checks the port was closed and the next write faults.

#include "platform/fault.h"
#include "platform/serial.h"
#include "support/fault_of.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using platform::Fault;
using platform::SerialControl;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// Runs the thread's message loop, blocked while nothing comes, until `done`
// or `ms` milliseconds have passed.
void pump(DWORD ms, const std::function<bool()>& done = [] { return false; }) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: serial_line.exe BOARD_PORT MISSING_PORT\n");
    return 2;
  }
  const auto boardPort = static_cast<int16_t>(std::atoi(argv[1]));
  const auto missingPort = static_cast<int16_t>(std::atoi(argv[2]));
  auto serial = platform::makeSerialControl();
  bool inCall = false;
  std::vector<std::string> chunks;
  int events = 0;
  serial->onComm = [&] {
    ++events;
    check(!inCall, "OnComm runs outside the program's calls");
    if (serial->commEvent() == platform::comEvReceive) chunks.push_back(serial->input());
  };
  auto call = [&](const std::function<void()>& step) {
    inCall = true;
    const auto fault = faultOf(step);
    inCall = false;
    return fault;
  };

  // A port without a device.
  serial->setCommPort(missingPort);
  const auto missing = call([&] { serial->setPortOpen(true); });
  check(missing && missing->number == 8002, "missing device: " + (missing ? missing->description : "no fault"));
  check(!serial->portOpen(), "missing device leaves the port closed");

  // The board, configured in the order the program uses.
  const auto opened = call([&] {
    serial->setCommPort(boardPort);
    serial->setHandshaking(0);
    serial->setSettings("19200,N,8,1");
    serial->setInputLen(0);
    serial->setRThreshold(3);
    serial->setSThreshold(1);
    serial->setRTSEnable(true);
    serial->setPortOpen(true);
  });
  check(!opened, "COM" + std::to_string(boardPort) + " opens" + (opened ? ": " + opened->description : ""));
  if (opened) return 1;
  check(!!call([&] { serial->setPortOpen(true); }), "opening an open port faults");

  // Two characters wait unannounced; the next two bring the count over 3.
  call([&] { serial->setOutput("P01"); });
  pump(400);
  check(events == 0, "two waiting characters raise no event");
  call([&] { serial->setOutput("P90"); });
  pump(3000, [&] { return !chunks.empty(); });
  pump(200);
  check(chunks == std::vector<std::string>{"abab"},
        "one receive event takes all four characters: " + (chunks.empty() ? "none" : printable(chunks[0])));

  // A lowered threshold announces characters already waiting, after the call.
  chunks.clear();
  call([&] { serial->setRThreshold(8); });
  call([&] { serial->setOutput("P00"); });
  pump(400);
  call([&] { serial->setRThreshold(2); });
  check(chunks.empty(), "the event never runs inside the setter");
  pump(3000, [&] { return !chunks.empty(); });
  check(chunks == std::vector<std::string>{"ab"}, "lowering the threshold announces waiting characters");

  // Flow control and line settings on the open port; the speed reaches the device.
  for (int32_t mode : {3, 2, 1, 0}) {
    const auto fault = call([&] { serial->setHandshaking(mode); });
    check(!fault, "Handshaking " + std::to_string(mode) + " on the open port" + (fault ? ": " + fault->description : ""));
  }
  const auto changed = call([&] { serial->setSettings("4800,o,7,2"); });
  check(!changed, "Settings 4800,o,7,2 on the open port" + (changed ? ": " + changed->description : ""));
  std::printf("unplug now\n");
  std::fflush(stdout);

  pump(10000, [&] { return !serial->portOpen(); });
  check(!serial->portOpen(), "the port is closed once the device went away");
  std::printf("line lost\n");
  std::fflush(stdout);
  pump(1500);  // the script measures CPU now
  const auto after = call([&] { serial->setOutput("P01"); });
  check(after && after->number == 8018, "Output after the loss: " + (after ? after->description : "no fault"));
  check(!call([&] { serial->setPortOpen(false); }), "closing again is harmless");
  serial.reset();
  std::printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
