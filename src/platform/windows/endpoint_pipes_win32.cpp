// The local endpoint on Win32: a named pipe \\.\pipe\<name>, byte mode,
// refusing remote clients, whose owner and only access entry are the user
// (token user SID). Named pipes live in one namespace for the whole machine,
// so the name carries the session and the user; and a pipe ends with the
// last process holding it, so a killed owner leaves nothing behind.
//
// One thread per server runs every pipe instance through an I/O completion
// port: it keeps an instance listening while fewer than kMostClients are
// connected, reads each client's request line against a deadline, and sees
// the writes through. Whole requests and departures go to a message-only
// window made on the thread that called serveEndpoint, whose procedure runs
// onRequest and onGone there. reply() and finish() queue under a lock and at
// most start an overlapped write: they never wait.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/console.h"
#include "platform/endpoint.h"
#include "platform/fault.h"
#include "platform/windows/wintext.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Answers queued for a client that does not read, at most; then it is dropped.
constexpr size_t kMostQueuedBytes = 64 * 1024;
// Connections at once; a client beyond waits for an instance (ERROR_PIPE_BUSY).
constexpr size_t kMostClients = 32;
constexpr DWORD kPipeBuffer = 4096;

constexpr UINT kMsgEvents = WM_APP + 1;
constexpr ULONG_PTR kPipeKey = 1;
constexpr ULONG_PTR kWakeKey = 2;
constexpr ULONG_PTR kStopKey = 3;

std::wstring pipePath(const std::string& name) { return L"\\\\.\\pipe\\" + win::widen(name); }

std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : std::wstring(L"error");
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
    message.pop_back();
  return win::narrow(message) + " (" + std::to_string(error) + ")";
}

// The user this process runs as (its token's user), as a SID's bytes.
std::vector<BYTE> userSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  std::vector<BYTE> sid;
  if (size && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
    PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    const auto* bytes = static_cast<const BYTE*>(user);
    sid.assign(bytes, bytes + GetLengthSid(user));
  }
  CloseHandle(token);
  return sid;
}

std::wstring sidText(std::vector<BYTE> sid) {
  wchar_t* text = nullptr;
  if (sid.empty() || !ConvertSidToStringSidW(sid.data(), &text)) return {};
  std::wstring out = text;
  LocalFree(text);
  return out;
}

// "COM3" from a name that ends in it.
std::string comNameIn(const std::string& name) {
  const size_t at = name.rfind("COM");
  return at == std::string::npos ? name : name.substr(at);
}

std::string processName(DWORD pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  std::wstring name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    name.assign(path, size);
    name = name.substr(name.find_last_of(L"\\/") + 1);
  }
  CloseHandle(process);
  return win::narrow(name);
}

// Who serves `path`, as a probing client learns it: "process 4242
// (tarnwick.exe)"; nothing when no pipe has the name. The owner sees a client
// that leaves without a request.
std::optional<std::string> describeOwner(const std::wstring& path) {
  HANDLE probe = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    probe = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (probe != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (error != ERROR_PIPE_BUSY) break;
    WaitNamedPipeW(path.c_str(), 200);
  }
  if (probe == INVALID_HANDLE_VALUE) {
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    return "(" + systemMessage(error) + ")";
  }
  ULONG pid = 0;
  const bool known = GetNamedPipeServerProcessId(probe, &pid);
  CloseHandle(probe);
  if (!known) return "(" + systemMessage(GetLastError()) + ")";
  const std::string name = processName(pid);
  return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

// The pipe's security: owned by the user, who alone has access.
class PipeSecurity {
 public:
  PipeSecurity() {
    const std::wstring sid = sidText(userSid());
    const std::wstring text = L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")";
    if (sid.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor_, nullptr))
      raise(faults::kPortOpenFailed, "The endpoint's access list could not be made: " + systemMessage(GetLastError()));
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
  }
  ~PipeSecurity() { LocalFree(descriptor_); }
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

HANDLE createInstance(const std::wstring& path, PipeSecurity& security, bool first) {
  return CreateNamedPipeW(path.c_str(),
                          PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                          PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, security.attributes());
}

// This process's engines by name: those serving, and those stopped whose
// clients are still being answered. A stopped engine's instances keep the
// name (all of them connected, none listening), so a new server of this
// process adds its own to them instead of taking the name as the first.
struct NameUse {
  int serving = 0;
  int lingering = 0;
};
std::mutex gNamesMutex;
std::map<std::wstring, NameUse> gNames;

void changeUse(const std::wstring& path, int serving, int lingering) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  NameUse& use = gNames[path];
  use.serving += serving;
  use.lingering += lingering;
  if (!use.serving && !use.lingering) gNames.erase(path);
}

