// The serial control's rules over a scripted device, for what no device here
// does: a driver that refuses a line only when the port opens, and a line lost
// in one opening while the next one fails.

#include "platform/fault.h"
#include "platform/portable/serial_model.h"
#include "support/fault_of.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

using platform::Fault;
using platform::LineState;

namespace {

class ScriptedDevice final : public platform::SerialModel {
 public:
  explicit ScriptedDevice(const platform::LineRules& rules = platform::kDcbRules) : SerialModel(rules) {}

  // The driver's answer to a line: "" takes it, anything else is its refusal.
  std::function<std::string(const LineState&)> driver = [](const LineState&) { return std::string(); };
  bool present = true;
  std::vector<LineState> configured;  // what the device was given and took
  std::string line;                   // the bytes written

  void loseLine(const std::string& why) { lineLost(why); }

 protected:
  std::string openDevice(int16_t port, const LineState& state) override {
    name_ = "\\\\.\\COM" + std::to_string(port);
    if (!present) raiseMissing(name_, "see Device Manager");
    open_ = true;
    return applyState(state);
  }
  void startReceiving() override {}
  void closeDevice() override { open_ = false; }
  bool deviceOpen() const override { return open_; }
  std::string applyState(const LineState& state) override {
    const std::string refused = driver(state);
    if (refused.empty()) configured.push_back(state);
    return refused;
  }
  void applyRts(const LineState&) override {}
  std::string writeBytes(const std::string& bytes) override {
    line += bytes;
    return {};
  }
  std::string takeBytes(size_t) override { return {}; }
  size_t bytesWaiting() override { return 0; }
  void queueReceiveCheck() override {}
  std::string deviceName() const override { return name_; }

 private:
  bool open_ = false;
  std::string name_;
};

std::string refuseSevenDataBits(const LineState& s) {
  return s.line.dataBits == 7 ? "The parameter is incorrect. (87)" : "";
}

// Opening with the settings an earlier device took would send the commands at
// a line the store never asked for: the port stays closed, with one fault.
TEST(SerialModel, LineRefusedAtOpeningLeavesThePortClosed) {
  for (const platform::LineRules& rules : {platform::kDcbRules, platform::kTermiosRules}) {
    for (const bool openedBefore : {false, true}) {
      ScriptedDevice serial(rules);
      serial.driver = refuseSevenDataBits;
      if (openedBefore) {
        serial.setSettings("4800,N,8,2");
        serial.setPortOpen(true);
        serial.setPortOpen(false);
      }
      const size_t configuredBefore = serial.configured.size();
      serial.setSettings("19200,E,7,1");
      const auto fault = faultOf([&] { serial.setPortOpen(true); });
      ASSERT_TRUE(fault);
      EXPECT_EQ(fault->number, platform::faults::kSetStateFailed);
      EXPECT_EQ(fault->description,
                "The device \\\\.\\COM1 refused Settings \"19200,E,7,1\" with Handshaking 0: "
                "The parameter is incorrect. (87)");
      EXPECT_EQ(fault->source, "MSComm");
      EXPECT_FALSE(serial.portOpen());
      EXPECT_EQ(serial.configured.size(), configuredBefore) << "no other line was tried";
      EXPECT_EQ(faultOf([&] { serial.setOutput("P01"); })->number, platform::faults::kPortNotOpen);
      EXPECT_EQ(serial.line, "");
      // The next opening with settings the device takes opens.
      serial.setSettings("19200,E,8,1");
      serial.setPortOpen(true);
      EXPECT_TRUE(serial.portOpen());
    }
  }
}

TEST(SerialModel, PortStaysClosedWhenTheDriverRefusesEvenTheSettingsItHad) {
  ScriptedDevice serial;
  serial.driver = [](const LineState&) { return std::string("A device attached to the system is not functioning. (31)"); };
  const auto fault = faultOf([&] { serial.setPortOpen(true); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->number, platform::faults::kSetStateFailed);
  EXPECT_FALSE(serial.portOpen());
}

TEST(SerialModel, LostLineIsToldOnlyUntilTheNextOpening) {
  ScriptedDevice serial;
  serial.setPortOpen(true);
  serial.loseLine("The pipe has been ended. (109)");
  EXPECT_FALSE(serial.portOpen());
  EXPECT_EQ(faultOf([&] { serial.setOutput("P01"); })->description,
            "Operation valid only when the port is open: the device \\\\.\\COM1 went away and the port was "
            "closed (The pipe has been ended. (109))");
  // A Save to another port that has no device.
  serial.setPortOpen(false);
  serial.setCommPort(4);
  serial.present = false;
  EXPECT_EQ(faultOf([&] { serial.setPortOpen(true); })->number, platform::faults::kPortInvalid);
  const auto fault = faultOf([&] { serial.setOutput("P01"); });
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->description, "Operation valid only when the port is open");
}

}  // namespace
