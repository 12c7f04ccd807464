// The Win32 endpoint's name and the pipe's guard: named pipes live in one
// namespace for the whole machine, so the name carries the session and the
// user; the pipe is owned by the user, who alone has access, and a client
// speaks only to a pipe the user owns.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/endpoint.h"
#include "platform/fault.h"
#include "platform/windows/endpoint_win32.h"
#include "platform/windows/wintext.h"

namespace platform {

namespace endpoint_win32 {

namespace {

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

}  // namespace

std::wstring pipePath(const std::string& name) { return L"\\\\.\\pipe\\" + win::widen(name); }

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

std::string comNameIn(const std::string& name) {
  const size_t at = name.rfind("COM");
  return at == std::string::npos ? name : name.substr(at);
}

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
    return "(" + win::systemMessage(error) + ")";
  }
  ULONG pid = 0;
  const bool known = GetNamedPipeServerProcessId(probe, &pid);
  CloseHandle(probe);
  if (!known) return "(" + win::systemMessage(GetLastError()) + ")";
  const std::string name = processName(pid);
  return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

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

PipeSecurity::PipeSecurity() {
  const std::wstring sid = sidText(userSid());
  const std::wstring text = L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")";
  if (sid.empty() ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor_, nullptr))
    raise(faults::kPortOpenFailed,
          "The endpoint's access list could not be made: " + win::systemMessage(GetLastError()));
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
}

PipeSecurity::~PipeSecurity() { LocalFree(descriptor_); }

}  // namespace endpoint_win32

// tarnwick-<session>-<user SID>-COM<n>: the settings live in the machine's
// registry, so the port, the session and the user tell the windows apart.
std::string endpointName(int commPort) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return "tarnwick-" + std::to_string(session) + "-" + win::narrow(endpoint_win32::sidText(endpoint_win32::userSid())) +
         "-COM" + std::to_string(commPort);
}

}  // namespace platform
