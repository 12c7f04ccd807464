// The controls the mouse presses: the command button (the port buttons) and
// the label that takes clicks (the mode words of the configuration dialog).

#include "platform/windows/toolkit_win32_internal.h"

#include "platform/portable/toolkit_common.h"

#include <commctrl.h>

#include <algorithm>

namespace platform::win::detail {

namespace {

// The button whose control is letting go of the mouse for a left release
// passed on to it: that one change of the capture is no loss.
HWND gLettingGo = nullptr;

// A push button that reports press and release of every mouse button, not
// only the left one, and takes a double-click as the press it is: a quick
// second click must not be lost. The button holds the mouse (the capture)
// exactly while a button pressed on it is down. The capture going elsewhere
// (WM_CANCELMODE when a prompt or another program comes to the front, another
// window taking it) or the focus moving on is the release (MouseHold); only
// the control letting go on a left release is not, and the button then takes
// the mouse back for a button still down.
// Space clicks it when let go, as the control does, but without the capture
// the control would take for it: the next click, meant for another button,
// would come here. Keys never press or release (onMouseDown, onMouseUp).
class WinCommandButton : public Wrapper<CommandButton> {
 public:
  using Wrapper::Wrapper;
  ~WinCommandButton() override {
    if (window_) RemoveWindowSubclass(window_, &proc, 1);
  }

  std::string caption() const override { return fixedText(); }
  void setCaption(const std::string& caption) override { setFixedText(caption); }
  void command(WORD code) override {
    if (code == BN_CLICKED) fire(onClick);
  }
  bool isButton() const override { return true; }
  void activate() override { fire(onClick); }

 private:
  void created() override {
    SetWindowSubclass(window_, &proc, 1, reinterpret_cast<DWORD_PTR>(this));
  }

  // The callbacks may destroy the form and this object with it: nothing here
  // touches the object after firing one. What follows a callback finds the
  // object again through its window (alive), or not at all.
  void down(int button) {
    hold_.press(button);
    fire(onMouseDown, button);
  }
  void up(int button) {
    if (hold_.release(button)) fire(onMouseUp, button);  // not when pressed elsewhere
  }

  // The button behind a window, while it lives: it unhooks itself from the
  // window when it goes.
  static WinCommandButton* alive(HWND window) {
    return dynamic_cast<WinCommandButton*>(controlOf(window));
  }

  // After a release: the mouse stays here while a button pressed here is
  // still down, and goes otherwise. Taken meanwhile by something else (a
  // prompt a click opened, the form hidden), it is lost for those buttons.
  static void settle(HWND window) {
    WinCommandButton* self = alive(window);
    if (!self) return;
    if (!self->hold_.holding()) {
      if (GetCapture() == window) ReleaseCapture();
      return;
    }
    if (GetCapture() == window) return;
    if (!GetCapture() && IsWindowVisible(window)) SetCapture(window);
    else self->hold_.lose(self->onMouseUp);
  }

  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                               DWORD_PTR data) {
    auto* self = reinterpret_cast<WinCommandButton*>(data);
    switch (message) {
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        self->down(1);
        // The button captures the mouse and shows itself pushed.
        return DefSubclassProc(window, WM_LBUTTONDOWN, w, l);
      case WM_LBUTTONUP: {
        self->up(1);
        // The control lets the mouse go (BN_CLICKED when inside), or keeps
        // it when the left button was not pressed on it.
        HWND outer = gLettingGo;
        gLettingGo = window;
        const LRESULT result = DefSubclassProc(window, message, w, l);
        gLettingGo = outer;
        settle(window);
        return result;
      }
      case WM_RBUTTONDOWN:
      case WM_RBUTTONDBLCLK:
      case WM_MBUTTONDOWN:
      case WM_MBUTTONDBLCLK:
        // The release must come back here wherever the pointer goes.
        if (GetCapture() != window) SetCapture(window);
        self->down(message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK ? 2 : 4);
        return 0;
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        self->up(message == WM_RBUTTONUP ? 2 : 4);
        settle(window);
        return 0;
      case WM_KEYDOWN:
        if (w != VK_SPACE) break;
        if (!self->spaceDown_) {
          self->spaceDown_ = true;
          SendMessageW(window, BM_SETSTATE, TRUE, 0);  // shown pushed
        }
        return 0;
      case WM_KEYUP:
        if (w != VK_SPACE) break;
        if (!self->spaceDown_) return 0;  // pressed before the focus came
        self->spaceDown_ = false;
        SendMessageW(window, BM_SETSTATE, FALSE, 0);
        fire(self->onClick);
        return 0;
      case WM_KILLFOCUS: {
        // The focus moving on takes the mouse with it, for every button, and
        // Space let go elsewhere is no click.
        if (self->spaceDown_) {
          self->spaceDown_ = false;
          SendMessageW(window, BM_SETSTATE, FALSE, 0);
        }
        if (GetCapture() == window) ReleaseCapture();  // the loss, below
        const LRESULT result = DefSubclassProc(window, message, w, l);
        // Also while the control had let go of the mouse for a left release.
        if (WinCommandButton* still = alive(window)) still->hold_.lose(still->onMouseUp);
        return result;
      }
      case WM_CAPTURECHANGED: {
        if (reinterpret_cast<HWND>(l) == window) break;  // taken again by this button
        const LRESULT result = DefSubclassProc(window, message, w, l);  // shows itself up
        if (gLettingGo == window) {
          gLettingGo = nullptr;  // once: a later change is a loss
          return result;
        }
        self->hold_.lose(self->onMouseUp);
        return result;
      }
      default:
        break;
    }
    return DefSubclassProc(window, message, w, l);
  }

