#pragma once
// What the files of the Win32 toolkit share. Each holds one concern: fonts and
// text widths (fonts_win32.cpp); the controls (controls_win32.cpp, and the two
// the mouse presses, buttons_win32.cpp); the form and its controls' late
// windows (form_win32.cpp); the keys the loop handles itself
// (keyboard_win32.cpp); the toolkit and its message loop (loop_win32.cpp).

#include "platform/controls.h"
#include "platform/fault.h"
#include "platform/windows/wintext.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace platform::win::detail {

class WinForm;

inline HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// The forms' window class, registered with the first form.
extern ATOM gFormAtom;

// The dialog font, or the one given, at a screen resolution (dpi).
HFONT fontFor(const Font* font, UINT dpi);
// Width in pixels of a text in a font.
int textWidth(HFONT font, const std::wstring& text);

// Makes the windows of the form's controls that now show.
void realiseInSight(WinForm* form);
// A control with the focus is being hidden: the focus goes on to the next
// control of its form's tab order that can take it.
void passFocusOn(HWND control);
// The form behind a window, nullptr for any other window.
WinForm* formOf(HWND window);
// Moves the focus along the form's tab order from the window `from`.
void moveFocus(WinForm* form, HWND from, bool forward);
// A new form, without its window until it is first shown.
std::unique_ptr<Form> makeForm();

// How a control's window is made: kept until the control would first show, as
// a hidden form or an unseen part of one needs no windows (the configuration
// dialog and the message log, at start-up).
struct Recipe {
  const wchar_t* kind;
  DWORD style;
  DWORD exStyle;
  HWND (*host)(const WinForm*, Frame*);
  Frame* parent;
  RECT place;  // in pixels
  HFONT font;
  int id;
};

// What every control of this toolkit is, beside its interface: a child window
// that points back at it through GWLP_USERDATA while the control lives. Until
// the window exists the control holds its properties itself.
class WinControl {
 public:
  virtual ~WinControl() = default;
  HWND handle() const { return window_; }
  WinForm* form() const { return form_; }
  // Makes the window from the recipe and the properties held so far.
  virtual void realise() = 0;
  // Whether its window would show in the form's client area now: shown, in a
  // frame that has its window, and at least partly inside the area.
  virtual bool inSight(const RECT& client) const = 0;
  // A notification (WM_COMMAND) from the control's window.
  virtual void command(WORD /*code*/) {}
  virtual void paint(HDC /*dc*/, const RECT& /*area*/) {}
  virtual bool isButton() const { return false; }
  virtual void activate() {}

 protected:
  WinForm* form_ = nullptr;
  HWND window_ = nullptr;
};

inline WinControl* controlOf(HWND window) {
  if (!window || GetClassWord(window, GCW_ATOM) == gFormAtom) return nullptr;  // a form's is its own
  return reinterpret_cast<WinControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The controls, each for its form and made from its recipe.
std::unique_ptr<Frame> makeFrame(WinForm* form, const Recipe& recipe, const std::string& caption);
std::unique_ptr<CommandButton> makeCommandButton(WinForm* form, const Recipe& recipe,
                                                 const std::string& caption);
std::unique_ptr<Label> makeLabel(WinForm* form, const Recipe& recipe, const std::string& caption,
                                 Align align);
std::unique_ptr<TextBox> makeTextBox(WinForm* form, const Recipe& recipe, const std::string& text);
std::unique_ptr<ComboBox> makeComboBox(WinForm* form, const Recipe& recipe,
                                       const std::vector<std::string>& items);
std::unique_ptr<ListBox> makeListBox(WinForm* form, const Recipe& recipe);
std::unique_ptr<Image> makeImage(WinForm* form, const Recipe& recipe, UINT dpi);

// The window procedure of the image controls' class: they paint themselves.
LRESULT CALLBACK imageProc(HWND window, UINT message, WPARAM w, LPARAM l);

// Keys the message loop handles before the focused control sees them.
bool handleKey(const MSG& msg);

template <class Interface>
class Wrapper : public Interface, public WinControl {
 public:
  Wrapper(WinForm* form, const Recipe& recipe, std::string text)
      : recipe_(recipe) {
    form_ = form;
    setFixedText(text);
  }
  ~Wrapper() override {
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  }
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;

  void realise() override {
    if (window_) return;
    const RECT& at = recipe_.place;
    window_ = CreateWindowExW(
        recipe_.exStyle, recipe_.kind, widen(text_).c_str(),
        WS_CHILD | WS_CLIPSIBLINGS | (visible_ ? WS_VISIBLE : 0) | recipe_.style, at.left, at.top,
        at.right, at.bottom, recipe_.host(form_, recipe_.parent),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(recipe_.id)), instance(), nullptr);
    if (!window_) raise(7, "Out of memory");
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(recipe_.font), FALSE);
    SetWindowLongPtrW(window_, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(static_cast<WinControl*>(this)));
    created();
  }

  bool inSight(const RECT& client) const override {
    if (!visible_) return false;
    const auto* frame = dynamic_cast<const WinControl*>(recipe_.parent);
    if (frame && !frame->handle()) return false;
    HWND host = recipe_.host(form_, recipe_.parent);
    if (!host) return false;
    RECT at{recipe_.place.left, recipe_.place.top, recipe_.place.left + recipe_.place.right,
            recipe_.place.top + recipe_.place.bottom};
    HWND formWindow = GetAncestor(host, GA_ROOT);
    if (host != formWindow) {
      // Inside a frame: the part of it the frame shows, where the form shows it.
      RECT box;
      if (!(GetWindowLongW(host, GWL_STYLE) & WS_VISIBLE) || !GetClientRect(host, &box) ||
          !IntersectRect(&at, &at, &box))
        return false;
      MapWindowPoints(host, formWindow, reinterpret_cast<POINT*>(&at), 2);
    }
    RECT both;
    return IntersectRect(&both, &at, &client) != FALSE;
  }

  void setVisible(bool visible) override {
    if (!window_) {
      visible_ = visible;
      if (visible) realiseInSight(form_);  // it may show now
      return;
    }
    HWND focus = GetFocus();
    const bool hadFocus = !visible && focus && (focus == window_ || IsChild(window_, focus));
    ShowWindow(window_, visible ? SW_SHOWNA : SW_HIDE);
    if (hadFocus) passFocusOn(window_);
    if (visible) realiseInSight(form_);  // a frame's controls may show now
  }
  bool visible() const override {
    if (!window_) return visible_;
    return (GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0;
  }

 protected:
  // What the kind of control does once its window exists.
  virtual void created() {}

  // The text the user cannot change (captions) is the one held here, as the
  // window would give it back.
  const std::string& fixedText() const { return text_; }
  void setFixedText(const std::string& text) {
    const std::wstring wide = widen(text);
    text_ = narrow(wide.substr(0, wide.find(L'\0')));
    if (window_) SetWindowTextW(window_, wide.c_str());
  }
  // The text the user edits is the window's once there is one.
  std::string editedText() const { return window_ ? win::windowText(window_) : text_; }
  void setEditedText(const std::string& text) { setFixedText(text); }

  Recipe recipe_;
  std::string text_;
  bool visible_ = true;
};

}  // namespace platform::win::detail
