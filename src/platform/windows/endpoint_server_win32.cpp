// The window's side of the Win32 endpoint: a named pipe \\.\pipe\<name>,
// byte mode, refusing remote clients, whose owner and only access entry are
// the user (endpoint_name_win32.cpp). A pipe ends with the last process
// holding it, so a killed owner leaves nothing behind.
//
// One thread per server runs the pipe's instances (endpoint_pipes_win32.cpp).
// Whole requests and departures go to a message-only window made on the
// thread that called serveEndpoint, whose procedure runs onRequest and onGone
// there. reply() and finish() queue under a lock and at most start an
// overlapped write: they never wait.

#include <windows.h>

#include "platform/endpoint.h"
#include "platform/fault.h"
#include "platform/portable/endpoint_rules.h"
#include "platform/windows/message_window.h"
#include "platform/windows/endpoint_pipes_win32.h"
#include "platform/windows/wintext.h"

#include <mutex>
#include <memory>
#include <thread>
#include <utility>

namespace platform {

namespace {

using endpoint_win32::Engine;
using endpoint_win32::Event;
using endpoint_win32::Link;
using endpoint_win32::PipeSecurity;
using win::systemMessage;

class Win32EndpointClient final : public EndpointClient {
 public:
  explicit Win32EndpointClient(std::shared_ptr<Link> link) : link_(std::move(link)) { link_->client = this; }
  // A client let go unanswered is closed with what it was sent.
  ~Win32EndpointClient() override {
    link_->client = nullptr;
    finish();
  }
  Win32EndpointClient(const Win32EndpointClient&) = delete;
  Win32EndpointClient& operator=(const Win32EndpointClient&) = delete;

  void reply(const std::string& line) override {
    Engine& engine = *link_->engine;
    std::lock_guard<std::recursive_mutex> lock(engine.mutex);
    if (link_->finishAsked || link_->gone) return;
    link_->out += line;
    link_->out += '\n';
    if (link_->out.size() > endpoint_rules::kMostQueuedBytes) {
      link_->dropAsked = true;
      link_->gone = true;
      engine.wake();
      return;
    }
    if (link_->instance) engine.pumpWrites(*link_->instance);
  }

  void finish() override {
    Engine& engine = *link_->engine;
    std::lock_guard<std::recursive_mutex> lock(engine.mutex);
    if (link_->finishAsked) return;
    link_->finishAsked = true;
    if (link_->instance) engine.pumpWrites(*link_->instance);
    engine.wake();
  }

  bool connected() const override { return !link_->gone; }

 private:
  std::shared_ptr<Link> link_;
};

const wchar_t kWindowClass[] = L"TarnwickEndpointEvents";

LRESULT CALLBACK endpointWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32EndpointServer final : public EndpointServer {
 public:
  Win32EndpointServer(const std::string& name, RequestHandler onRequest)
      : path_(endpoint_win32::pipePath(name)), onRequest_(std::move(onRequest)), security_(std::make_shared<PipeSecurity>()) {
    // Wine makes a further instance where Windows refuses the first one
    // (FILE_FLAG_FIRST_PIPE_INSTANCE), so a client asks first.
    const endpoint_win32::NameUse use = endpoint_win32::useOf(path_);
    std::optional<std::string> owner;
    if (use.serving) owner = "process " + std::to_string(GetCurrentProcessId()) + " (this one)";
    else if (!use.lingering) owner = endpoint_win32::describeOwner(path_);
    const HANDLE first = owner ? INVALID_HANDLE_VALUE : endpoint_win32::createInstance(path_, *security_, !use.lingering);
    if (first == INVALID_HANDLE_VALUE) {
      const DWORD error = owner ? ERROR_ACCESS_DENIED : GetLastError();
      if (!owner) owner = endpoint_win32::describeOwner(path_);
      if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
        raise(faults::kPortBusy, "The port is in use: " + endpoint_win32::comNameIn(name) + " is served by another window: " +
                                     owner.value_or("(" + systemMessage(error) + ")") + ", " +
                                     win::narrow(path_));
      raise(faults::kPortOpenFailed, "The endpoint " + win::narrow(path_) + " could not be made: " +
                                         systemMessage(error));
    }
    const HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    window_ = win::makeMessageWindow(kWindowClass, &endpointWindowProc);
    if (!port || !window_) {
      const DWORD error = GetLastError();
      CloseHandle(first);
      if (port) CloseHandle(port);
      if (window_) DestroyWindow(window_);
      raise(faults::kPortOpenFailed, "The endpoint " + win::narrow(path_) + " could not be served: " +
                                         systemMessage(error));
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    engine_ = std::make_shared<Engine>(path_, *security_, port, window_);
    // The thread keeps what it uses; it may outlive this object.
    engine_->start(first);
    std::thread([engine = engine_, security = security_] { engine->run(); }).detach();
  }

  ~Win32EndpointServer() override {
    engine_->stop();
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }

  Win32EndpointServer(const Win32EndpointServer&) = delete;
  Win32EndpointServer& operator=(const Win32EndpointServer&) = delete;

  // On the user-interface thread, from the window procedure.
  void deliver() {
    for (Event& event : engine_->takeEvents()) {
      if (event.request) {
        onRequest_(event.text, std::make_shared<Win32EndpointClient>(event.link));
        continue;
      }
      Link& link = *event.link;
      bool finished;
      {
        std::lock_guard<std::recursive_mutex> lock(engine_->mutex);
        finished = link.finishAsked;
      }
      if (!link.client || finished || link.goneTold) continue;
      link.goneTold = true;
      // The handler may let go of the client.
      const auto onGone = link.client->onGone;
      if (onGone) onGone(event.cancelled);
    }
  }

 private:
  std::wstring path_;
  RequestHandler onRequest_;
  std::shared_ptr<PipeSecurity> security_;
  HWND window_ = nullptr;
  std::shared_ptr<Engine> engine_;
};

LRESULT CALLBACK endpointWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == endpoint_win32::kMsgEvents) {
    if (auto* server = reinterpret_cast<Win32EndpointServer*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      server->deliver();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::unique_ptr<EndpointServer> serveEndpoint(const std::string& name, RequestHandler onRequest) {
  return std::make_unique<Win32EndpointServer>(name, std::move(onRequest));
}

}  // namespace platform
