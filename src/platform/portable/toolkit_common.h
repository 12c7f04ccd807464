#pragma once
// What the two toolkits (platform/linux/qt, platform/windows) do alike, in
// standard C++: how an event callback runs, which mouse buttons a command
// button still holds, what a list row draws of its line, and what a form
// keeps.

#include "platform/controls.h"
#include "platform/fault.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Event callbacks running now, on any form. A form destroyed while one runs
// defers the end of its window: a control of it may be on the call stack.
int& callbackDepth();

// Reports a fault or exception that the program's own traps let through.
void reportUntrapped(const std::string& what);
// Where the toolkit echoes such reports besides stderr (a debugger's output).
void setUntrappedEcho(void (*echo)(const char* line));

// Runs an event callback. The program traps its own faults; whatever still
// escapes stops here, as an exception must not unwind through the toolkit.
template <class... Args>
void fire(const std::function<void(Args...)>& callback, Args... args) {
  if (!callback) return;
  const std::function<void(Args...)> call = callback;  // it may destroy its owner
  ++callbackDepth();
  try {
    call(args...);
  } catch (const Fault& fault) {
    reportUntrapped("fault " + std::to_string(fault.number) + " in an event: " +
                    fault.description + ", " + fault.source);
  } catch (const std::exception& error) {
    reportUntrapped(std::string("exception in an event: ") + error.what());
  } catch (...) {
    reportUntrapped("exception in an event");
  }
  --callbackDepth();
}

// The mouse buttons held down on one command button (1 left, 2 right,
// 4 middle). Every press has exactly one release: the window system's, or
// the moment the window system takes the mouse from the button (another
// window comes to the front, the window loses the keyboard, a prompt opens),
// whichever comes first. A release after that, or of a press made
// elsewhere, is none of this button's.
class MouseHold {
 public:
  void press(int button) { held_ |= button; }
  // True when the release ends a press held here.
  bool release(int button) {
    if ((held_ & button) == 0) return false;
    held_ &= ~button;
    return true;
  }
  bool holding() const { return held_ != 0; }
  // The mouse is gone: every button still held is released now, left first.
  // The callback may destroy the button, and this record with it.
  void lose(const std::function<void(int)>& onMouseUp) {
    const int lost = held_;
    held_ = 0;
    const std::function<void(int)> up = onMouseUp;
    for (const int button : {1, 2, 4}) {
      if (lost & button) fire(up, button);
    }
  }

 private:
  int held_ = 0;
};

// What a list box draws of a line: one row of at most kListRowChars
// characters, control characters as blanks and "…" when cut, so that a reply
// with line breaks stays one row and a flood of long lines stays cheap to
// draw. The list keeps the whole line for the program. UTF-8 in and out.
inline constexpr size_t kListRowChars = 200;
std::string listRow(const std::string& line);

// What a form of either toolkit keeps: its outer size in twips, as the
// program last set it (the user cannot resize the window; the toolkit applies
// the size in applyOuterSize()), and the controls it owns.
class FormBase : public Form {
 public:
  void setHeight(int twips) override {
    heightTwips_ = twips;
    applyOuterSize();
  }
  int height() const override { return heightTwips_; }
  void setWidth(int twips) override {
    widthTwips_ = twips;
    applyOuterSize();
  }
  int width() const override { return widthTwips_; }

 protected:
  virtual void applyOuterSize() = 0;

  template <class T, class... Args>
  T* adopt(Args&&... args) {
    auto control = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = control.get();
    controls_.push_back(std::move(control));
    return raw;
  }

  std::vector<std::unique_ptr<Control>> controls_;
  int heightTwips_ = 0;
  int widthTwips_ = 0;
};

}  // namespace platform
