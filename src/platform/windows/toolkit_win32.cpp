#include "platform/windows/toolkit_win32.h"

#include "platform/controls.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/portable/toolkit_common.h"
#include "platform/windows/picture_win32.h"
#include "platform/windows/wintext.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <utility>

namespace platform {

namespace {

using win::narrow;
using win::widen;

// A form destroyed inside one of its own events goes on the next turn of the
// message loop: the control whose message is being handled is on the stack.
inline constexpr UINT kDestroyLater = WM_APP + 1;

const wchar_t kFormClass[] = L"TarnwickForm";
const wchar_t kImageClass[] = L"TarnwickImage";
ATOM gFormAtom = 0;

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// Fonts by face, height in pixels and style; they live as long as the program.
HFONT fontFor(const std::string& family, double points, bool bold, bool italic, UINT dpi) {
  const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
  static std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts;
  const auto key = std::make_tuple(family, height, bold, italic);
  const auto hit = fonts.find(key);
  if (hit != fonts.end()) return hit->second;
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfItalic = italic ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  const std::wstring face = widen(family).substr(0, LF_FACESIZE - 1);
  std::copy(face.begin(), face.end(), font.lfFaceName);
  HFONT made = CreateFontIndirectW(&font);
  fonts.emplace(key, made);
  return made;
}

// The windows are laid out in twips for the classic 8 pt dialog font.
HFONT fontFor(const Font* font, UINT dpi) {
  if (!font) return fontFor("MS Sans Serif", 8.25, false, false, dpi);
  return fontFor(font->family.empty() ? "MS Sans Serif" : font->family, font->points, font->bold,
                 font->italic, dpi);
}

// Width in pixels of a text in a font. Measured on a memory DC of the screen:
// a window's DC costs a trip for its visible region, once per log line.
int textWidth(HFONT font, const std::wstring& text) {
  static HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  return size.cx;
}

class WinForm;
void realiseForm(WinForm* form);
void realiseInSight(WinForm* form);

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

WinControl* controlOf(HWND window) {
  if (!window || GetClassWord(window, GCW_ATOM) == gFormAtom) return nullptr;  // a form's is its own
  return reinterpret_cast<WinControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// A control with the focus is being hidden: the focus goes on to the next
// control of its form's tab order that can take it.
void passFocusOn(HWND control);

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

// A frame is a group box that holds its controls as child windows. A group
// box does nothing with its children's notifications: they go on to the form.
class WinFrame : public Wrapper<Frame> {
 public:
  using Wrapper::Wrapper;
  ~WinFrame() override {
    if (window_) RemoveWindowSubclass(window_, &proc, 1);
  }

 private:
  void created() override { SetWindowSubclass(window_, &proc, 1, 0); }

  static LRESULT CALLBACK proc(HWND box, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    if ((message == WM_COMMAND && l) ||
        (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
      return SendMessageW(GetAncestor(box, GA_ROOT), message, w, l);
    return DefSubclassProc(box, message, w, l);
  }
};

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

class WinTextBox : public Wrapper<TextBox> {
 public:
  using Wrapper::Wrapper;
  std::string text() const override { return editedText(); }
  void setText(const std::string& text) override { setEditedText(text); }
};

// An editable drop-down combo box: its text is the edit field's, typed or
// picked, and stays as typed.
class WinComboBox : public Wrapper<ComboBox> {
 public:
  WinComboBox(WinForm* form, const Recipe& recipe, std::vector<std::string> items)
      : Wrapper(form, recipe, ""), items_(std::move(items)) {}
  std::string text() const override { return editedText(); }
  void setText(const std::string& text) override { setEditedText(text); }

 private:
  // Made with no text: the list first, then the text as it was set.
  void created() override {
    for (const std::string& item : items_)
      SendMessageW(window_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
    if (!text_.empty()) SetWindowTextW(window_, widen(text_).c_str());
  }

  std::vector<std::string> items_;
};

// The list keeps each line's text whole and draws its listRow(). It scrolls
// sideways as far as its widest row reaches.
class WinListBox : public Wrapper<ListBox> {
 public:
  WinListBox(WinForm* form, const Recipe& recipe) : Wrapper(form, recipe, "") {}
  int listCount() const override { return static_cast<int>(lines_.size()); }

  std::string item(int index) const override {
    if (index < 0 || index >= listCount()) return {};
    return lines_[static_cast<size_t>(index)];
  }

  void removeItem(int index) override {
    if (index < 0 || index >= listCount()) raise(faults::kInvalidArrayIndex, "Invalid property array index");
    lines_.erase(lines_.begin() + index);
    widths_.erase(widths_.begin() + index);
    if (!window_) return;
    SendMessageW(window_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    fitScrollRange();
  }

  void addItem(const std::string& line) override {
    const std::wstring shown = widen(listRow(line));
    if (window_) {
      const LRESULT row = SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
      if (row < 0) raise(7, "Out of memory");
    }
    lines_.push_back(line);
    widths_.push_back(textWidth(recipe_.font, shown));
    if (!window_) return;
    fitScrollRange();
    SendMessageW(window_, LB_SETTOPINDEX, static_cast<WPARAM>(lines_.size() - 1), 0);
  }

  void setText(const std::string& text) override {
    const auto hit = std::find(lines_.begin(), lines_.end(), text);
    selected_ = hit == lines_.end() || text.empty() ? -1 : static_cast<int>(hit - lines_.begin());
    if (window_) SendMessageW(window_, LB_SETCURSEL, static_cast<WPARAM>(selected_), 0);
  }

 private:
  void created() override {
    for (const std::string& line : lines_) {
      const std::wstring shown = widen(listRow(line));
      if (SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str())) < 0)
        raise(7, "Out of memory");
    }
    if (lines_.empty()) return;
    fitScrollRange();
    SendMessageW(window_, LB_SETTOPINDEX, static_cast<WPARAM>(lines_.size() - 1), 0);
    if (selected_ >= 0 && selected_ < listCount())
      SendMessageW(window_, LB_SETCURSEL, static_cast<WPARAM>(selected_), 0);
  }

  // The list draws a row from a few pixels in; the range covers the widest
  // row with that margin on both sides.
  void fitScrollRange() {
    const int widest = widths_.empty() ? 0 : *std::max_element(widths_.begin(), widths_.end());
    const int extent = widest > 0 ? widest + 6 : 0;
    if (extent == extent_) return;  // most log lines are as wide as the last
    extent_ = extent;
    SendMessageW(window_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
  }

  std::vector<std::string> lines_;
  std::vector<int> widths_;  // of each line's row, in pixels
  int selected_ = -1;        // until the window exists
  int extent_ = -1;          // the range last given to the window
};

// An image shows its picture at the picture's own size from the top left;
// until one is loaded, a grey 20 x 20 pixel square.
class WinImage : public Wrapper<Image> {
 public:
  WinImage(WinForm* form, const Recipe& recipe, UINT dpi) : Wrapper(form, recipe, ""), dpi_(dpi) {}

  void loadPicture(const std::string& path) override {
    picture_ = win::loadPictureFile(widen(localPath(path)));  // raises 53, 481
    file_ = path;
    if (window_) InvalidateRect(window_, nullptr, TRUE);
  }
  std::string pictureFile() const override { return file_; }

  void paint(HDC dc, const RECT&) override {
    if (picture_) {
      picture_->draw(dc, 0, 0, MulDiv(picture_->width(), static_cast<int>(dpi_), 96),
                     MulDiv(picture_->height(), static_cast<int>(dpi_), 96));
      return;
    }
    const int side = MulDiv(20, static_cast<int>(dpi_), 96);
    HBRUSH fill = CreateSolidBrush(RGB(200, 200, 200));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    const HGDIOBJ oldBrush = SelectObject(dc, fill);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    Rectangle(dc, 0, 0, side, side);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(fill);
    DeleteObject(pen);
  }

 private:
  UINT dpi_;
  std::shared_ptr<const win::Picture> picture_;
  std::string file_;  // as the program gave it
};

LRESULT CALLBACK imageProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (WinControl* control = controlOf(window)) control->paint(dc, paint.rcPaint);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_PRINTCLIENT) {  // PrintWindow, and a drag image
    RECT all{};
    GetClientRect(window, &all);
    if (WinControl* control = controlOf(window)) control->paint(reinterpret_cast<HDC>(w), all);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

void dispatchCommand(HWND child, WORD code) {
  if (WinControl* control = controlOf(child)) control->command(code);
}

WinForm* formOf(HWND window);

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM w, LPARAM l);

void registerClasses() {
  if (gFormAtom) return;
  WNDCLASSEXW form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = &formProc;
  form.hInstance = instance();
  form.hIcon = LoadIconW(instance(), MAKEINTRESOURCEW(1));
  form.hIconSm = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  form.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  form.lpszClassName = kFormClass;
  gFormAtom = RegisterClassExW(&form);

  WNDCLASSEXW image{};
  image.cbSize = sizeof image;
  image.lpfnWndProc = &imageProc;
  image.hInstance = instance();
  image.hCursor = form.hCursor;
  image.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  image.lpszClassName = kImageClass;
  RegisterClassExW(&image);
}

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// A form makes its window when it is first shown (or a test asks for a
// window), and a control's window when the control would first show, as Qt
// does: a hidden form, or a hidden or unseen control, costs no windows. Until
// then they hold what the program set.
class WinForm : public FormBase {
 public:
  WinForm() {
    registerClasses();
    dpi_ = GetDpiForSystem();
    if (dpi_ == 0) dpi_ = 96;
  }

  ~WinForm() override {
    if (!window_) return;
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    controls_.clear();  // they let go of their windows first
    if (callbackDepth() > 0) {
      ShowWindow(window_, SW_HIDE);
      PostMessageW(window_, kDestroyLater, 0, 0);
    } else {
      DestroyWindow(window_);
    }
  }
  WinForm(const WinForm&) = delete;
  WinForm& operator=(const WinForm&) = delete;

  HWND window() const { return window_; }
  void attach(HWND window) { window_ = window; }

  // Makes the window, then its controls' in the order they were added (a
  // frame before what it holds), with what was set meanwhile.
  void realise() {
    if (window_) return;
    RECT outer{0, 0, std::max(px(widthTwips_), 0), std::max(px(heightTwips_), 0)};
    const bool sized = widthTwips_ > 0 || heightTwips_ > 0;
    // formProc keeps window_ from WM_NCCREATE on.
    CreateWindowExW(0, kFormClass, widen(caption_).c_str(), kFormStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, sized ? outer.right : CW_USEDEFAULT,
                    sized ? outer.bottom : CW_USEDEFAULT, nullptr, nullptr, instance(), this);
    if (!window_) raise(7, "Out of memory");
    if (!sized) {
      RECT made;
      GetWindowRect(window_, &made);
      widthTwips_ = twips(made.right - made.left);
      heightTwips_ = twips(made.bottom - made.top);
    }
    realiseInSight();
    if (focusControl_) focus_ = handleOf(focusControl_);
  }

  // Makes the windows of the controls that now show, in the order they were
  // added: the rest wait until the form grows or they are shown, so a part
  // of the form out of sight (the message log below the compact window)
  // costs no windows at start-up. `all`: every control, shown or not.
  void realiseInSight(bool all = false) {
    if (!window_) return;
    RECT client;
    GetClientRect(window_, &client);
    bool made = false;
    for (const auto& control : controls_) {
      auto& own = dynamic_cast<WinControl&>(*control);
      if (own.handle() || !(all || own.inSight(client))) continue;
      own.realise();
      if (realisedOnce_) placeLate(&own);  // the first pass makes them in order
      made = true;
    }
    realisedOnce_ = true;
    if (made) fillTabOrder();
  }

  // Where a control's window made late goes among its siblings: where it
  // would be had all been made at once, in the order the controls were
  // added. The system puts a new child window at one end; which end tells
  // the order.
  void placeLate(const WinControl* late) const {
    HWND window = late->handle();
    HWND parent = GetParent(window);
    const bool newestOnTop = GetWindow(window, GW_HWNDPREV) == nullptr;
    HWND before = nullptr;  // the nearest sibling added before it, with a window
    HWND after = nullptr;   // the nearest one added after it
    bool seen = false;
    for (const auto& control : controls_) {
      const auto& own = dynamic_cast<const WinControl&>(*control);
      if (&own == late) {
        seen = true;
        continue;
      }
      if (!own.handle() || GetParent(own.handle()) != parent) continue;
      if (!seen) before = own.handle();
      else if (!after) after = own.handle();
    }
    // SetWindowPos puts a window just below the one it names.
    HWND above = newestOnTop ? after : before;
    if (GetWindow(window, GW_HWNDPREV) == above) return;
    SetWindowPos(window, above ? above : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
  }

  void setCaption(const std::string& caption) override {
    if (window_) SetWindowTextW(window_, widen(caption).c_str());
    else caption_ = caption;
  }
  std::string caption() const override {
    if (window_) return win::windowText(window_);
    const std::wstring wide = widen(caption_);
    return narrow(wide.substr(0, wide.find(L'\0')));
  }

  void setClientSize(int widthTwips, int heightTwips) override {
    RECT outer{0, 0, px(widthTwips), px(heightTwips)};
    AdjustWindowRectExForDpi(&outer, kFormStyle, FALSE, 0, dpi_);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    if (window_)
      SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    widthTwips_ = twips(width);
    heightTwips_ = twips(height);
    realiseInSight();
  }

  void show() override {
    realise();
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
    BringWindowToTop(window_);
  }
  void hide() override {
    if (window_) ShowWindow(window_, SW_HIDE);
  }
  bool visible() const override { return window_ && IsWindowVisible(window_) != FALSE; }

  Frame* addFrame(Frame* parent, Twips at, const std::string& caption) override {
    return adopt<WinFrame>(this, recipe(WC_BUTTONW, BS_GROUPBOX, 0, parent, at), caption);
  }

  CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                  const Font* font) override {
    return adopt<WinCommandButton>(
        this, recipe(WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0, parent, at, font), caption);
  }

  Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                  const Font* font) override {
    const DWORD alignment = align == Align::Center  ? SS_CENTER
                            : align == Align::Right ? SS_RIGHT
                                                    : SS_LEFT;
    // SS_NOTIFY: without it a static passes the mouse through to its parent.
    return adopt<WinLabel>(
        this, recipe(WC_STATICW, alignment | SS_NOTIFY | SS_NOPREFIX, 0, parent, at, font), caption,
        align);
  }

  TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) override {
    return adopt<WinTextBox>(
        this, recipe(WC_EDITW, ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP, WS_EX_CLIENTEDGE, parent, at),
        text);
  }

  ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) override {
    // A combo box's window height includes its drop-down list.
    const int list = MulDiv(static_cast<int>(std::max<size_t>(items.size(), 1)) * 14 + 6,
                            static_cast<int>(dpi_), 96);
    return adopt<WinComboBox>(
        this,
        recipe(WC_COMBOBOXW, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0, parent,
               at, nullptr, list),
        items);
  }

  ListBox* addListBox(Frame* parent, Twips at) override {
    return adopt<WinListBox>(
        this, recipe(WC_LISTBOXW,
                     LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                     WS_EX_CLIENTEDGE, parent, at));
  }

  Image* addImage(Frame* parent, Twips at) override {
    return adopt<WinImage>(this, recipe(kImageClass, 0, 0, parent, at), dpi_);
  }

  void setTabOrder(const std::vector<Control*>& order) override {
    tabControls_ = order;
    fillTabOrder();
  }

  void setFocus(Control* control) override {
    if (!dynamic_cast<const WinControl*>(control)) return;
    if (!window_) {
      focusControl_ = control;  // for the first activation
      return;
    }
    HWND window = handleOf(control);
    if (!window) return;
    // Kept for the window's next activation, which would otherwise put the
    // focus on the window itself.
    focus_ = window;
    if (GetActiveWindow() == window_) SetFocus(window);
  }

  // Tab and Shift+Tab walk the tab order from the control that has the focus,
  // passing over hidden and disabled ones; from nullptr, forward, is the
  // first that can take the focus.
  void moveFocus(HWND from, bool forward) {
    if (tabOrder_.empty()) return;
    const int count = static_cast<int>(tabOrder_.size());
    int at = forward ? -1 : count;
    for (int i = 0; i < count; ++i) {
      if (tabOrder_[static_cast<size_t>(i)] == from ||
          IsChild(tabOrder_[static_cast<size_t>(i)], from)) {
        at = i;
        break;
      }
    }
    for (int step = 1; step <= count; ++step) {
      const int i = ((at + (forward ? step : -step)) % count + count) % count;
      HWND next = tabOrder_[static_cast<size_t>(i)];
      if (!IsWindowVisible(next) || !IsWindowEnabled(next)) continue;
      SetFocus(next);
      // As in a dialog, a text field reached by the keyboard has its text selected.
      wchar_t kind[16] = {};
      GetClassNameW(next, kind, 16);
      if (lstrcmpiW(kind, WC_EDITW) == 0) SendMessageW(next, EM_SETSEL, 0, -1);
      if (lstrcmpiW(kind, WC_COMBOBOXW) == 0) SendMessageW(next, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
      return;
    }
  }

  void closeRequested() { fire(onClose); }

  // WM_ACTIVATE: the focus leaves with the window and comes back with it,
  // but never to a control that was hidden or disabled meanwhile: then to the
  // next one in the tab order. The first time, as a dialog does, it goes to
  // the first control of the tab order. A control that holds the mouse loses
  // it with the window (WM_CANCELMODE, as Windows sends for a prompt).
  bool activated(WPARAM state) {
    if (LOWORD(state) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(window_, focus)) focus_ = focus;
      HWND held = GetCapture();
      if (held && IsChild(window_, held)) SendMessageW(held, WM_CANCELMODE, 0, 0);
      return false;
    }
    if (IsIconic(window_)) return false;
    if (focus_ && !(IsWindow(focus_) && IsChild(window_, focus_))) focus_ = nullptr;
    if (focus_ && IsWindowVisible(focus_) && IsWindowEnabled(focus_)) {
      SetFocus(focus_);
      return true;
    }
    if (tabOrder_.empty()) return false;
    moveFocus(focus_, true);
    return true;
  }

 private:
  int px(int twips) const { return MulDiv(twips, static_cast<int>(dpi_), 1440); }
  int twips(int pixels) const { return MulDiv(pixels, 1440, static_cast<int>(dpi_)); }

  // The tab order's windows: those of its controls that have one so far.
  void fillTabOrder() {
    if (!window_) return;
    tabOrder_.clear();
    for (const Control* control : tabControls_) {
      if (HWND window = handleOf(control)) tabOrder_.push_back(window);
    }
  }

  void applyOuterSize() override {
    if (!window_) return;
    SetWindowPos(window_, nullptr, 0, 0, std::max(px(widthTwips_), 0),
                 std::max(px(heightTwips_), 0), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    realiseInSight();
  }

  // A control's window, made with its form's; one of another form stays as it is.
  static HWND handleOf(const Control* control) {
    const auto* own = dynamic_cast<const WinControl*>(control);
    return own ? own->handle() : nullptr;
  }

  static HWND host(const WinForm* form, Frame* frame) {
    HWND box = handleOf(frame);
    return box ? box : form->window_;
  }

  Recipe recipe(const wchar_t* kind, DWORD style, DWORD exStyle, Frame* parent, Twips at,
                const Font* font = nullptr, int extraHeight = 0) {
    return Recipe{kind, style, exStyle, &host, parent,
                  RECT{px(at.left), px(at.top), px(at.width), px(at.height) + extraHeight},
                  fontFor(font, dpi_), nextId_++};
  }

  HWND window_ = nullptr;
  UINT dpi_ = 96;
  std::string caption_;  // until the window exists
  std::vector<Control*> tabControls_;
  std::vector<HWND> tabOrder_;
  Control* focusControl_ = nullptr;  // set before the window existed
  HWND focus_ = nullptr;
  int nextId_ = 100;
  bool realisedOnce_ = false;  // windows made after that are placed among their siblings
};

void realiseForm(WinForm* form) { form->realise(); }
void realiseInSight(WinForm* form) { form->realiseInSight(); }

WinForm* formOf(HWND window) {
  if (!window || GetClassWord(window, GCW_ATOM) != gFormAtom) return nullptr;
  return reinterpret_cast<WinForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void passFocusOn(HWND control) {
  if (WinForm* form = formOf(GetAncestor(control, GA_ROOT))) form->moveFocus(control, true);
}

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<WinForm*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    form->attach(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  WinForm* form = reinterpret_cast<WinForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kDestroyLater:
      DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      // The program decides whether the window goes.
      if (form) form->closeRequested();
      return 0;
    case WM_COMMAND:
      if (l) {
        dispatchCommand(reinterpret_cast<HWND>(l), HIWORD(w));
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (form && form->activated(w)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

// Keys the message loop handles before the focused control sees them.
bool handleKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  WinForm* form = formOf(GetAncestor(msg.hwnd, GA_ROOT));
  if (!form) return false;
  if (msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0) {
    form->moveFocus(msg.hwnd, GetKeyState(VK_SHIFT) >= 0);
    return true;
  }
  // Enter activates the focused button, as Space does; held down, it acts once.
  const bool repeat = (msg.lParam & (1 << 30)) != 0;
  if (msg.wParam == VK_RETURN) {
    WinControl* control = controlOf(msg.hwnd);
    if (control && control->isButton()) {
      if (!repeat) control->activate();
      return true;
    }
  }
  return false;
}

class WinToolkit : public Toolkit {
 public:
  std::unique_ptr<Form> newForm() override { return std::make_unique<WinForm>(); }
  // WM_QUIT comes out of the queue after the messages already posted.
  void endProgram(int status) override { PostQuitMessage(status); }
};

}  // namespace

namespace win {

void installToolkit() {
  static WinToolkit kit;
  setToolkit(&kit);
  setUntrappedEcho([](const char* line) { OutputDebugStringA(line); });
}

int runMessageLoop() {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got < 0) return 1;
    if (handleKey(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// A test asks for a window the program would only have with its form shown.
HWND handleOf(const Control* control) {
  const auto* own = dynamic_cast<const WinControl*>(control);
  if (!own) return nullptr;
  realiseForm(own->form());
  if (!own->handle()) own->form()->realiseInSight(true);
  return own->handle();
}

HWND windowOf(const Form* form) {
  auto* own = dynamic_cast<WinForm*>(const_cast<Form*>(form));
  if (!own) return nullptr;
  own->realise();
  return own->window();
}

}  // namespace win
}  // namespace platform
