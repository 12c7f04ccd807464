// tarnwick-switch's end of the Win32 endpoint: the user's own pipe, opened
// for identification only, read and written overlapped against a deadline.

#include <windows.h>

#include "platform/console.h"
#include "platform/endpoint.h"
#include "platform/portable/endpoint_rules.h"
#include "platform/windows/endpoint_win32.h"

#include <algorithm>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at interrupted().
constexpr DWORD kSliceMs = 20;

// Waits for an overlapped operation until it ends, the deadline passes or
// (with `heedInterrupts`) an interrupt arrives; true when it ended.
bool awaitOperation(HANDLE event, Clock::time_point deadline, bool heedInterrupts = true) {
  for (;;) {
    if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return true;
    if (heedInterrupts && interrupted()) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    if (WaitForSingleObject(event, static_cast<DWORD>(std::min<long long>(left, kSliceMs))) == WAIT_OBJECT_0)
      return true;
  }
}

class Win32EndpointConnection final : public EndpointConnection {
 public:
  explicit Win32EndpointConnection(HANDLE pipe) : pipe_(pipe) {
    reading_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }

  ~Win32EndpointConnection() override {
    if (readPending_) {
      DWORD got = 0;
      CancelIoEx(pipe_, &reading_);
      GetOverlappedResult(pipe_, &reading_, &got, TRUE);
    }
    CloseHandle(pipe_);
    CloseHandle(reading_.hEvent);
    CloseHandle(writeEvent_);
  }

  Win32EndpointConnection(const Win32EndpointConnection&) = delete;
  Win32EndpointConnection& operator=(const Win32EndpointConnection&) = delete;

  bool send(const std::string& line) override {
    if (ended_) return false;
    const std::string bytes = line + "\n";
    OVERLAPPED writing{};
    writing.hEvent = writeEvent_;
    ResetEvent(writeEvent_);
    if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &writing) &&
        GetLastError() != ERROR_IO_PENDING)
      return false;
    DWORD written = 0;
    // The owner reads at once; one that does not within a request's time is
    // as good as gone. An interrupt does not cut it short: "cancel" is sent
    // because of one.
    if (!awaitOperation(writeEvent_, Clock::now() + kRequestTimeout, false)) {
      CancelIoEx(pipe_, &writing);
      GetOverlappedResult(pipe_, &writing, &written, TRUE);
      return false;
    }
    return GetOverlappedResult(pipe_, &writing, &written, FALSE) && written == bytes.size();
  }

  std::optional<std::string> readLine(Clock::time_point deadline) override {
    for (;;) {
      if (auto line = lines_.next()) return line;
      if (ended_) return lines_.rest();
      if (!readPending_) {
        ResetEvent(reading_.hEvent);
        if (!ReadFile(pipe_, buffer_, sizeof buffer_, nullptr, &reading_) && GetLastError() != ERROR_IO_PENDING) {
          ended_ = true;
          continue;
        }
        readPending_ = true;
      }
      if (!awaitOperation(reading_.hEvent, deadline, !readThroughInterrupts_)) return std::nullopt;
      readPending_ = false;
      DWORD got = 0;
      if (!GetOverlappedResult(pipe_, &reading_, &got, FALSE)) ended_ = true;
      lines_.take(buffer_, got);
    }
  }

  bool closed() const override { return ended_ && lines_.empty(); }

 private:
  HANDLE pipe_;
  HANDLE writeEvent_ = nullptr;
  OVERLAPPED reading_{};
  bool readPending_ = false;
  char buffer_[512];
  endpoint_rules::LineSplitter lines_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<EndpointConnection> connectEndpoint(const std::string& name) {
  const std::wstring path = endpoint_win32::pipePath(name);
  const Clock::time_point until = Clock::now() + kRequestTimeout;
  for (;;) {
    // Identification only: the owner may learn who asks, not act as them.
    const HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      if (endpoint_win32::ownedByUser(pipe)) return std::make_unique<Win32EndpointConnection>(pipe);
      CloseHandle(pipe);
      return nullptr;
    }
    // Every instance taken: the owner is there and frees one soon.
    if (GetLastError() != ERROR_PIPE_BUSY || Clock::now() >= until || interrupted()) return nullptr;
    WaitNamedPipeW(path.c_str(), kSliceMs * 5);
  }
}

}  // namespace platform
