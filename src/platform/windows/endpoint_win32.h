#pragma once
// What the Win32 endpoint's two ends share: the pipe's path, the user it
// belongs to, its security, and who serves a name.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::endpoint_win32 {

// \\.\pipe\<name>.
std::wstring pipePath(const std::string& name);

// The user this process runs as (its token's user), as a SID's bytes; empty
// when the token cannot be read.
std::vector<BYTE> userSid();
std::wstring sidText(std::vector<BYTE> sid);

// "COM3" from a name that ends in it.
std::string comNameIn(const std::string& name);

// Who serves `path`, as a probing client learns it: "process 4242
// (tarnwick.exe)"; nothing when no pipe has the name. The owner sees a client
// that leaves without a request.
std::optional<std::string> describeOwner(const std::wstring& path);

// True when the pipe's owner is this user: a pipe of the same name made by
// someone else first must not get the requests.
bool ownedByUser(HANDLE pipe);

// The pipe's security: owned by the user, who alone has access.
class PipeSecurity {
 public:
  PipeSecurity();
  ~PipeSecurity();
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace platform::endpoint_win32
