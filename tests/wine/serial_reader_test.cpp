// The Windows serial control over scripted device calls, for what no device
// under Wine does (Wine reports a hang-up through the read already pending): a
// chunk that completes just before the next read fails, a cancel the program
// asked for, and an aborted read that nobody asked for; and the DCB the device
// is given for each stored line, whatever state it was left in.

#include "platform/fault.h"
#include "platform/serial.h"
#include "platform/windows/serial_calls.h"
#include "support/fault_of.h"
#include "support/line_cases.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

// What one read does.
struct ReadStep {
  enum Kind { Data, FailAtOnce, CompleteWithError, PendingUntilCancel } kind;
  std::string bytes;  // Data
  DWORD error = 0;    // FailAtOnce, CompleteWithError
};

// A device that exists, takes every setting and every write, and answers reads
// from a script; once the script is used up, reads stay pending until
// cancelled.
class ScriptedDevice final : public platform::SerialCalls {
 public:
  explicit ScriptedDevice(std::vector<ReadStep> steps) : steps_(steps.begin(), steps.end()) {}

  HANDLE open(const std::wstring&) override { return kDevice; }
  BOOL close(HANDLE) override { return TRUE; }
  BOOL setup(HANDLE, DWORD, DWORD) override { return TRUE; }
  // A device left by another program: every field set.
  BOOL getState(HANDLE, DCB* dcb) override {
    std::memset(dcb, 0xFF, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    return TRUE;
  }
  BOOL setState(HANDLE, DCB* dcb) override {
    if (refusals > 0) {
      --refusals;
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    states.push_back(*dcb);
    return TRUE;
  }
  BOOL setTimeouts(HANDLE, COMMTIMEOUTS*) override { return TRUE; }
  BOOL purge(HANDLE, DWORD) override { return TRUE; }
  BOOL escape(HANDLE, DWORD) override { return TRUE; }
  BOOL write(HANDLE, const void*, DWORD, OVERLAPPED*) override { return TRUE; }

  BOOL read(HANDLE, void* buffer, DWORD size, OVERLAPPED* overlapped) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    ReadStep step{ReadStep::PendingUntilCancel, {}, 0};
    if (!steps_.empty()) {
      step = steps_.front();
      steps_.pop_front();
    }
    if (step.kind == ReadStep::FailAtOnce) {
      SetLastError(step.error);
      return FALSE;
    }
    current_ = step;
    buffer_ = static_cast<char*>(buffer);
    size_ = size;
    if (step.kind != ReadStep::PendingUntilCancel) SetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }

  BOOL cancel(HANDLE, OVERLAPPED* overlapped) override {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = {ReadStep::CompleteWithError, {}, ERROR_OPERATION_ABORTED};
    cancelled_ = true;
    if (overlapped) SetEvent(overlapped->hEvent);
    return TRUE;
  }

  BOOL result(HANDLE, OVERLAPPED*, DWORD* done, BOOL) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *done = 0;
    if (current_.kind == ReadStep::CompleteWithError) {
      SetLastError(current_.error);
      return FALSE;
    }
    const size_t n = std::min<size_t>(current_.bytes.size(), size_);
    std::memcpy(buffer_, current_.bytes.data(), n);
    *done = static_cast<DWORD>(n);
    return TRUE;
  }

  bool cancelled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
  }

  int reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

  std::vector<DCB> states;  // every DCB the device took
  int refusals = 0;         // how many DCBs it refuses with 87 first

 private:
  static inline const HANDLE kDevice = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7E57));
  std::mutex mutex_;
  std::deque<ReadStep> steps_;
  ReadStep current_{ReadStep::PendingUntilCancel, {}, 0};
  char* buffer_ = nullptr;
  DWORD size_ = 0;
  bool cancelled_ = false;
  int reads_ = 0;
};

// Runs the thread's messages until `done` or `ms` milliseconds have passed.
void pump(const std::function<bool()>& done, ULONGLONG ms = 2000) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done() && GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

// The control as the program configures it, on a scripted device, with what
// its receive events read and whether the port was open at each.
struct Line {
  explicit Line(std::vector<ReadStep> steps) {
    auto calls = std::make_unique<ScriptedDevice>(std::move(steps));
    device = calls.get();
    serial = platform::makeSerialControl(std::move(calls));
    serial->onComm = [this] {
      if (serial->commEvent() == platform::comEvReceive) received.push_back(serial->input());
    };
    serial->setCommPort(1);
    serial->setSettings("9600,N,8,1");
    serial->setRThreshold(3);
    serial->setPortOpen(true);
  }
  ScriptedDevice* device;
  std::unique_ptr<platform::SerialControl> serial;
  std::vector<std::string> received;
};

