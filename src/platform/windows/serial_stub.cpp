// A serial control that keeps its properties and never opens a line: the
// program starts and reports the port as missing until the communications
// control takes its place.
#include "platform/fault.h"
#include "platform/serial.h"

#include <string>

namespace platform {

namespace {

class NoLine : public SerialControl {
 public:
  void setCommPort(int16_t port) override {
    if (port <= 0) raise(faults::kPortInvalid, "Invalid port number", "MSComm");
    port_ = port;
  }
  int16_t commPort() const override { return port_; }
  void setHandshaking(int32_t mode) override { handshaking_ = mode; }
  int32_t handshaking() const override { return handshaking_; }
  void setSettings(const std::string& settings) override { settings_ = settings; }
  std::string settings() const override { return settings_; }
  void setInputLen(int16_t) override {}
  void setRThreshold(int16_t count) override { rThreshold_ = count; }
  int16_t rThreshold() const override { return rThreshold_; }
  void setSThreshold(int16_t) override {}
  void setRTSEnable(bool on) override { rts_ = on; }
  bool rtsEnable() const override { return rts_; }
  void setPortOpen(bool open) override {
    if (open) raise(faults::kPortInvalid, "Invalid port number", "MSComm");
  }
  bool portOpen() const override { return false; }
  void setOutput(const std::string&) override {
    raise(faults::kPortNotOpen, "Operation valid only when the port is open", "MSComm");
  }
  std::string input() override {
    raise(faults::kPortNotOpen, "Operation valid only when the port is open", "MSComm");
  }
  int16_t commEvent() const override { return 0; }

 private:
  int16_t port_ = 1;
  int32_t handshaking_ = 0;
  std::string settings_ = "9600,N,8,1";
  int16_t rThreshold_ = 0;
  bool rts_ = false;
};

}  // namespace

std::unique_ptr<SerialControl> makeSerialControl() { return std::make_unique<NoLine>(); }

std::string devicePathFor(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace platform
