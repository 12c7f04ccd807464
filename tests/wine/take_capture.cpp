// Takes the mouse from the program, as Windows does when a prompt or another
// program comes to the front: sends WM_CANCELMODE to the window of the
// program's thread that holds the mouse capture.
//   take_capture.exe "Tarnwick - V1.0"
// Exits 1 when the window is not there or nothing of its thread holds the
// capture.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HWND window = FindWindowW(nullptr, argv[1]);
  if (!window) {
    std::printf("no window \"%ls\"\n", argv[1]);
    return 1;
  }
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || !info.hwndCapture) {
    std::printf("no capture in the window's thread\n");
    return 1;
  }
  SendMessageW(info.hwndCapture, WM_CANCELMODE, 0, 0);
  return 0;
}