  MouseHold hold_;
  bool spaceDown_ = false;  // Space went down with the focus here
};

// A label that reports clicks and double-clicks of the left button. A click
// ends with the release over the label. Each press of a double-click is also
// a click: a label toggled by clicks toggles twice, as for two slower clicks.
class WinLabel : public Wrapper<Label> {
 public:
  WinLabel(WinForm* form, const Recipe& recipe, const std::string& caption, Align align)
      : Wrapper(form, recipe, caption), align_(align) {}
  ~WinLabel() override {
    if (window_) RemoveWindowSubclass(window_, &proc, 1);
  }

  // The port buttons read the mode captions at every press, shown or not.
  std::string caption() const override { return fixedText(); }
  void setCaption(const std::string& caption) override {
    setFixedText(caption);
    if (window_) fitRightAligned();
  }

 private:
  void created() override {
    SetWindowSubclass(window_, &proc, 1, reinterpret_cast<DWORD_PTR>(this));
    fitRightAligned();
  }

  // A right-aligned caption ("Flow Control:") that this font makes wider than
  // its box grows to the left on one line instead of wrapping out of sight.
  void fitRightAligned() {
    if (align_ != Align::Right) return;
    RECT box;
    GetWindowRect(window_, &box);
    MapWindowPoints(nullptr, GetParent(window_), reinterpret_cast<POINT*>(&box), 2);
    const int needed = textWidth(recipe_.font, widen(caption())) + 2;
    if (needed <= box.right - box.left) return;
    const int left = std::max<int>(0, box.right - needed);
    SetWindowPos(window_, nullptr, left, box.top, box.right - left, box.bottom - box.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                               DWORD_PTR data) {
    auto* self = reinterpret_cast<WinLabel*>(data);
    switch (message) {
      case WM_LBUTTONDOWN:
        SetCapture(window);
        self->pressed_ = true;
        return 0;
      case WM_LBUTTONDBLCLK:
        SetCapture(window);
        self->pressed_ = true;
        fire(self->onDblClick);
        return 0;
      case WM_LBUTTONUP: {
        if (!self->pressed_) return 0;
        self->pressed_ = false;
        if (GetCapture() == window) ReleaseCapture();
        RECT client;
        GetClientRect(window, &client);
        const POINT at{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
        if (PtInRect(&client, at)) fire(self->onClick);
        return 0;
      }
      case WM_CAPTURECHANGED:
        self->pressed_ = false;
        return 0;
      default:
        return DefSubclassProc(window, message, w, l);
    }
  }

  Align align_;
  bool pressed_ = false;
};

}  // namespace

std::unique_ptr<CommandButton> makeCommandButton(WinForm* form, const Recipe& recipe,
                                                 const std::string& caption) {
  return std::make_unique<WinCommandButton>(form, recipe, caption);
}

std::unique_ptr<Label> makeLabel(WinForm* form, const Recipe& recipe, const std::string& caption,
                                 Align align) {
  return std::make_unique<WinLabel>(form, recipe, caption, align);
}

}  // namespace platform::win::detail
