// serial-roundtrip.exe: what the serial control adds under Wine. With the
// board simulator on COM1 (it answers "P01 OK\r\n" to "P01"), times command
// to complete answer N times through a plain overlapped handle, then through
// the control (Output, the reader thread, OnComm on this thread with
// RThreshold 8, Input). Prints one markdown row per way.

#include "platform/serial.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double nowMs() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

void row(const char* way, std::vector<double> ms, int wrong) {
  std::sort(ms.begin(), ms.end());
  const auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))]; };
  std::printf("| %s | %.3f / %.3f / %.3f ms | %d |\n", way, at(0.5), at(0.99), ms.back(), wrong);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 500;
  const std::string answer = "P01 OK\r\n";
  std::vector<double> plain, control;
  int wrongPlain = 0, wrongControl = 0;

  HANDLE h = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 5;
  SetCommTimeouts(h, &timeouts);
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int i = 0; i < n; ++i) {
    const double t0 = nowMs();
    DWORD done = 0;
    if (!WriteFile(h, "P01", 3, nullptr, &o)) GetOverlappedResult(h, &o, &done, TRUE);
    std::string got;
    while (got.size() < answer.size()) {
      char buffer[64];
      if (!ReadFile(h, buffer, sizeof buffer, nullptr, &o) && GetLastError() != ERROR_IO_PENDING) break;
      if (!GetOverlappedResult(h, &o, &done, TRUE)) break;
      got.append(buffer, done);
    }
    plain.push_back(nowMs() - t0);
    if (got != answer) ++wrongPlain;
  }
  CloseHandle(o.hEvent);
  CloseHandle(h);

  auto serial = platform::makeSerialControl();
  std::string got;
  serial->onComm = [&] {
    if (serial->commEvent() == platform::comEvReceive) got += serial->input();
  };
  serial->setCommPort(1);
  serial->setSettings("9600,N,8,1");
  serial->setRThreshold(8);
  serial->setPortOpen(true);
  for (int i = 0; i < n; ++i) {
    got.clear();
    const double t0 = nowMs();
    serial->setOutput("P01");
    MSG msg;
    while (got.size() < answer.size() && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    control.push_back(nowMs() - t0);
    if (got != answer) ++wrongControl;
  }
  serial->setPortOpen(false);

  std::printf("| way (%d commands) | command to complete answer p50 / p99 / max | wrong |\n|---|---|---|\n", n);
  row("plain overlapped WriteFile and ReadFile", plain, wrongPlain);
  row("the serial control (Output, OnComm, Input)", control, wrongControl);
  return 0;
}
