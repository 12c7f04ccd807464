// Single-shot timers on a QTimer of the user-interface thread.

#include "platform/timer.h"

#include <QTimer>

#include <algorithm>
#include <climits>

namespace platform {

namespace {

class QtTimer final : public Timer {
 public:
  QtTimer(std::chrono::milliseconds after, std::function<void()> fire) : fire_(std::move(fire)) {
    timer_->setSingleShot(true);
    // A pulse's end is an operator's millisecond figure: the coarse timer's
    // 5 % slack would stretch a long pulse by seconds.
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, [this] {
      // fire may destroy this timer: nothing of it is touched afterwards.
      auto due = std::move(fire_);
      fire_ = nullptr;
      if (due) due();
    });
    // QTimer counts in an int of milliseconds: about 24 days at most.
    timer_->start(std::clamp(after, std::chrono::milliseconds{0}, std::chrono::milliseconds{INT_MAX}));
  }

  ~QtTimer() override {
    timer_->stop();
    timer_->disconnect();
    // Not deleted here: this may run inside the timer's own timeout signal.
    timer_->deleteLater();
  }

  QtTimer(const QtTimer&) = delete;
  QtTimer& operator=(const QtTimer&) = delete;

 private:
  QTimer* timer_ = new QTimer;
  std::function<void()> fire_;
};

}  // namespace

std::unique_ptr<Timer> startTimer(std::chrono::milliseconds after, std::function<void()> fire) {
  return std::make_unique<QtTimer>(after, std::move(fire));
}

}  // namespace platform
