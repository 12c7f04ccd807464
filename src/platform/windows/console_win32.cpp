// Console programs on Win32: the thread's message queue delivers the serial
// control's events (its message-only window), and the console's control events
// (Ctrl+C, Ctrl+Break, the console closing, log-off, shut-down) and the session
// ending become a flag plus an event that wakes the wait.

#include <windows.h>
#include <mmsystem.h>

#include "platform/console.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace platform {

namespace {

std::atomic<bool> gInterrupted{false};
HANDLE gWake = nullptr;      // set by a control event
HANDLE gFinished = nullptr;  // set once the body has returned

// How long before a deadline a wait stops sleeping.
constexpr std::chrono::milliseconds kSpin{2};

// How long the console closing or the session ending waits for the body:
// Windows ends the process after about five seconds anyway.
constexpr DWORD kEndingWaitMs = 4000;

void raiseInterrupt() {
  gInterrupted = true;
  SetEvent(gWake);
}

// The system runs this on a thread of its own. For the console closing (and
// log-off, shut-down) the process ends as soon as it returns, so it waits for
// the body to send what it must.
BOOL WINAPI onControl(DWORD type) {
  raiseInterrupt();
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    WaitForSingleObject(gFinished, kEndingWaitMs);
  return TRUE;
}

// A console program that loads user32 (the serial control's window does) gets
// no log-off or shut-down control event: the session's end comes as
// WM_ENDSESSION, and only to top-level windows (a message-only window gets no
// broadcasts). Once it returns the process may end at any moment.
LRESULT CALLBACK onSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
      if (wParam) {
        raiseInterrupt();
        WaitForSingleObject(gFinished, kEndingWaitMs);
      }
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

// A hidden top-level window on a thread of its own, so that the message
// arrives while the body waits or sends; made in parallel with the body, so
// the start-up does not wait for it.
DWORD WINAPI sessionWatch(LPVOID) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = onSessionMessage;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"TarnwickSwitchSession";
  if (!RegisterClassW(&windowClass)) return 0;
  if (!CreateWindowExW(0, windowClass.lpszClassName, L"tarnwick-switch", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                       nullptr, instance, nullptr))
    return 0;
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

std::wstring toWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// A console shows the text as it is; a file or pipe gets UTF-8 with CR LF.
void writeLine(DWORD which, std::FILE* stream, const std::string& line) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    const std::wstring text = toWide(line) + L"\r\n";
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void deliverMessages() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

int runConsole(int argc, char** argv, int (*body)(int argc, char** argv)) {
  gWake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  gFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&onControl, TRUE);
  if (const HANDLE watch = CreateThread(nullptr, 64 * 1024, &sessionWatch, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                        nullptr))
    CloseHandle(watch);
  // Waits end on the millisecond, not on the default 15.6 ms tick.
  timeBeginPeriod(1);
  const int status = body(argc, argv);
  timeEndPeriod(1);
  SetEvent(gFinished);
  return status;
}

// Windows has no stop signals.
StopsHeld::StopsHeld() = default;
StopsHeld::~StopsHeld() = default;

bool waitEvents(Deadline deadline, const std::function<bool()>& done) {
  for (;;) {
    deliverMessages();
    if (done()) return true;
    if (interrupted()) return false;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    // A thread woken on a busy machine runs late by the scheduler's share; one
    // already running when the deadline comes does not. So the wait ends
    // kSpin early and the rest is spent delivering messages.
    if (left <= kSpin) continue;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left - kSpin).count();
    MsgWaitForMultipleObjectsEx(1, &gWake, static_cast<DWORD>(std::clamp<long long>(ms, 1, 0x7FFFFFFF)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

bool interrupted() { return gInterrupted; }

int interruptStatus() { return 130; }

void writeOut(const std::string& line) { writeLine(STD_OUTPUT_HANDLE, stdout, line); }
void writeErr(const std::string& line) { writeLine(STD_ERROR_HANDLE, stderr, line); }

}  // namespace platform
