#pragma once
// The communications calls the Windows serial control makes on its device,
// behind one table, so that a test can script what a device answers (a read
// that ends with an error, a cancel nobody asked for) where no device under
// Wine would. The default table calls Win32; every call keeps its Win32
// meaning, GetLastError() included.

#include <windows.h>

#include <memory>
#include <string>

namespace platform {

class SerialControl;

struct SerialCalls {
  virtual ~SerialCalls() = default;
  virtual HANDLE open(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
  }
  virtual BOOL close(HANDLE port) { return CloseHandle(port); }
  virtual BOOL setup(HANDLE port, DWORD in, DWORD out) { return SetupComm(port, in, out); }
  virtual BOOL getState(HANDLE port, DCB* dcb) { return GetCommState(port, dcb); }
  virtual BOOL setState(HANDLE port, DCB* dcb) { return SetCommState(port, dcb); }
  virtual BOOL setTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) { return SetCommTimeouts(port, timeouts); }
  virtual BOOL purge(HANDLE port, DWORD flags) { return PurgeComm(port, flags); }
  virtual BOOL escape(HANDLE port, DWORD function) { return EscapeCommFunction(port, function); }
  virtual BOOL read(HANDLE port, void* buffer, DWORD size, OVERLAPPED* overlapped) {
    return ReadFile(port, buffer, size, nullptr, overlapped);
  }
  virtual BOOL write(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* overlapped) {
    return WriteFile(port, bytes, size, nullptr, overlapped);
  }
  virtual BOOL result(HANDLE port, OVERLAPPED* overlapped, DWORD* done, BOOL wait) {
    return GetOverlappedResult(port, overlapped, done, wait);
  }
  virtual BOOL cancel(HANDLE port, OVERLAPPED* overlapped) { return CancelIoEx(port, overlapped); }
  virtual DWORD wait(DWORD count, const HANDLE* handles, DWORD ms) {
    return WaitForMultipleObjects(count, handles, FALSE, ms);
  }
};

// The control on these calls instead of Win32's.
std::unique_ptr<SerialControl> makeSerialControl(std::unique_ptr<SerialCalls> calls);

}  // namespace platform
