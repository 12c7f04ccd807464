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

#include <windows.h>

#include "platform/fault.h"
#include "platform/portable/serial_model.h"
#include "platform/serial.h"
#include "platform/windows/message_window.h"
#include "platform/windows/serial_calls.h"
#include "platform/windows/wintext.h"

#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

// Received bytes held for Input at most; beyond it the reader waits, so a
// flooding device is held back by the driver and the line, not by memory.
constexpr size_t kBufferCap = 64 * 1024;

// Messages to the control's window. wParam carries the opening they belong to,
// so a late message from a closed opening is dropped.
constexpr UINT kMsgReceived = WM_APP + 1;
constexpr UINT kMsgLineLost = WM_APP + 2;  // lParam: the Win32 error

using win::systemMessage;

class Win32SerialControl;

// The message-only window's class, registered once per process.
const wchar_t kWindowClass[] = L"TarnwickSerialEvents";

LRESULT CALLBACK eventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32SerialControl final : public SerialModel {
 public:
  explicit Win32SerialControl(std::unique_ptr<SerialCalls> calls) : SerialModel(kDcbRules), calls_(std::move(calls)) {
    window_ = win::makeMessageWindow(kWindowClass, &eventWindowProc);
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    spaceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }

  ~Win32SerialControl() override {
    closeDevice();
    if (window_) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
    CloseHandle(stopEvent_);
    CloseHandle(spaceEvent_);
  }

  Win32SerialControl(const Win32SerialControl&) = delete;
  Win32SerialControl& operator=(const Win32SerialControl&) = delete;

  // Runs on the user-interface thread, from the window procedure.
  void onMessage(UINT message, WPARAM opening, LPARAM error) {
    if (static_cast<int>(opening) != openings_ || !deviceOpen()) return;
    if (message == kMsgReceived) {
      notifyPosted_.store(false);
      receiveArrived();
    } else if (message == kMsgLineLost) {
      lineLost(systemMessage(static_cast<DWORD>(error)));
    }
  }

 protected:
  std::string openDevice(int16_t port, const LineState& state) override {
    const std::string path = devicePathFor(port);
    HANDLE handle = calls_->open(win::widen(path));
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) raiseMissingAt(error);
      if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        raiseInUse("is open in another program (" + systemMessage(error) + ")");
      raiseOpenFailed(systemMessage(error));
    }
    port_ = handle;
    calls_->setup(port_, 4096, 4096);
    // A device that went away can still be opened under Wine; asking for its
    // state is the first call that tells.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!calls_->getState(port_, &probe)) {
      const DWORD error = GetLastError();
      closeHandle();
      raiseMissingAt(error);
    }
    return applyState(state);
  }

  void startReceiving() override {
    // A read waits for the first character, then ends once the line has been
    // quiet for a few milliseconds. (The "return at once with what is there"
    // setting, MAXDWORD/MAXDWORD/n, never completes early under Wine.)
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 5;
    if (!calls_->setTimeouts(port_, &timeouts)) {
      const DWORD error = GetLastError();
      closeHandle();
      raiseRefused("its read time-outs", systemMessage(error));
    }
    applyRts(state());
    calls_->purge(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
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
      closeDevice();
      raiseMissingAt(firstError);
    }
  }

  // Stops the reader, lets writes in flight finish or cancels them, closes.
  void closeDevice() override {
    if (!deviceOpen()) return;
    SetEvent(stopEvent_);
    if (reader_.joinable()) reader_.join();
    reapWrites(true);
    closeHandle();
    ++openings_;  // messages still queued for this opening are now stale
  }

  bool deviceOpen() const override { return port_ != INVALID_HANDLE_VALUE; }

  // The line, the flow control and RTS in one DCB: "" or why it was refused.
  // The DCB is made from the state alone, never from what the device had
  // before: fields left over from another program (or from an earlier
  // opening) would make the same settings give another line, or a refusal.
  //
  // Wine on a pseudo-terminal (a virtual port, a port forwarded from another
  // machine) asks the system for the line with one tcsetattr; the kernel keeps
  // a pty at 8 data bits and no parity, and the C library calls that a refusal
  // (87) only when nothing else in the call changed. So the same DCB was taken
  // or refused depending on what the device had before. A refusal of 87 is
  // therefore asked again after a plain line of the same speed: a driver that
  // means it refuses twice, the same every time.
  std::string applyState(const LineState& state) override {
    DCB dcb = dcbFor(state);
    if (calls_->setState(port_, &dcb)) return {};
    if (GetLastError() == ERROR_INVALID_PARAMETER) {
      LineState plain = state;
      plain.line = LineSettings{state.line.speed};
      DCB first = dcbFor(plain);
      calls_->setState(port_, &first);
      dcb = dcbFor(state);
      if (calls_->setState(port_, &dcb)) return {};
    }
    return systemMessage(GetLastError());
  }

  // RTS is ours only without RTS/CTS flow control. A device without modem lines
  // (a pseudo-terminal under Wine) refuses the request; that is not worth a fault.
  void applyRts(const LineState& state) override {
    if (state.handshaking == 2 || state.handshaking == 3) return;
    calls_->escape(port_, state.rts ? SETRTS : CLRRTS);
  }

  std::string writeBytes(const std::string& bytes) override {
    reapWrites(false);
    auto write = std::make_unique<PendingWrite>();
    write->bytes = bytes;
    write->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (calls_->write(port_, write->bytes.data(), static_cast<DWORD>(write->bytes.size()), &write->overlapped)) {
      return {};  // handed over at once
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      // Held back by flow control or a full driver queue: it completes on its own.
      writes_.push_back(std::move(write));
      return {};
    }
    return systemMessage(error);
  }

  std::string takeBytes(size_t most) override {
    std::string bytes;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t n = most > 0 ? std::min(received_.size(), most) : received_.size();
      bytes = received_.substr(0, n);
      received_.erase(0, n);
    }
    SetEvent(spaceEvent_);
    return bytes;
  }

  size_t bytesWaiting() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }

  void queueReceiveCheck() override {
    if (!deviceOpen() || !window_) return;
    if (!notifyPosted_.exchange(true)) PostMessageW(window_, kMsgReceived, static_cast<WPARAM>(openings_), 0);
  }

  std::string deviceName() const override { return devicePathFor(commPort()); }

 private:
  struct PendingWrite {
    OVERLAPPED overlapped{};
    std::string bytes;
    ~PendingWrite() {
      if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
    }
  };

  static DCB dcbFor(const LineState& state) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(state.line.speed);
    dcb.ByteSize = static_cast<BYTE>(state.line.dataBits);
    dcb.Parity = parityFor(state.line.parity);
    dcb.StopBits = state.line.stop == StopBits::Two        ? TWOSTOPBITS
                   : state.line.stop == StopBits::OneAndHalf ? ONE5STOPBITS
                                                             : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    const bool rtsCts = state.handshaking == 2 || state.handshaking == 3;
    const bool xonXoff = state.handshaking == 1 || state.handshaking == 3;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : state.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // Flow control stops the far end with 512 bytes free of the 4096 the
    // driver was asked for, and lets it go on below 2048.
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    return dcb;
  }

  static BYTE parityFor(char letter) {
    switch (letter) {
      case 'E': return EVENPARITY;
      case 'M': return MARKPARITY;
      case 'O': return ODDPARITY;
      case 'S': return SPACEPARITY;
      default: return NOPARITY;
    }
  }

  void closeHandle() {
    calls_->close(port_);
    port_ = INVALID_HANDLE_VALUE;
  }

  [[noreturn]] void raiseMissingAt(DWORD error) {
    raiseMissing(devicePathFor(commPort()) + ": " + systemMessage(error),
                 "see Device Manager for the board's COM port number");
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
      if (calls_->wait(1, &stopEvent_, 0) == WAIT_OBJECT_0) break;
      if (bytesWaiting() >= kBufferCap) {
        const HANDLE wake[2] = {stopEvent_, spaceEvent_};
        calls_->wait(2, wake, INFINITE);
        continue;
      }
      ResetEvent(overlapped.hEvent);
      DWORD got = 0;
      if (!calls_->read(port_, buffer, sizeof buffer, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          lost = error;
          break;
        }
        reportFirst(0);
        const HANDLE wake[2] = {overlapped.hEvent, stopEvent_};
        if (calls_->wait(2, wake, INFINITE) != WAIT_OBJECT_0) {
          calls_->cancel(port_, &overlapped);
          calls_->result(port_, &overlapped, &got, TRUE);
          break;
        }
      }
      reportFirst(0);
      if (!calls_->result(port_, &overlapped, &got, FALSE)) {
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
    // Any failure the program did not ask for, an aborted read included (some
    // USB drivers abort pending reads when the adapter is pulled), is a lost line.
    const bool stopAsked = calls_->wait(1, &stopEvent_, 0) == WAIT_OBJECT_0;
    if (lost && !stopAsked)
      PostMessageW(window_, kMsgLineLost, static_cast<WPARAM>(opening), static_cast<LPARAM>(lost));
  }

  // Frees finished writes; with `all`, cancels and waits for the rest.
  void reapWrites(bool all) {
    for (auto it = writes_.begin(); it != writes_.end();) {
      DWORD done = 0;
      if (all) {
        calls_->cancel(port_, &(*it)->overlapped);
        calls_->result(port_, &(*it)->overlapped, &done, TRUE);
      } else if (!calls_->result(port_, &(*it)->overlapped, &done, FALSE) &&
                 GetLastError() == ERROR_IO_INCOMPLETE) {
        ++it;
        continue;
      }
      it = writes_.erase(it);
    }
  }

  std::unique_ptr<SerialCalls> calls_;
  HWND window_ = nullptr;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE stopEvent_ = nullptr;
  HANDLE spaceEvent_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::string received_;  // guarded by mutex_
  std::atomic<bool> notifyPosted_{false};
  std::vector<std::unique_ptr<PendingWrite>> writes_;
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

std::unique_ptr<SerialControl> makeSerialControl(std::unique_ptr<SerialCalls> calls) {
  return std::make_unique<Win32SerialControl>(std::move(calls));
}

std::unique_ptr<SerialControl> makeSerialControl() { return makeSerialControl(std::make_unique<SerialCalls>()); }

// "\\.\COMn" reaches every port number, COM10 and above included.
std::string devicePathFor(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace platform
