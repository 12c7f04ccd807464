#pragma once
// Single-shot timers on the user-interface thread, for what the window does
// at a time of its own: a script's pulse ending, a script's wait for the
// board's answer running out.

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// Destroying the timer cancels it.
class Timer {
 public:
  virtual ~Timer() = default;
};

// Runs `fire` on the user-interface thread once `after` has passed, from the
// event loop (never inside one of the program's calls).
std::unique_ptr<Timer> startTimer(std::chrono::milliseconds after, std::function<void()> fire);

}  // namespace platform
