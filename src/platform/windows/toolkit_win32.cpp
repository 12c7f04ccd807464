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

// Width in pixels of a text in a control's font.
int textWidth(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

// What every control of this toolkit is, beside its interface: a child window
// that points back at it through GWLP_USERDATA while the control lives.
class WinControl {
 public:
  virtual ~WinControl() = default;
  virtual HWND handle() const = 0;
  // A notification (WM_COMMAND) from the control's window.
  virtual void command(WORD /*code*/) {}
  virtual void paint(HDC /*dc*/, const RECT& /*area*/) {}
  virtual bool isButton() const { return false; }
  virtual void activate() {}
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
  explicit Wrapper(HWND window) : window_(window) {
    SetWindowLongPtrW(window_, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(static_cast<WinControl*>(this)));
  }
  ~Wrapper() override { SetWindowLongPtrW(window_, GWLP_USERDATA, 0); }
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;

  void setVisible(bool visible) override {
    HWND focus = GetFocus();
    const bool hadFocus = !visible && focus && (focus == window_ || IsChild(window_, focus));
    ShowWindow(window_, visible ? SW_SHOWNA : SW_HIDE);
    if (hadFocus) passFocusOn(window_);
  }
  bool visible() const override { return (GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0; }
  HWND handle() const override { return window_; }

 protected:
  HWND window_;
};

// A frame is a group box that holds its controls as child windows. A group
// box does nothing with its children's notifications: they go on to the form.
class WinFrame : public Wrapper<Frame> {
 public:
  explicit WinFrame(HWND box) : Wrapper(box) { SetWindowSubclass(box, &proc, 1, 0); }
  ~WinFrame() override { RemoveWindowSubclass(window_, &proc, 1); }

 private:
  static LRESULT CALLBACK proc(HWND box, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    if ((message == WM_COMMAND && l) ||
        (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
      return SendMessageW(GetAncestor(box, GA_ROOT), message, w, l);
    return DefSubclassProc(box, message, w, l);
  }
};

// A push button that reports press and release of every mouse button, not
// only the left one, and takes a double-click as the press it is: a quick
// second click must not be lost. The button holds the mouse (the capture)
// while a button is down; when the capture goes elsewhere (WM_CANCELMODE when
// a prompt or another program comes to the front, the focus moving on), that
// is the release (MouseHold).
class WinCommandButton : public Wrapper<CommandButton> {
 public:
  explicit WinCommandButton(HWND button) : Wrapper(button) {
    SetWindowSubclass(button, &proc, 1, reinterpret_cast<DWORD_PTR>(this));
  }
  ~WinCommandButton() override { RemoveWindowSubclass(window_, &proc, 1); }

  std::string caption() const override { return win::windowText(window_); }
  void setCaption(const std::string& caption) override {
    SetWindowTextW(window_, widen(caption).c_str());
  }
  void command(WORD code) override {
    if (code == BN_CLICKED) fire(onClick);
  }
  bool isButton() const override { return true; }
  void activate() override { fire(onClick); }

 private:
  // The callbacks may destroy the form and this object with it: nothing here
  // touches the object after firing one.
  void down(int button) {
    hold_.press(button);
    fire(onMouseDown, button);
  }
  void up(int button) {
    if (hold_.release(button)) fire(onMouseUp, button);  // not when pressed elsewhere
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
        // The button lets the mouse go here; another button still down takes
        // it back, and that is no loss.
        const bool othersDown = (w & (MK_RBUTTON | MK_MBUTTON)) != 0;
        self->keepingMouse_ = othersDown;
        self->up(1);
        const LRESULT result = DefSubclassProc(window, message, w, l);  // BN_CLICKED when inside
        if (othersDown && !GetCapture() && IsWindowVisible(window)) SetCapture(window);
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
      case WM_MBUTTONUP: {
        // Another button may still be held: then the capture stays.
        const bool last = (w & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0;
        self->up(message == WM_RBUTTONUP ? 2 : 4);
        if (last && GetCapture() == window) ReleaseCapture();
        return 0;
      }
      case WM_KILLFOCUS:
        // The focus moving on takes the mouse with it, for every button.
        if (GetCapture() == window) ReleaseCapture();
        return DefSubclassProc(window, message, w, l);
      case WM_CAPTURECHANGED: {
        if (reinterpret_cast<HWND>(l) == window) break;  // taken again by this button
        if (self->keepingMouse_) {
          self->keepingMouse_ = false;
          break;
        }
        const LRESULT result = DefSubclassProc(window, message, w, l);  // shows itself up
        self->hold_.lose(self->onMouseUp);
        return result;
      }
      default:
        return DefSubclassProc(window, message, w, l);
    }
    return DefSubclassProc(window, message, w, l);
  }

  MouseHold hold_;
  bool keepingMouse_ = false;  // the left button's release, with another one still down
};

// A label that reports clicks and double-clicks of the left button. A click
// ends with the release over the label. Each press of a double-click is also
// a click: a label toggled by clicks toggles twice, as for two slower clicks.
class WinLabel : public Wrapper<Label> {
 public:
  WinLabel(HWND label, Align align) : Wrapper(label), align_(align) {
    SetWindowSubclass(label, &proc, 1, reinterpret_cast<DWORD_PTR>(this));
    fitRightAligned();
  }
  ~WinLabel() override { RemoveWindowSubclass(window_, &proc, 1); }

  std::string caption() const override { return win::windowText(window_); }
  void setCaption(const std::string& caption) override {
    SetWindowTextW(window_, widen(caption).c_str());
    fitRightAligned();
  }

 private:
  // A right-aligned caption ("Flow Control:") that this font makes wider than
  // its box grows to the left on one line instead of wrapping out of sight.
  void fitRightAligned() {
    if (align_ != Align::Right) return;
    RECT box;
    GetWindowRect(window_, &box);
    MapWindowPoints(nullptr, GetParent(window_), reinterpret_cast<POINT*>(&box), 2);
    const int needed = textWidth(window_, widen(caption())) + 2;
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
  std::string text() const override { return win::windowText(window_); }
  void setText(const std::string& text) override { SetWindowTextW(window_, widen(text).c_str()); }
};

// An editable drop-down combo box: its text is the edit field's, typed or
// picked, and stays as typed.
class WinComboBox : public Wrapper<ComboBox> {
 public:
  WinComboBox(HWND combo, const std::vector<std::string>& items) : Wrapper(combo) {
    for (const std::string& item : items)
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
  }
  std::string text() const override { return win::windowText(window_); }
  void setText(const std::string& text) override { SetWindowTextW(window_, widen(text).c_str()); }
};

// The list keeps each line's text whole and draws its listRow(). It scrolls
// sideways as far as its widest row reaches.
class WinListBox : public Wrapper<ListBox> {
 public:
  using Wrapper::Wrapper;
  int listCount() const override { return static_cast<int>(lines_.size()); }

  std::string item(int index) const override {
    if (index < 0 || index >= listCount()) return {};
    return lines_[static_cast<size_t>(index)];
  }

  void removeItem(int index) override {
    if (index < 0 || index >= listCount()) raise(faults::kInvalidArrayIndex, "Invalid property array index");
    SendMessageW(window_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    lines_.erase(lines_.begin() + index);
    widths_.erase(widths_.begin() + index);
    fitScrollRange();
  }

  void addItem(const std::string& line) override {
    const std::wstring shown = widen(listRow(line));
    const LRESULT row = SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    if (row < 0) raise(7, "Out of memory");
    lines_.push_back(line);
    widths_.push_back(textWidth(window_, shown));
    fitScrollRange();
    SendMessageW(window_, LB_SETTOPINDEX, static_cast<WPARAM>(row), 0);
  }

  void setText(const std::string& text) override {
    const auto hit = std::find(lines_.begin(), lines_.end(), text);
    const WPARAM row = hit == lines_.end() || text.empty()
                           ? static_cast<WPARAM>(-1)
                           : static_cast<WPARAM>(hit - lines_.begin());
    SendMessageW(window_, LB_SETCURSEL, row, 0);
  }

 private:
  // The list draws a row from a few pixels in; the range covers the widest
  // row with that margin on both sides.
  void fitScrollRange() {
    const int widest = widths_.empty() ? 0 : *std::max_element(widths_.begin(), widths_.end());
    SendMessageW(window_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest > 0 ? widest + 6 : 0), 0);
  }

  std::vector<std::string> lines_;
  std::vector<int> widths_;  // of each line's row, in pixels
};

// An image shows its picture at the picture's own size from the top left;
// until one is loaded, a grey 20 x 20 pixel square.
class WinImage : public Wrapper<Image> {
 public:
  WinImage(HWND image, UINT dpi) : Wrapper(image), dpi_(dpi) {}

  void loadPicture(const std::string& path) override {
    picture_ = win::loadPictureFile(widen(localPath(path)));  // raises 53, 481
    file_ = path;
    InvalidateRect(window_, nullptr, TRUE);
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
  return DefWindowProcW(window, message, w, l);
}

void dispatchCommand(HWND child, WORD code) {
  if (WinControl* control = controlOf(child)) control->command(code);
}

class WinForm;
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

class WinForm : public FormBase {
 public:
  WinForm() {
    registerClasses();
    // formProc keeps window_ from WM_NCCREATE on.
    CreateWindowExW(0, kFormClass, L"", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, nullptr, instance(), this);
    if (!window_) raise(7, "Out of memory");
    dpi_ = GetDpiForWindow(window_);
    if (dpi_ == 0) dpi_ = 96;
    RECT outer;
    GetWindowRect(window_, &outer);
    widthTwips_ = twips(outer.right - outer.left);
    heightTwips_ = twips(outer.bottom - outer.top);
  }

  ~WinForm() override {
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

  void setCaption(const std::string& caption) override {
    SetWindowTextW(window_, widen(caption).c_str());
  }
  std::string caption() const override { return win::windowText(window_); }

  void setClientSize(int widthTwips, int heightTwips) override {
    RECT outer{0, 0, px(widthTwips), px(heightTwips)};
    AdjustWindowRectExForDpi(&outer, kFormStyle, FALSE, 0, dpi_);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    widthTwips_ = twips(width);
    heightTwips_ = twips(height);
  }

  void show() override {
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
    BringWindowToTop(window_);
  }
  void hide() override { ShowWindow(window_, SW_HIDE); }
  bool visible() const override { return IsWindowVisible(window_) != FALSE; }

  Frame* addFrame(Frame* parent, Twips at, const std::string& caption) override {
    return adopt<WinFrame>(create(WC_BUTTONW, caption, BS_GROUPBOX, 0, parent, at));
  }

  CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                  const Font* font) override {
    return adopt<WinCommandButton>(
        create(WC_BUTTONW, caption, BS_PUSHBUTTON | WS_TABSTOP, 0, parent, at, font));
  }

  Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                  const Font* font) override {
    const DWORD alignment = align == Align::Center  ? SS_CENTER
                            : align == Align::Right ? SS_RIGHT
                                                    : SS_LEFT;
    // SS_NOTIFY: without it a static passes the mouse through to its parent.
    return adopt<WinLabel>(
        create(WC_STATICW, caption, alignment | SS_NOTIFY | SS_NOPREFIX, 0, parent, at, font),
        align);
  }

  TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) override {
    return adopt<WinTextBox>(create(WC_EDITW, text, ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP,
                                    WS_EX_CLIENTEDGE, parent, at));
  }

  ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) override {
    // A combo box's window height includes its drop-down list.
    const int list = MulDiv(static_cast<int>(std::max<size_t>(items.size(), 1)) * 14 + 6,
                            static_cast<int>(dpi_), 96);
    return adopt<WinComboBox>(
        create(WC_COMBOBOXW, "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0,
               parent, at, nullptr, list),
        items);
  }

  ListBox* addListBox(Frame* parent, Twips at) override {
    return adopt<WinListBox>(create(
        WC_LISTBOXW, "", LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
        WS_EX_CLIENTEDGE, parent, at));
  }

  Image* addImage(Frame* parent, Twips at) override {
    return adopt<WinImage>(create(kImageClass, "", 0, 0, parent, at), dpi_);
  }

  void setTabOrder(const std::vector<Control*>& order) override {
    tabOrder_.clear();
    for (const Control* control : order) {
      if (HWND window = win::handleOf(control)) tabOrder_.push_back(window);
    }
  }

  void setFocus(Control* control) override {
    HWND window = win::handleOf(control);
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

  void applyOuterSize() override {
    SetWindowPos(window_, nullptr, 0, 0, std::max(px(widthTwips_), 0),
                 std::max(px(heightTwips_), 0), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  HWND host(Frame* frame) const {
    HWND box = win::handleOf(frame);
    return box ? box : window_;
  }

  HWND create(const wchar_t* kind, const std::string& text, DWORD style, DWORD exStyle,
              Frame* parent, Twips at, const Font* font = nullptr, int extraHeight = 0) {
    HWND window = CreateWindowExW(
        exStyle, kind, widen(text).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
        px(at.left), px(at.top), px(at.width), px(at.height) + extraHeight, host(parent),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(nextId_++)), instance(), nullptr);
    if (!window) raise(7, "Out of memory");
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(font, dpi_)), FALSE);
    return window;
  }

  HWND window_ = nullptr;
  UINT dpi_ = 96;
  std::vector<HWND> tabOrder_;
  HWND focus_ = nullptr;
  int nextId_ = 100;
};

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

HWND handleOf(const Control* control) {
  const auto* own = dynamic_cast<const WinControl*>(control);
  return own ? own->handle() : nullptr;
}

HWND windowOf(const Form* form) {
  const auto* own = dynamic_cast<const WinForm*>(form);
  return own ? own->window() : nullptr;
}

}  // namespace win
}  // namespace platform
