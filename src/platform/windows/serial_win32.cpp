// The serial-port control on the Win32 communications API.
//
// A reader thread keeps one overlapped ReadFile outstanding and waits on it and
// on a stop event, so an idle line costs no CPU. What it reads goes into a
// buffer shared with the user-interface thread; it then posts to a message-only
// window made on the thread that created the control, whose procedure raises
// OnComm there. A read that fails (the device went away) ends the thread and
// posts that too: the port is then closed on the user-interface thread.
//
// WaitCommEvent is not used: it fails at once with ERROR_OPERATION_ABORTED on
// Wine's serial ports over pseudo-terminals, and a blocking ReadFile keeps
// returning nothing after an unplug; an overlapped read reports the loss at
// once (ERROR_BROKEN_PIPE, ERROR_NOT_READY) and never spins.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/fault.h"
#include "platform/serial.h"

#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

const std::string kSource = "MSComm";
const std::string kNotOpen = "Operation valid only when the port is open";

// Received bytes held for Input at most; beyond it the reader waits, so a
// flooding device is held back by the driver and the line, not by memory.
constexpr size_t kBufferCap = 64 * 1024;

// Messages to the control's window. wParam carries the opening they belong to,
// so a late message from a closed opening is dropped.
constexpr UINT kMsgReceived = WM_APP + 1;
constexpr UINT kMsgLineLost = WM_APP + 2;  // lParam: the Win32 error

std::string toUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring toWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// The system's text for an error, with its number: "The system cannot find the
// file specified. (2)".
std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : std::wstring(L"error");
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
    message.pop_back();
  return toUtf8(message) + " (" + std::to_string(error) + ")";
}

// Characters are bytes one to one (U+0000 to U+00FF); the text is UTF-8.
std::string bytesToText(const char* data, size_t size) {
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The reverse: a character above U+00FF, or a byte that is not valid UTF-8,
// goes out as '?', as on Linux.
std::string textToBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    unsigned code = length == 1 ? c : c & (0x7Fu >> length);
    for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    out += code <= 0xFF ? static_cast<char>(code) : '?';
    i += length;
  }
  return out;
}

[[noreturn]] void refuse(const std::string& what) {
  raise(faults::kInvalidProperty, "Invalid property value: " + what, kSource);
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A whole decimal number, or false.
bool wholeNumber(const std::string& s, long long& value) {
  const std::string t = trimmed(s);
  if (t.empty() || t.size() > 12) return false;
  size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
  if (i == t.size()) return false;
  value = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    value = value * 10 + (t[i] - '0');
  }
  if (t[0] == '-') value = -value;
  return true;
}

// The line parameters one Settings text stands for.
struct Line {
  DWORD speed = 9600;
  BYTE parity = NOPARITY;
  BYTE data = 8;
  BYTE stop = ONESTOPBIT;
};

// Parses "speed,parity,data,stop" as the communications API takes it (4 to 8
// data bits, 1, 1.5 or 2 stop bits); raises a fault naming the bad field.
Line parseSettings(const std::string& text) {
  std::vector<std::string> f;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    f.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (f.size() != 4) refuse("Settings \"" + text + "\" is not speed,parity,data,stop");
  Line line;
  long long n = 0;
  if (!wholeNumber(f[0], n) || n <= 0 || n > 0x7FFFFFFF)
    refuse("speed \"" + f[0] + "\" is not a positive whole number");
  line.speed = static_cast<DWORD>(n);
  const std::string parity = trimmed(f[1]);
  const char p = parity.size() == 1 ? static_cast<char>(parity[0] & ~0x20) : '\0';
  if (p == 'E') line.parity = EVENPARITY;
  else if (p == 'M') line.parity = MARKPARITY;
  else if (p == 'N') line.parity = NOPARITY;
  else if (p == 'O') line.parity = ODDPARITY;
  else if (p == 'S') line.parity = SPACEPARITY;
  else refuse("parity \"" + f[1] + "\" is not E, M, N, O or S");
  if (!wholeNumber(f[2], n) || n < 4 || n > 8) refuse("data bits \"" + f[2] + "\" are not 4 to 8");
  line.data = static_cast<BYTE>(n);
  const std::string stop = trimmed(f[3]);
  if (stop == "1") line.stop = ONESTOPBIT;
  else if (stop == "1.5") line.stop = ONE5STOPBITS;
  else if (stop == "2") line.stop = TWOSTOPBITS;
  else refuse("stop bits \"" + f[3] + "\" are not 1, 1.5 or 2");
  return line;
}