NameUse useOf(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  const auto it = gNames.find(path);
  return it == gNames.end() ? NameUse{} : it->second;
}

enum class Op { Connect, Read, Write };
// Refused: answered for breaking the rules, waiting for the answer to go out.
enum class Stage { Listening, AwaitingRequest, Served, Refused, Closing };

struct Instance;
struct Link;
class Engine;

// An operation's OVERLAPPED first, so a completion finds its operation.
struct Pending {
  OVERLAPPED overlapped{};
  Op op;
  Instance* instance;
};

// One pipe instance. Guarded by the engine's mutex.
struct Instance {
  explicit Instance(HANDLE h) : pipe(h) {}
  HANDLE pipe;
  Pending connecting{{}, Op::Connect, this};
  Pending reading{{}, Op::Read, this};
  Pending writing{{}, Op::Write, this};
  int inFlight = 0;
  bool writeInFlight = false;
  Stage stage = Stage::Listening;
  char buffer[512];
  std::string in;       // read, not yet taken
  std::string written;  // handed to WriteFile
  std::optional<Clock::time_point> deadline;
  std::shared_ptr<Link> link;
};

// One client as both threads see it.
struct Link {
  Link(std::shared_ptr<Engine> e, Instance* i) : engine(std::move(e)), instance(i) {}
  std::shared_ptr<Engine> engine;
  // Guarded by the engine's mutex.
  Instance* instance;  // until the instance goes
  std::string out;     // queued, not yet written
  bool finishAsked = false;
  bool dropAsked = false;
  // Set by either thread.
  std::atomic<bool> gone{false};
  // The user-interface thread's own.
  EndpointClient* client = nullptr;
  bool goneTold = false;
};

// What the I/O thread hands to the user-interface thread.
struct Event {
  std::shared_ptr<Link> link;
  bool request = false;  // else: the client cancelled or went away
  std::string text;
  bool cancelled = false;
};

// The pipe instances and the thread that runs them, shared by the server,
// that thread and the clients: a client handed to the window outlives the
// server, so the window can still answer it while it closes its port. The
// thread ends once the server has gone and its last client is done.
//
// The thread holds the mutex while it handles a completion (never while it
// waits); the user-interface thread takes it to queue a line and, when no
// write is in flight, to start one itself, so that what the window says
// before it exits is in the pipe already.
class Engine : public std::enable_shared_from_this<Engine> {
 public:
  Engine(std::wstring path, PipeSecurity& security, HANDLE port, HWND window)
      : path_(std::move(path)), security_(security), port_(port), window_(window) {
    changeUse(path_, 1, 0);
  }

  std::recursive_mutex mutex;

