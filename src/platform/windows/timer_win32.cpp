// Single-shot timers on Win32: SetTimer on one message-only window of the
// user-interface thread, so a timer fires only from the message loop.
//
// WM_TIMER has no order among timers that fall due together, and a tick can
// come a little late; so each tick fires every timer that is due by then, in
// the order of their due times (and of starting, for equal ones).

#include <windows.h>

#include "platform/timer.h"
#include "platform/windows/message_window.h"

#include <algorithm>
#include <map>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
  Clock::time_point due;
  std::function<void()> fire;
};

// Timer ids are never reused, so a tick left in the queue by a cancelled
// timer finds nothing.
std::map<UINT_PTR, Pending> gPending;
UINT_PTR gLastId = 0;
HWND gWindow = nullptr;

void fireDue(UINT_PTR ticked) {
  const Clock::time_point now = Clock::now();
  std::vector<std::pair<Clock::time_point, UINT_PTR>> due;
  for (const auto& [id, pending] : gPending)
    if (id == ticked || pending.due <= now) due.emplace_back(pending.due, id);
  std::sort(due.begin(), due.end());
  for (const auto& entry : due) {
    // An earlier one may have cancelled this one.
    const auto it = gPending.find(entry.second);
    if (it == gPending.end()) continue;
    KillTimer(gWindow, it->first);
    const std::function<void()> fire = std::move(it->second.fire);
    gPending.erase(it);
    fire();
  }
}

LRESULT CALLBACK timerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    fireDue(static_cast<UINT_PTR>(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND timerWindow() {
  if (!gWindow) gWindow = win::makeMessageWindow(L"TarnwickTimers", &timerWindowProc);
  return gWindow;
}

class Win32Timer final : public Timer {
 public:
  explicit Win32Timer(UINT_PTR id) : id_(id) {}
  ~Win32Timer() override {
    if (gPending.erase(id_)) KillTimer(gWindow, id_);
  }
  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

 private:
  UINT_PTR id_;
};

}  // namespace

std::unique_ptr<Timer> startTimer(std::chrono::milliseconds after, std::function<void()> fire) {
  const HWND window = timerWindow();
  const UINT_PTR id = ++gLastId;
  const auto ms = std::clamp<long long>(after.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  gPending[id] = Pending{Clock::now() + after, std::move(fire)};
  // Should SetTimer fail (the session is out of timers), the next tick of
  // another timer still fires this one once it is due.
  if (window) SetTimer(window, id, static_cast<UINT>(ms), nullptr);
  return std::make_unique<Win32Timer>(id);
}

}  // namespace platform