TEST(SerialReader, ChunkBeforeABrokenLineReachesTheProgramFirst) {
  Line line({{ReadStep::Data, "OK\r\n"}, {ReadStep::FailAtOnce, {}, ERROR_BROKEN_PIPE}});
  pump([&] { return !line.serial->portOpen(); });
  pump([] { return false; }, 200);  // and nothing after
  EXPECT_EQ(line.received, std::vector<std::string>{"OK\r\n"});
  EXPECT_FALSE(line.serial->portOpen());
  const auto fault = faultOf([&] { line.serial->setOutput("P01"); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kPortNotOpen);
  EXPECT_NE(fault->description.find("went away and the port was closed"), std::string::npos) << fault->description;
  EXPECT_NE(fault->description.find("(109)"), std::string::npos) << fault->description;
}

TEST(SerialReader, CancelTheProgramAskedForEndsQuietly) {
  Line line({{ReadStep::Data, "abc"}});
  // Closed while the next read waits, so the close has a read to cancel.
  pump([&] { return !line.received.empty() && line.device->reads() == 2; });
  line.serial->setPortOpen(false);
  EXPECT_TRUE(line.device->cancelled());
  pump([] { return false; }, 200);
  EXPECT_EQ(line.received, std::vector<std::string>{"abc"});
  const auto fault = faultOf([&] { line.serial->setOutput("P01"); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->description, "Operation valid only when the port is open") << "a close is no lost line";
}

TEST(SerialReader, AbortNobodyAskedForIsALostLine) {
  Line line({{ReadStep::CompleteWithError, {}, ERROR_OPERATION_ABORTED}});
  pump([&] { return !line.serial->portOpen(); });
  EXPECT_FALSE(line.serial->portOpen()) << "the reader ended, so the port must not look open";
  const auto fault = faultOf([&] { line.serial->setOutput("P01"); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kPortNotOpen);
  EXPECT_NE(fault->description.find("(995)"), std::string::npos) << fault->description;
}

TEST(SerialLine, DeviceGetsTheStoredLineAndNothingItHadBefore) {
  for (const LineCase& row : lineCases()) {
    const LineText& in = row.stored;
    SCOPED_TRACE(in.speed + "," + in.parity + "," + in.dataBits + "," + in.stopBits + " flow " + in.flowControl);
    auto calls = std::make_unique<ScriptedDevice>(std::vector<ReadStep>{});
    ScriptedDevice* device = calls.get();
    auto serial = platform::makeSerialControl(std::move(calls));
    SetUpLine(*serial, in);
    serial->setPortOpen(true);
    ASSERT_FALSE(device->states.empty());
    const DCB& dcb = device->states.back();
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(row.speed));
    EXPECT_EQ(int{dcb.ByteSize}, row.dataBits);
    const std::string parities = "NOEMS";  // NOPARITY 0 ... SPACEPARITY 4
    EXPECT_EQ(size_t{dcb.Parity}, parities.find(row.parity));
    EXPECT_EQ(dcb.fParity != 0, row.parity != 'N');
    EXPECT_EQ(int{dcb.StopBits}, row.stopTenths == 10 ? ONESTOPBIT : row.stopTenths == 15 ? ONE5STOPBITS : TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutX != 0, row.xonXoff);
    EXPECT_EQ(dcb.fInX != 0, row.xonXoff);
    EXPECT_EQ(dcb.fOutxCtsFlow != 0, row.rtsCts);
    EXPECT_EQ(DWORD{dcb.fRtsControl}, row.rtsCts ? DWORD{RTS_CONTROL_HANDSHAKE}
                               : row.rtsEnable ? DWORD{RTS_CONTROL_ENABLE}
                                               : DWORD{RTS_CONTROL_DISABLE});
    // Nothing of the device's earlier state comes through.
    EXPECT_EQ(DWORD{dcb.fBinary}, 1u);
    EXPECT_EQ(DWORD{dcb.fOutxDsrFlow}, 0u);
    EXPECT_EQ(DWORD{dcb.fDsrSensitivity}, 0u);
    EXPECT_EQ(DWORD{dcb.fErrorChar} | dcb.fNull | dcb.fAbortOnError, 0u);
    EXPECT_EQ(DWORD{dcb.fDtrControl}, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.EofChar | dcb.EvtChar | dcb.ErrorChar, 0);
    serial->setPortOpen(false);
  }
}

// Wine over a pseudo-terminal refuses a line with 87 now and then, depending
// on what the device had before; a driver that means it refuses every time.
TEST(SerialLine, RefusalThatDependsOnThePreviousStateIsAskedAgain) {
  for (const int refusals : {1, 3}) {
    auto calls = std::make_unique<ScriptedDevice>(std::vector<ReadStep>{});
    ScriptedDevice* device = calls.get();
    device->refusals = refusals;
    auto serial = platform::makeSerialControl(std::move(calls));
    serial->setSettings("4800,E,7,1");
    const auto fault = faultOf([&] { serial->setPortOpen(true); });
    if (refusals == 1) {
      ASSERT_FALSE(fault) << fault->description;
      ASSERT_FALSE(device->states.empty());
      EXPECT_EQ(device->states.back().Parity, EVENPARITY);
      EXPECT_EQ(device->states.back().ByteSize, 7);
    } else {
      ASSERT_TRUE(fault);
      EXPECT_EQ(fault->number, platform::faults::kSetStateFailed);
      EXPECT_FALSE(serial->portOpen());
    }
  }
}

}  // namespace
