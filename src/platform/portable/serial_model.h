#pragma once
// The serial-port control's rules, the same on every system: each property,
// what it refuses and with which fault, a refused change keeping the previous
// value, the receive threshold, and the texts of the faults the device gives.
// A backend derives from SerialModel and supplies only the device calls (the
// protected pure virtual functions), each in its system's terms.

#include "platform/fault.h"
#include "platform/serial.h"

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class StopBits { One, OneAndHalf, Two };

// The line one Settings text stands for.
struct LineSettings {
  int32_t speed = 9600;
  char parity = 'N';  // E, M, N, O or S
  int dataBits = 8;
  StopBits stop = StopBits::One;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// What a system's serial driver takes beyond what every one does (a positive
// speed, parity E, M, N, O or S, 5 to 8 data bits, 1 or 2 stop bits).
struct LineRules {
  bool oneAndHalfStop = false;       // 1.5 stop bits, and then only with 5 data bits
  bool twoStopWithFiveData = false;  // 2 stop bits with 5 data bits
};
// termios drives no 1.5 stop bits; the communications API's DCB takes them
// with 5 data bits only, and 2 stop bits only with more than 5.
inline constexpr LineRules kTermiosRules{false, true};
inline constexpr LineRules kDcbRules{true, false};

// Parses "speed,parity,data,stop" (blanks around a field and the parity's case
// do not matter). REQUIRES nothing; raises 380 naming the field it refuses.
LineSettings parseSettings(const std::string& text, const LineRules& rules);

// Everything a device is configured with.
struct LineState {
  LineSettings line;
  int32_t handshaking = 0;  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
  bool rts = false;
  friend bool operator==(const LineState&, const LineState&) = default;
};

// Faults of the serial control name it as their source.
inline constexpr const char* kSerialSource = "MSComm";
inline constexpr const char* kNotOpenText = "Operation valid only when the port is open";

class SerialModel : public SerialControl {
 public:
  explicit SerialModel(const LineRules& rules) : rules_(rules) {}

  void setCommPort(int16_t port) final;
  int16_t commPort() const final { return commPort_; }
  void setHandshaking(int32_t mode) final;
  int32_t handshaking() const final { return state_.handshaking; }
  void setSettings(const std::string& settings) final;
  std::string settings() const final { return settings_; }
  void setInputLen(int16_t length) final;
  void setRThreshold(int16_t count) final;
  int16_t rThreshold() const final { return rThreshold_; }
  void setSThreshold(int16_t count) final;
  void setRTSEnable(bool on) final;
  bool rtsEnable() const final { return state_.rts; }
  // A driver that refuses the settings only when the port opens leaves the
  // port closed, and the refusal is raised: nothing may go out at a line the
  // settings never asked for. It stays closed until the next opening.
  void setPortOpen(bool open) final;
  bool portOpen() const final { return deviceOpen(); }
  void setOutput(const std::string& text) final;
  std::string input() final;
  int16_t commEvent() const final { return event_; }

 protected:
  // --- The device calls, on the user-interface thread. ---
  // Opens COMn's device configured with `state`, or raises why it cannot.
  // Returns "" when the device took the state, else the driver's reason for
  // refusing it (the device may be left open; it is closed then).
  virtual std::string openDevice(int16_t port, const LineState& state) = 0;
  // Starts delivering what arrives. May raise (closing the device first) when
  // the line fails at once.
  virtual void startReceiving() = 0;
  virtual void closeDevice() = 0;
  virtual bool deviceOpen() const = 0;
  // Configures the open device: "" or the driver's reason for refusing.
  virtual std::string applyState(const LineState& state) = 0;
  // Raises or lowers RTS where it is ours (not under RTS/CTS); a device
  // without modem lines ignores it.
  virtual void applyRts(const LineState& state) = 0;
  // Hands bytes to the open device at once: "" or why the device went away.
  virtual std::string writeBytes(const std::string& bytes) = 0;
  // Takes at most `most` waiting bytes (all of them for 0).
  virtual std::string takeBytes(size_t most) = 0;
  virtual size_t bytesWaiting() = 0;
  // Has receiveArrived() run on the user-interface thread once the current
  // call is done; several requests before it runs make one.
  virtual void queueReceiveCheck() = 0;
  // The device file behind the open or last opened port.
  virtual std::string deviceName() const = 0;

  // --- What a backend reports, on the user-interface thread. ---
  // Characters arrived (or the threshold changed): OnComm when enough wait.
  void receiveArrived();
  // The device went away: closes the port; until the next opening, Output and
  // Input say so, with the reason ("" when the system gave none).
  void lineLost(const std::string& reason);
  void signalEvent(int16_t code);

  int16_t sThreshold() const { return sThreshold_; }
  const LineState& state() const { return state_; }

  // --- Faults of the device, with the texts every system gives. ---
  // 8002: "Invalid port number: COMn has no device (tried <tried>); <hint>".
  [[noreturn]] void raiseMissing(const std::string& tried, const std::string& hint) const;
  // 8010: "The port is in use: <device> (COMn) <who>".
  [[noreturn]] void raiseInUse(const std::string& who) const;
  // 8012: "The device <device> (COMn) could not be opened: <detail>".
  [[noreturn]] void raiseOpenFailed(const std::string& detail) const;
  // 8015: "The device <device> refused <what>: <reason>".
  [[noreturn]] void raiseRefused(const std::string& what, const std::string& reason) const;
  // "COMn" of the port in use.
  std::string comName() const { return "COM" + std::to_string(commPort_); }

 private:
  void requireOpen() const;
  Fault refusal(const std::string& what, const std::string& reason) const;
  // Applies a change to the open device; on refusal the previous state goes
  // back and 8015 is raised.
  void change(const LineState& wanted, const std::string& what);

  const LineRules rules_;
  LineState state_;
  std::string settings_ = "9600,N,8,1";
  std::optional<std::string> lost_;  // why the device of this opening went away
  int16_t commPort_ = 1;
  int16_t inputLen_ = 0;
  int16_t rThreshold_ = 0;
  int16_t sThreshold_ = 0;
  int16_t event_ = 0;
};

}  // namespace platform
