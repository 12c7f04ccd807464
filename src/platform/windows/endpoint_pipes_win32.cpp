// The Win32 endpoint's I/O thread: one per server runs every pipe instance
// through an I/O completion port, keeps an instance listening while fewer than
// kMostClients are connected, reads each client's request line against a
// deadline and sees the writes through.

#include "platform/windows/endpoint_pipes_win32.h"

#include <algorithm>
#include <map>
#include <utility>

namespace platform::endpoint_win32 {

using endpoint_rules::RequestReader;

namespace {

// Connections at once; a client beyond waits for an instance (ERROR_PIPE_BUSY).
constexpr size_t kMostClients = 32;
constexpr DWORD kPipeBuffer = 4096;

constexpr ULONG_PTR kPipeKey = 1;
constexpr ULONG_PTR kWakeKey = 2;
constexpr ULONG_PTR kStopKey = 3;

std::mutex gNamesMutex;
std::map<std::wstring, NameUse> gNames;

void changeUse(const std::wstring& path, int serving, int lingering) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  NameUse& use = gNames[path];
  use.serving += serving;
  use.lingering += lingering;
  if (!use.serving && !use.lingering) gNames.erase(path);
}

}  // namespace

NameUse useOf(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  const auto it = gNames.find(path);
  return it == gNames.end() ? NameUse{} : it->second;
}

HANDLE createInstance(const std::wstring& path, PipeSecurity& security, bool first) {
  return CreateNamedPipeW(path.c_str(),
                          PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                          PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, security.attributes());
}

Engine::Engine(std::wstring path, PipeSecurity& security, HANDLE port, HWND window)
    : path_(std::move(path)), security_(security), port_(port), window_(window) {
  changeUse(path_, 1, 0);
}

void Engine::stop() {
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

void Engine::wake() {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  if (ended_ || wakePosted_) return;
  wakePosted_ = true;
  PostQueuedCompletionStatus(port_, 0, kWakeKey, nullptr);
}

std::deque<Event> Engine::takeEvents() {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  eventsPosted_ = false;
  return std::exchange(events_, {});
}

void Engine::pumpWrites(Instance& instance) {
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

void Engine::start(HANDLE first) {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  adopt(first);
}

void Engine::run() {
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

void Engine::adopt(HANDLE pipe) {
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

void Engine::keepListening() {
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

void Engine::completed(Pending& pending, DWORD bytes, DWORD error) {
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

void Engine::onConnected(Instance& instance) {
  instance.stage = Stage::AwaitingRequest;
  instance.deadline = Clock::now() + kRequestTimeout;
  instance.link = std::make_shared<Link>(shared_from_this(), &instance);
  keepListening();
  startRead(instance);
}

void Engine::startRead(Instance& instance) {
  instance.reading.overlapped = OVERLAPPED{};
  if (ReadFile(instance.pipe, instance.buffer, sizeof instance.buffer, nullptr, &instance.reading.overlapped) ||
      GetLastError() == ERROR_IO_PENDING) {
    ++instance.inFlight;
    return;
  }
  clientGone(instance);
}

void Engine::received(Instance& instance, DWORD bytes) {
  if (!instance.link || instance.stage == Stage::Refused) return;
  instance.reader.take(instance.buffer, bytes);
  for (;;) {
    switch (instance.reader.next()) {
      case RequestReader::Heard::Nothing: return;
      case RequestReader::Heard::TooLong: refuse(instance, endpoint_rules::tooLongText()); return;
      case RequestReader::Heard::Request:
        instance.stage = Stage::Served;
        instance.deadline.reset();
        post(Event{instance.link, true, instance.reader.request(), false});
        break;
      case RequestReader::Heard::Cancel: post(Event{instance.link, false, {}, true}); break;
    }
  }
}

void Engine::refuse(Instance& instance, const std::string& why) {
  instance.link->out.clear();
  for (const std::string& line : endpoint_rules::refusalLines(why)) instance.link->out += line + '\n';
  instance.link->finishAsked = true;
  instance.stage = Stage::Refused;
  instance.deadline = Clock::now() + kRequestTimeout;
  pumpWrites(instance);
}

void Engine::clientGone(Instance& instance) {
  if (instance.link) {
    instance.link->gone = true;
    if (instance.stage == Stage::Served) post(Event{instance.link, false, {}, false});
  }
  close(instance);
}

void Engine::close(Instance& instance) {
  if (instance.stage == Stage::Closing) return;
  if (instance.link) instance.link->gone = true;
  instance.stage = Stage::Closing;
  instance.deadline.reset();
  CancelIoEx(instance.pipe, nullptr);
  wake();  // with nothing in flight no completion would come
}

void Engine::removeClosed() {
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

std::optional<Clock::time_point> Engine::nearestDeadline() const {
  std::optional<Clock::time_point> nearest;
  for (const auto& instance : instances_)
    if (instance.deadline && (!nearest || *instance.deadline < *nearest)) nearest = instance.deadline;
  return nearest;
}

void Engine::expireDeadlines() {
  const Clock::time_point now = Clock::now();
  for (auto& instance : instances_) {
    if (!instance.deadline || *instance.deadline > now) continue;
    instance.deadline.reset();
    if (instance.stage == Stage::AwaitingRequest)
      refuse(instance, endpoint_rules::noRequestText());
    else
      clientGone(instance);  // it did not read its answer
  }
}

void Engine::post(Event event) {
  if (!window_) return;
  events_.push_back(std::move(event));
  if (!eventsPosted_) {
    eventsPosted_ = true;
    PostMessageW(window_, kMsgEvents, 0, 0);
  }
}

}  // namespace platform::endpoint_win32
