#pragma once
// The serial-port control: the properties and the event the program uses,
// realised by the backend. Every property set that is refused raises a Fault and
// keeps the previous value. Events arrive on the thread that created the
// control (the user-interface thread), never inside one of the program's calls.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// CommEvent codes.
inline constexpr int16_t comEvSend = 1;
inline constexpr int16_t comEvReceive = 2;
inline constexpr int16_t comEvCTS = 3;
inline constexpr int16_t comEvDSR = 4;
inline constexpr int16_t comEvCD = 5;
inline constexpr int16_t comEvRing = 6;
inline constexpr int16_t comEvEOF = 7;
inline constexpr int16_t comEventBreak = 1001;
inline constexpr int16_t comEventFrame = 1004;
inline constexpr int16_t comEventOverrun = 1006;
inline constexpr int16_t comEventRxOver = 1008;
inline constexpr int16_t comEventRxParity = 1009;
inline constexpr int16_t comEventTxFull = 1010;

class SerialControl {
 public:
  virtual ~SerialControl() = default;

  // Port number; 1 is COM1. Refused when 0 or below, or while the port is open.
  virtual void setCommPort(int16_t port) = 0;
  virtual int16_t commPort() const = 0;
  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
  virtual void setHandshaking(int32_t mode) = 0;
  virtual int32_t handshaking() const = 0;
  // "speed,parity,data,stop", for example "9600,N,8,1".
  virtual void setSettings(const std::string& settings) = 0;
  virtual std::string settings() const = 0;
  virtual void setInputLen(int16_t length) = 0;
  virtual void setRThreshold(int16_t count) = 0;
  virtual int16_t rThreshold() const = 0;
  virtual void setSThreshold(int16_t count) = 0;
  virtual void setRTSEnable(bool on) = 0;
  virtual bool rtsEnable() const = 0;
  // true opens the port named by CommPort with the configured parameters.
  virtual void setPortOpen(bool open) = 0;
  virtual bool portOpen() const = 0;
  // Hands the characters to the device at once and returns. Text is UTF-8; each
  // character U+0000 to U+00FF is one byte on the line, any other becomes '?'.
  virtual void setOutput(const std::string& text) = 0;
  // Every waiting byte as one character (UTF-8); empties the receive buffer.
  virtual std::string input() = 0;
  // Code of the event being signalled.
  virtual int16_t commEvent() const = 0;

  // Raised for every event the control signals.
  std::function<void()> onComm;
};

// The backend's control. On Linux COMn is <machine folder>/dosdevices/comN when that
// link exists, else /dev/ttyS<n-1>.
std::unique_ptr<SerialControl> makeSerialControl();

// The device path COMn maps to.
std::string devicePathFor(int port);

}  // namespace platform