  // The server is going: no more events, and the name is gone when this
  // returns (a new server may take it at once); the clients served go on.
  void stop() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    window_ = nullptr;
    events_.clear();
    stopping_ = true;
    changeUse(path_, -1, 1);
    for (auto& instance : instances_) {
      if (instance.stage != Stage::Listening && instance.stage != Stage::AwaitingRequest) continue;
      close(instance);
      // Its cancelled operations still complete through the port.
      CloseHandle(instance.pipe);
      instance.pipe = nullptr;
    }
    PostQueuedCompletionStatus(port_, 0, kStopKey, nullptr);
  }

  // Wakes the thread to look at what the clients asked for.
  void wake() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (ended_ || wakePosted_) return;
    wakePosted_ = true;
    PostQueuedCompletionStatus(port_, 0, kWakeKey, nullptr);
  }

  std::deque<Event> takeEvents() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    eventsPosted_ = false;
    return std::exchange(events_, {});
  }

  // Writes what is queued; closes once a finished client has had it all.
  // REQUIRES: mutex held.
  void pumpWrites(Instance& instance) {
    if (!instance.link || instance.stage == Stage::Closing || instance.stage == Stage::Listening) return;
    Link& link = *instance.link;
    if (link.dropAsked) {
      clientGone(instance);
      return;
    }
    if (instance.written.empty()) instance.written.swap(link.out);
    // A finished client has as long as a request may take to read its answer.
    if (link.finishAsked && !instance.deadline) instance.deadline = Clock::now() + kRequestTimeout;
    if (instance.writeInFlight) return;
    if (!instance.written.empty()) {
      instance.writing.overlapped = OVERLAPPED{};
      if (WriteFile(instance.pipe, instance.written.data(), static_cast<DWORD>(instance.written.size()), nullptr,
                    &instance.writing.overlapped) ||
          GetLastError() == ERROR_IO_PENDING) {
        ++instance.inFlight;
        instance.writeInFlight = true;
      } else {
        clientGone(instance);
      }
      return;
    }
    if (link.finishAsked) close(instance);
  }

  // Listens on the first instance, before the thread runs: stop() must find it.
  void start(HANDLE first) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    adopt(first);
  }

  void run() {
    for (;;) {
      DWORD timeout = INFINITE;
      {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (stopping_ && instances_.empty()) {
          ended_ = true;
          changeUse(path_, 0, -1);
          break;
        }
        if (const auto next = nearestDeadline()) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
          timeout = static_cast<DWORD>(std::max<long long>(left, 0));
        }
      }
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* overlapped = nullptr;
      const BOOL ok = GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, timeout);
      const DWORD error = ok ? 0 : GetLastError();
      std::lock_guard<std::recursive_mutex> lock(mutex);
      if (overlapped) {
        completed(*reinterpret_cast<Pending*>(overlapped), bytes, error);
      } else if (key == kWakeKey) {
        wakePosted_ = false;
        for (auto& instance : instances_) pumpWrites(instance);
      }
      expireDeadlines();
      removeClosed();
    }
    CloseHandle(port_);
  }

 private:
  // Takes a new instance into the completion port and starts listening on it.
  void adopt(HANDLE pipe) {
    Instance& instance = instances_.emplace_back(pipe);
    if (!CreateIoCompletionPort(pipe, port_, kPipeKey, 0)) {
      close(instance);
      return;
    }
    if (ConnectNamedPipe(pipe, &instance.connecting.overlapped)) {
      onConnected(instance);
      return;
    }
    switch (GetLastError()) {
      case ERROR_IO_PENDING: ++instance.inFlight; break;
      case ERROR_PIPE_CONNECTED: onConnected(instance); break;
      default: close(instance); break;  // ERROR_NO_DATA: the client came and went
    }
  }

  // Keeps one instance listening while there is room.
  void keepListening() {
    if (stopping_) return;
    size_t open = 0;
    for (const auto& instance : instances_) {
      if (instance.stage == Stage::Listening) return;
      if (instance.stage != Stage::Closing) ++open;
    }
    if (open >= kMostClients) return;
    const HANDLE pipe = createInstance(path_, security_, false);
    if (pipe != INVALID_HANDLE_VALUE) adopt(pipe);
  }

  void completed(Pending& pending, DWORD bytes, DWORD error) {
    Instance& instance = *pending.instance;
    --instance.inFlight;
    if (pending.op == Op::Write) instance.writeInFlight = false;
    if (instance.stage == Stage::Closing) return;
    switch (pending.op) {
      case Op::Connect:
        if (error) close(instance);
        else onConnected(instance);
        break;
      case Op::Read:
        if (error) {
          clientGone(instance);
          break;
        }
        received(instance, bytes);
        if (instance.stage != Stage::Closing) startRead(instance);
        break;
      case Op::Write:
        if (error) {
          clientGone(instance);
          break;
        }
        instance.written.erase(0, bytes);
        pumpWrites(instance);
        break;
    }
  }

  void onConnected(Instance& instance) {
    instance.stage = Stage::AwaitingRequest;
    instance.deadline = Clock::now() + kRequestTimeout;
    instance.link = std::make_shared<Link>(shared_from_this(), &instance);
    keepListening();
    startRead(instance);
  }

  void startRead(Instance& instance) {
    instance.reading.overlapped = OVERLAPPED{};
    if (ReadFile(instance.pipe, instance.buffer, sizeof instance.buffer, nullptr, &instance.reading.overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
      ++instance.inFlight;
      return;
    }
    clientGone(instance);
  }

  void received(Instance& instance, DWORD bytes) {
    if (!instance.link || instance.stage == Stage::Refused) return;
    instance.in.append(instance.buffer, bytes);
    if (instance.stage == Stage::AwaitingRequest) {
      const size_t end = instance.in.find('\n');
      if (end == std::string::npos ? instance.in.size() > kMostRequestBytes : end > kMostRequestBytes) {
        refuse(instance, "request too long");
        return;
      }
      if (end == std::string::npos) return;
      std::string request = instance.in.substr(0, end);
      if (!request.empty() && request.back() == '\r') request.pop_back();
      instance.in.erase(0, end + 1);
      instance.stage = Stage::Served;
      instance.deadline.reset();
      post(Event{instance.link, true, std::move(request), false});
    }
    // After the request only "cancel" means anything.
    for (size_t end; (end = instance.in.find('\n')) != std::string::npos;) {
      std::string line = instance.in.substr(0, end);
      instance.in.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "cancel") post(Event{instance.link, false, {}, true});
    }
    if (instance.in.size() > kMostRequestBytes) instance.in.clear();
  }

  // Answers a client that broke the rules itself, and closes it.
  void refuse(Instance& instance, const std::string& why) {
    instance.link->out = "error " + why + "\nstatus 2\n";
    instance.link->finishAsked = true;
    instance.stage = Stage::Refused;
    instance.deadline = Clock::now() + kRequestTimeout;
    instance.in.clear();
    pumpWrites(instance);
  }

  void clientGone(Instance& instance) {
    if (instance.link) {
      instance.link->gone = true;
      if (instance.stage == Stage::Served) post(Event{instance.link, false, {}, false});
    }
    close(instance);
  }

  // Cancels what is in flight; the instance goes once its completions are in.
  // The pipe is closed, not disconnected, so a client still reads what was
  // written before it sees the end.
  void close(Instance& instance) {
    if (instance.stage == Stage::Closing) return;
    if (instance.link) instance.link->gone = true;
    instance.stage = Stage::Closing;
    instance.deadline.reset();
    CancelIoEx(instance.pipe, nullptr);
    wake();  // with nothing in flight no completion would come
  }

  void removeClosed() {
    bool closing = false;
    for (const auto& instance : instances_) closing |= instance.stage == Stage::Closing && instance.inFlight == 0;
    if (!closing) return;
    // A new listener first, so the name never vanishes between instances.
    keepListening();
    for (auto it = instances_.begin(); it != instances_.end();) {
      if (it->stage == Stage::Closing && it->inFlight == 0) {
        if (it->pipe) CloseHandle(it->pipe);
        if (it->link) it->link->instance = nullptr;
        it = instances_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::optional<Clock::time_point> nearestDeadline() const {
    std::optional<Clock::time_point> nearest;
    for (const auto& instance : instances_)
      if (instance.deadline && (!nearest || *instance.deadline < *nearest)) nearest = instance.deadline;
    return nearest;
  }

  void expireDeadlines() {
    const Clock::time_point now = Clock::now();
    for (auto& instance : instances_) {
      if (!instance.deadline || *instance.deadline > now) continue;
      instance.deadline.reset();
      if (instance.stage == Stage::AwaitingRequest)
        refuse(instance, "no request within " + std::to_string(kRequestTimeout.count() / 1000) + " s");
      else
        clientGone(instance);  // it did not read its answer
    }
  }

  void post(Event event) {
    if (!window_) return;
    events_.push_back(std::move(event));
    if (!eventsPosted_) {
      eventsPosted_ = true;
      PostMessageW(window_, kMsgEvents, 0, 0);
    }
  }

  const std::wstring path_;
  PipeSecurity& security_;  // kept alive by the thread
  const HANDLE port_;
  // Guarded by mutex.
  HWND window_;
  std::deque<Event> events_;
  bool eventsPosted_ = false;
  bool wakePosted_ = false;
  bool stopping_ = false;
  bool ended_ = false;
  std::list<Instance> instances_;
};

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
    if (link_->out.size() > kMostQueuedBytes) {
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
      : path_(pipePath(name)), onRequest_(std::move(onRequest)), security_(std::make_shared<PipeSecurity>()) {
    // Wine makes a further instance where Windows refuses the first one
    // (FILE_FLAG_FIRST_PIPE_INSTANCE), so a client asks first.
    const NameUse use = useOf(path_);
    std::optional<std::string> owner;
    if (use.serving) owner = "process " + std::to_string(GetCurrentProcessId()) + " (this one)";
    else if (!use.lingering) owner = describeOwner(path_);
    const HANDLE first = owner ? INVALID_HANDLE_VALUE : createInstance(path_, *security_, !use.lingering);
    if (first == INVALID_HANDLE_VALUE) {
      const DWORD error = owner ? ERROR_ACCESS_DENIED : GetLastError();
      if (!owner) owner = describeOwner(path_);
      if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
        raise(faults::kPortBusy, "The port is in use: " + comNameIn(name) + " is served by another window: " +
                                     owner.value_or("(" + systemMessage(error) + ")") + ", " +
                                     win::narrow(path_));
      raise(faults::kPortOpenFailed, "The endpoint " + win::narrow(path_) + " could not be made: " +
                                         systemMessage(error));
    }
    const HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    static const ATOM registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &endpointWindowProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = kWindowClass;
      return RegisterClassExW(&wc);
    }();
    (void)registered;
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
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
  if (message == kMsgEvents) {
    if (auto* server = reinterpret_cast<Win32EndpointServer*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      server->deliver();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// --- tarnwick-switch's end ---------------------------------------------------

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

// True when the pipe's owner is this user: a pipe of the same name made by
// someone else first must not get the requests.
bool ownedByUser(HANDLE pipe) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> user = userSid();
  const bool same = owner && !user.empty() && EqualSid(owner, user.data());
  LocalFree(descriptor);
  return same;
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
      const size_t end = in_.find('\n');
      if (end != std::string::npos) {
        std::string line = in_.substr(0, end);
        in_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      if (ended_) {
        if (in_.empty()) return std::nullopt;
        return std::exchange(in_, {});  // a last line without its end
      }
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
      in_.append(buffer_, got);
    }
  }

  bool closed() const override { return ended_ && in_.empty(); }

 private:
  HANDLE pipe_;
  HANDLE writeEvent_ = nullptr;
  OVERLAPPED reading_{};
  bool readPending_ = false;
  char buffer_[512];
  std::string in_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<EndpointServer> serveEndpoint(const std::string& name, RequestHandler onRequest) {
  return std::make_unique<Win32EndpointServer>(name, std::move(onRequest));
}

std::unique_ptr<EndpointConnection> connectEndpoint(const std::string& name) {
  const std::wstring path = pipePath(name);
  const Clock::time_point until = Clock::now() + kRequestTimeout;
  for (;;) {
    // Identification only: the owner may learn who asks, not act as them.
    const HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      if (ownedByUser(pipe)) return std::make_unique<Win32EndpointConnection>(pipe);
      CloseHandle(pipe);
      return nullptr;
    }
    // Every instance taken: the owner is there and frees one soon.
    if (GetLastError() != ERROR_PIPE_BUSY || Clock::now() >= until || interrupted()) return nullptr;
    WaitNamedPipeW(path.c_str(), kSliceMs * 5);
  }
}

// tarnwick-<session>-<user SID>-COM<n>: the settings live in the machine's
// registry, so the port, the session and the user tell the windows apart.
std::string endpointName(int commPort) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return "tarnwick-" + std::to_string(session) + "-" + win::narrow(sidText(userSid())) + "-COM" +
         std::to_string(commPort);
}

}  // namespace platform
