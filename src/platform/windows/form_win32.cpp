#include "platform/windows/toolkit_win32.h"

#include "platform/portable/toolkit_common.h"
#include "platform/windows/toolkit_win32_internal.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace platform::win::detail {

ATOM gFormAtom = 0;

namespace {

// A form destroyed inside one of its own events goes on the next turn of the
// message loop: the control whose message is being handled is on the stack.
inline constexpr UINT kDestroyLater = WM_APP + 1;

const wchar_t kFormClass[] = L"TarnwickForm";
const wchar_t kImageClass[] = L"TarnwickImage";

void dispatchCommand(HWND child, WORD code) {
  if (WinControl* control = controlOf(child)) control->command(code);
}

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

}  // namespace

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
    return keep(makeFrame(this, recipe(WC_BUTTONW, BS_GROUPBOX, 0, parent, at), caption));
  }

  CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                  const Font* font) override {
    return keep(makeCommandButton(
        this, recipe(WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0, parent, at, font), caption));
  }

  Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                  const Font* font) override {
    const DWORD alignment = align == Align::Center  ? SS_CENTER
                            : align == Align::Right ? SS_RIGHT
                                                    : SS_LEFT;
    // SS_NOTIFY: without it a static passes the mouse through to its parent.
    return keep(makeLabel(
        this, recipe(WC_STATICW, alignment | SS_NOTIFY | SS_NOPREFIX, 0, parent, at, font), caption,
        align));
  }

  TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) override {
    return keep(makeTextBox(
        this, recipe(WC_EDITW, ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP, WS_EX_CLIENTEDGE, parent, at),
        text));
  }

  ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) override {
    // A combo box's window height includes its drop-down list.
    const int list = MulDiv(static_cast<int>(std::max<size_t>(items.size(), 1)) * 14 + 6,
                            static_cast<int>(dpi_), 96);
    return keep(makeComboBox(
        this,
        recipe(WC_COMBOBOXW, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0, parent,
               at, nullptr, list),
        items));
  }

  ListBox* addListBox(Frame* parent, Twips at) override {
    return keep(makeListBox(
        this, recipe(WC_LISTBOXW,
                     LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                     WS_EX_CLIENTEDGE, parent, at)));
  }

  Image* addImage(Frame* parent, Twips at) override {
    return keep(makeImage(this, recipe(kImageClass, 0, 0, parent, at), dpi_));
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

  // The form owns the controls added to it.
  template <class T>
  T* keep(std::unique_ptr<T> control) {
    T* raw = control.get();
    controls_.push_back(std::move(control));
    return raw;
  }

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

namespace {

void realiseForm(WinForm* form) { form->realise(); }

}  // namespace

void realiseInSight(WinForm* form) { form->realiseInSight(); }

WinForm* formOf(HWND window) {
  if (!window || GetClassWord(window, GCW_ATOM) != gFormAtom) return nullptr;
  return reinterpret_cast<WinForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void passFocusOn(HWND control) {
  if (WinForm* form = formOf(GetAncestor(control, GA_ROOT))) form->moveFocus(control, true);
}

void moveFocus(WinForm* form, HWND from, bool forward) { form->moveFocus(from, forward); }

std::unique_ptr<Form> makeForm() { return std::make_unique<WinForm>(); }

namespace {

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

}  // namespace

}  // namespace platform::win::detail

namespace platform::win {

// A test asks for a window the program would only have with its form shown.
HWND handleOf(const Control* control) {
  const auto* own = dynamic_cast<const detail::WinControl*>(control);
  if (!own) return nullptr;
  detail::realiseForm(own->form());
  if (!own->handle()) own->form()->realiseInSight(true);
  return own->handle();
}

HWND windowOf(const Form* form) {
  auto* own = dynamic_cast<detail::WinForm*>(const_cast<Form*>(form));
  if (!own) return nullptr;
  own->realise();
  return own->window();
}

}  // namespace platform::win