class Win32SerialControl;

// The message-only window's class, registered once per process.
const wchar_t kWindowClass[] = L"TarnwickSerialEvents";

LRESULT CALLBACK eventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32SerialControl final : public SerialControl {
 public:
  Win32SerialControl() {
    static const ATOM registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &eventWindowProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = kWindowClass;
      return RegisterClassExW(&wc);
    }();
    (void)registered;
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    spaceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }

  ~Win32SerialControl() override {
    closePort();
    if (window_) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
    CloseHandle(stopEvent_);
    CloseHandle(spaceEvent_);
  }

  Win32SerialControl(const Win32SerialControl&) = delete;
  Win32SerialControl& operator=(const Win32SerialControl&) = delete;

  void setCommPort(int16_t port) override {
    if (port <= 0) raise(faults::kPortInvalid, "Invalid port number", kSource);
    if (isOpen()) raise(faults::kPortAlreadyOpen, "Port already open", kSource);
    commPort_ = port;
  }
  int16_t commPort() const override { return commPort_; }

  void setHandshaking(int32_t mode) override {
    if (mode < 0 || mode > 3) refuse("Handshaking " + std::to_string(mode) + " is not 0 to 3");
    const int32_t old = handshaking_;
    handshaking_ = mode;
    if (isOpen()) {
      const DWORD error = applyState();
      if (error) {
        handshaking_ = old;
        applyState();
        raiseRefusedByDevice("Handshaking " + std::to_string(mode), error);
      }
    }
  }
  int32_t handshaking() const override { return handshaking_; }

  void setSettings(const std::string& settings) override {
    const Line line = parseSettings(settings);
    const Line old = line_;
    line_ = line;
    if (isOpen()) {
      const DWORD error = applyState();
      if (error) {
        line_ = old;
        applyState();
        raiseRefusedByDevice("Settings \"" + settings + "\"", error);
      }
    }
    settings_ = settings;
  }
  std::string settings() const override { return settings_; }

  void setInputLen(int16_t length) override {
    if (length < 0) refuse("InputLen " + std::to_string(length) + " is negative");
    inputLen_ = length;
  }

  void setRThreshold(int16_t count) override {
    if (count < 0) refuse("RThreshold " + std::to_string(count) + " is negative");
    rThreshold_ = count;
    queueReceiveCheck();  // characters already waiting may now reach it
  }
  int16_t rThreshold() const override { return rThreshold_; }

  void setSThreshold(int16_t count) override {
    if (count < 0) refuse("SThreshold " + std::to_string(count) + " is negative");
    sThreshold_ = count;
  }

  void setRTSEnable(bool on) override {
    rts_ = on;
    if (isOpen()) applyRts();
  }
  bool rtsEnable() const override { return rts_; }

  void setPortOpen(bool open) override {
    if (!open) {
      closePort();
      return;
    }
    if (isOpen()) raise(faults::kPortAlreadyOpen, "Port already open", kSource);
    openPort();
  }
  bool portOpen() const override { return isOpen(); }

  void setOutput(const std::string& text) override {
    requireOpen();
    reapWrites(false);
    auto write = std::make_unique<PendingWrite>();
    write->bytes = textToBytes(text);
    if (write->bytes.empty()) return;
    write->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (WriteFile(port_, write->bytes.data(), static_cast<DWORD>(write->bytes.size()), nullptr,
                  &write->overlapped)) {
      return;  // handed over at once
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      // Held back by flow control or a full driver queue: it completes on its own.
      writes_.push_back(std::move(write));
      return;
    }
    closePort();
    raise(faults::kPortNotOpen,
          kNotOpen + ": the device " + devicePathFor(commPort_) + " went away and the port was closed (" +
              systemMessage(error) + ")",
          kSource);
  }

  std::string input() override {
    requireOpen();
    std::string bytes;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t n = inputLen_ > 0 ? std::min(received_.size(), static_cast<size_t>(inputLen_)) : received_.size();
      bytes = received_.substr(0, n);
      received_.erase(0, n);
    }
    SetEvent(spaceEvent_);
    return bytesToText(bytes.data(), bytes.size());
  }

  int16_t commEvent() const override { return event_; }

  // Runs on the user-interface thread, from the window procedure.
  void onMessage(UINT message, WPARAM opening, LPARAM error) {
    if (static_cast<int>(opening) != openings_ || !isOpen()) return;
    if (message == kMsgReceived) {
      notifyPosted_.store(false);
      if (rThreshold_ > 0 && waiting() >= static_cast<size_t>(rThreshold_)) signalEvent(comEvReceive);
    } else if (message == kMsgLineLost) {
      lostError_ = static_cast<DWORD>(error);
      closePort();
    }
  }

 private:
  struct PendingWrite {
    OVERLAPPED overlapped{};
    std::string bytes;
    ~PendingWrite() {
      if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
    }
  };

  bool isOpen() const { return port_ != INVALID_HANDLE_VALUE; }

  void requireOpen() const {
    if (isOpen()) return;
    if (lostError_) {
      raise(faults::kPortNotOpen,
            kNotOpen + ": the device " + devicePathFor(commPort_) + " went away and the port was closed (" +
                systemMessage(lostError_) + ")",
            kSource);
    }
    raise(faults::kPortNotOpen, kNotOpen, kSource);
  }

  size_t waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }

  [[noreturn]] void raiseRefusedByDevice(const std::string& what, DWORD error) {
    raise(faults::kSetStateFailed,
          "The device " + devicePathFor(commPort_) + " refused " + what + ": " + systemMessage(error), kSource);
  }

  // Pushes the line and the flow control to the open port; the error, or 0.
  DWORD applyState() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_, &dcb)) return GetLastError();
    dcb.BaudRate = line_.speed;
    dcb.ByteSize = line_.data;
    dcb.Parity = line_.parity;
    dcb.StopBits = line_.stop;
    dcb.fBinary = TRUE;
    dcb.fParity = line_.parity != NOPARITY;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    const bool rtsCts = handshaking_ == 2 || handshaking_ == 3;
    const bool xonXoff = handshaking_ == 1 || handshaking_ == 3;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    if (!SetCommState(port_, &dcb)) return GetLastError();
    return 0;
  }

  // RTS is ours only without RTS/CTS flow control. A device without modem lines
  // (a pseudo-terminal under Wine) refuses the request; that is not worth a fault.
  void applyRts() {
    if (handshaking_ == 2 || handshaking_ == 3) return;
    EscapeCommFunction(port_, rts_ ? SETRTS : CLRRTS);
  }

  void openPort() {
    const std::string path = devicePathFor(commPort_);
    const std::string com = "COM" + std::to_string(commPort_);
    HANDLE handle = CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) raiseMissing(path, error);
      if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        raise(faults::kPortBusy,
              "The port is in use: " + path + " (" + com + ") is open in another program (" +
                  systemMessage(error) + ")",
              kSource);
      }
      raise(faults::kPortOpenFailed,
            "The device " + path + " (" + com + ") could not be opened: " + systemMessage(error), kSource);
    }
    port_ = handle;
    lostError_ = 0;
    // A read waits for the first character, then ends once the line has been
    // quiet for a few milliseconds. (The "return at once with what is there"
    // setting, MAXDWORD/MAXDWORD/n, never completes early under Wine.)
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 5;
    SetupComm(port_, 4096, 4096);
    // A device that went away can still be opened under Wine; asking for its
    // state is the first call that tells.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!GetCommState(port_, &probe)) {
      const DWORD error = GetLastError();
      CloseHandle(port_);
      port_ = INVALID_HANDLE_VALUE;
      raiseMissing(path, error);
    }
    DWORD error = applyState();
    if (!error && !SetCommTimeouts(port_, &timeouts)) error = GetLastError();
    if (error) {
      CloseHandle(port_);
      port_ = INVALID_HANDLE_VALUE;
      raiseRefusedByDevice("Settings \"" + settings_ + "\" with Handshaking " + std::to_string(handshaking_), error);
    }
    applyRts();
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.clear();
    }
    ++openings_;
    notifyPosted_.store(false);
    ResetEvent(stopEvent_);
    std::promise<DWORD> first;
    std::future<DWORD> firstResult = first.get_future();
    reader_ = std::thread([this, opening = openings_, promise = std::move(first)]() mutable {
      readLoop(opening, promise);
    });
    // The line is judged by its first read, not by the opening: under Wine a
    // port whose device went away opens and then fails every call.
    const DWORD firstError = firstResult.get();
    if (firstError) {
      closePort();
      lostError_ = 0;
      raiseMissing(path, firstError);
    }
  }

  [[noreturn]] void raiseMissing(const std::string& path, DWORD error) {
    raise(faults::kPortInvalid,
          "Invalid port number: COM" + std::to_string(commPort_) + " has no device (tried " + path + ": " +
              systemMessage(error) + "); see Device Manager for the board's COM port number",
          kSource);
  }

  // The reader thread. Reports the outcome of its first read through `first`.
  void readLoop(int opening, std::promise<DWORD>& first) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buffer[4096];
    bool firstDone = false;
    auto reportFirst = [&](DWORD error) {
      if (firstDone) return;
      firstDone = true;
      first.set_value(error);
    };
    DWORD lost = 0;
    for (;;) {
      if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) break;
      if (waiting() >= kBufferCap) {
        const HANDLE wake[2] = {stopEvent_, spaceEvent_};
        WaitForMultipleObjects(2, wake, FALSE, INFINITE);
        continue;
      }
      ResetEvent(overlapped.hEvent);
      DWORD got = 0;
      if (!ReadFile(port_, buffer, sizeof buffer, nullptr, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          lost = error;
          break;
        }
        reportFirst(0);
        const HANDLE wake[2] = {overlapped.hEvent, stopEvent_};
        if (WaitForMultipleObjects(2, wake, FALSE, INFINITE) != WAIT_OBJECT_0) {
          CancelIoEx(port_, &overlapped);
          GetOverlappedResult(port_, &overlapped, &got, TRUE);
          break;
        }
      }
      reportFirst(0);
      if (!GetOverlappedResult(port_, &overlapped, &got, FALSE)) {
        lost = GetLastError();
        break;
      }
      if (got == 0) {
        // Without a total time-out a read never ends empty on a working line;
        // reading on would spin.
        lost = ERROR_HANDLE_EOF;
        break;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, got);
      }
      if (!notifyPosted_.exchange(true)) PostMessageW(window_, kMsgReceived, static_cast<WPARAM>(opening), 0);
    }
    CloseHandle(overlapped.hEvent);
    if (!firstDone) {
      reportFirst(lost ? lost : ERROR_OPERATION_ABORTED);
      return;  // the opening reports it
    }
    if (lost && lost != ERROR_OPERATION_ABORTED)
      PostMessageW(window_, kMsgLineLost, static_cast<WPARAM>(opening), static_cast<LPARAM>(lost));
  }

  // Stops the reader, lets writes in flight finish or cancels them, closes.
  void closePort() {
    if (!isOpen()) return;
    SetEvent(stopEvent_);
    if (reader_.joinable()) reader_.join();
    reapWrites(true);
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    ++openings_;  // messages still queued for this opening are now stale
  }

  // Frees finished writes; with `all`, cancels and waits for the rest.
  void reapWrites(bool all) {
    for (auto it = writes_.begin(); it != writes_.end();) {
      DWORD done = 0;
      if (all) {
        CancelIoEx(port_, &(*it)->overlapped);
        GetOverlappedResult(port_, &(*it)->overlapped, &done, TRUE);
      } else if (!GetOverlappedResult(port_, &(*it)->overlapped, &done, FALSE) &&
                 GetLastError() == ERROR_IO_INCOMPLETE) {
        ++it;
        continue;
      }
      it = writes_.erase(it);
    }
  }

  // Looks at the waiting count once the current call is done, so OnComm never
  // runs inside one of the program's calls; several arrivals make one look.
  void queueReceiveCheck() {
    if (!isOpen() || !window_) return;
    if (!notifyPosted_.exchange(true)) PostMessageW(window_, kMsgReceived, static_cast<WPARAM>(openings_), 0);
  }

  void signalEvent(int16_t code) {
    event_ = code;
    if (onComm) onComm();
  }

  HWND window_ = nullptr;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE stopEvent_ = nullptr;
  HANDLE spaceEvent_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::string received_;  // guarded by mutex_
  std::atomic<bool> notifyPosted_{false};
  std::vector<std::unique_ptr<PendingWrite>> writes_;
  std::string settings_ = "9600,N,8,1";
  Line line_;
  DWORD lostError_ = 0;  // why the device went away, until the next opening
  int16_t commPort_ = 1;
  int32_t handshaking_ = 0;
  int16_t inputLen_ = 0;
  int16_t rThreshold_ = 0;
  int16_t sThreshold_ = 0;
  int16_t event_ = 0;
  bool rts_ = false;
  int openings_ = 0;
};

LRESULT CALLBACK eventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgReceived || message == kMsgLineLost) {
    if (auto* control = reinterpret_cast<Win32SerialControl*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      control->onMessage(message, wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::unique_ptr<SerialControl> makeSerialControl() { return std::make_unique<Win32SerialControl>(); }

// "\\.\COMn" reaches every port number, COM10 and above included.
std::string devicePathFor(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace platform
