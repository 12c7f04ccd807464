#pragma once
// A message-only window on the calling thread: how the serial control's
// reader, the endpoint's I/O thread and the timers reach the user-interface
// thread. Message-only windows get no broadcasts and cost no drawing.

#include <windows.h>

namespace platform::win {

// Registers `className` with `proc` (once per class; later calls find it
// registered) and makes a window of it; nullptr when the system refuses.
inline HWND makeMessageWindow(const wchar_t* className, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);  // fails, harmlessly, once the class is there
  return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace platform::win
