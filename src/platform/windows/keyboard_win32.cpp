#include "platform/windows/toolkit_win32_internal.h"

namespace platform::win::detail {

// Keys the message loop handles before the focused control sees them.
bool handleKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  WinForm* form = formOf(GetAncestor(msg.hwnd, GA_ROOT));
  if (!form) return false;
  if (msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0) {
    moveFocus(form, msg.hwnd, GetKeyState(VK_SHIFT) >= 0);
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

}  // namespace platform::win::detail
