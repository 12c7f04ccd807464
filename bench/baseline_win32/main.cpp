// tarnwick-baseline.exe: the least a Win32 program doing the same job needs,
// to compare tarnwick.exe against under Wine. Built as tarnwick.exe is, with
// the same manifest (common controls 6, DPI aware; baseline.rc). One fixed
// window with a 371 x 211 client area: a "Ports" frame with five names, five
// LED-sized statics and five bold port buttons ("P<i>1" on press, "P<i>0" on
// release), Configure, the web-address label, Exit, and a hidden list of what
// arrives on COM1, read by an overlapped reader thread as the real control
// does. COM1 is opened and set up (speed, format, flow control, time-outs)
// before the window is made.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

HANDLE gPort = INVALID_HANDLE_VALUE;
HWND gList = nullptr;
WNDPROC gButtonProc = nullptr;
constexpr UINT kReceived = WM_APP + 1;

void send(const char* command) {
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD n = 0;
  if (!WriteFile(gPort, command, 3, nullptr, &o) && GetLastError() == ERROR_IO_PENDING)
    GetOverlappedResult(gPort, &o, &n, TRUE);
  CloseHandle(o.hEvent);
}

LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
    const auto i = GetDlgCtrlID(button) - 100;
    const bool down = message == WM_LBUTTONDOWN;
    const char command[4] = {'P', static_cast<char>('0' + i), down ? '1' : '0', '\0'};
    send(command);
    SetWindowTextW(button, down ? L"ON" : L"OFF");
  }
  return CallWindowProcW(gButtonProc, button, message, wParam, lParam);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kReceived) {
    auto* text = reinterpret_cast<std::string*>(lParam);
    if (SendMessageW(gList, LB_GETCOUNT, 0, 0) == 13) SendMessageW(gList, LB_DELETESTRING, 0, 0);
    SendMessageA(gList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text->c_str()));
    delete text;
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void readLoop(HWND window) {
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(gPort, buffer, sizeof buffer, nullptr, &o) && GetLastError() != ERROR_IO_PENDING) return;
    if (!GetOverlappedResult(gPort, &o, &n, TRUE) || n == 0) return;
    PostMessageW(window, kReceived, 0, reinterpret_cast<LPARAM>(new std::string(buffer, n)));
  }
}

HWND child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, HWND parent,
           int id = 0, HFONT font = nullptr) {
  HWND c = CreateWindowExW(0, cls, text, WS_CHILD | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return c;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  gPort = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
  if (gPort == INVALID_HANDLE_VALUE) return 1;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(gPort, &dcb);
  dcb.BaudRate = 9600;
  dcb.fBinary = TRUE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutX = dcb.fInX = FALSE;
  SetCommState(gPort, &dcb);
  SetupComm(gPort, 4096, 4096);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 5;
  SetCommTimeouts(gPort, &timeouts);
  PurgeComm(gPort, PURGE_RXCLEAR | PURGE_TXCLEAR);

  WNDCLASSW wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"Baseline";
  RegisterClassW(&wc);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT r{0, 0, 371, 211};
  AdjustWindowRect(&r, style, FALSE);
  HWND window = CreateWindowExW(0, L"Baseline", L"Baseline", style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  // The same places as the real program's controls (Ports frame at 8,0).
  LOGFONTW bold{};
  bold.lfHeight = -11;
  bold.lfWeight = FW_BOLD;
  bold.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(bold.lfFaceName, L"MS Sans Serif");
  HFONT boldFont = CreateFontIndirectW(&bold);
  constexpr DWORD shown = WS_VISIBLE;
  child(L"BUTTON", L"Ports", shown | BS_GROUPBOX, 8, 0, 345, 137, window);
  for (int i = 0; i < 5; ++i) {
    wchar_t name[16];
    swprintf(name, 16, L"Server %d", i + 1);
    child(L"STATIC", name, shown | SS_CENTER, 24 + 64 * i, 16, 57, 17, window);
    child(L"STATIC", L"", shown | SS_GRAYRECT, 40 + 64 * i, 40, 20, 20, window);
    HWND button = child(L"BUTTON", L"OFF", shown | BS_PUSHBUTTON, 24 + 64 * i, 72, 57, 49, window, 100 + i, boldFont);
    gButtonProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&buttonProc)));
  }
  child(L"BUTTON", L"Configure", shown | BS_PUSHBUTTON, 8, 144, 89, 25, window);
  child(L"STATIC", L"www.tarnwick.example", shown | SS_CENTER, 104, 144, 153, 17, window);
  child(L"BUTTON", L"Exit", shown | BS_PUSHBUTTON, 264, 144, 89, 25, window);
  // The message log, below the compact window's edge until it grows.
  gList = child(L"LISTBOX", L"", WS_BORDER | WS_VSCROLL, 16, 208, 329, 173, window);

  std::thread(readLoop, window).detach();
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
