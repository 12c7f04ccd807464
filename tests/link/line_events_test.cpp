// Events of the serial control other than received text, and faults while
// reading, with a control that reports them on purpose (a pseudo-terminal
// cannot produce framing or parity errors).
#include "link/mcu.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <gtest/gtest.h>

namespace {

class ScriptedControl : public platform::SerialControl {
 public:
  int16_t event = platform::comEvReceive;
  bool inputFaults = false;
  int reads = 0;

  void setCommPort(int16_t) override {}
  int16_t commPort() const override { return 1; }
  void setHandshaking(int32_t) override {}
  int32_t handshaking() const override { return 0; }
  void setSettings(const std::string&) override {}
  std::string settings() const override { return {}; }
  void setInputLen(int16_t) override {}
  void setRThreshold(int16_t) override {}
  int16_t rThreshold() const override { return 3; }
  void setSThreshold(int16_t) override {}
  void setRTSEnable(bool) override {}
  bool rtsEnable() const override { return false; }
  void setPortOpen(bool) override {}
  bool portOpen() const override { return true; }
  void setOutput(const std::string&) override {}
  std::string input() override {
    ++reads;
    if (inputFaults) platform::raise(8018, "Operation valid only when the port is open", "MSComm");
    return "XYZ";
  }
  int16_t commEvent() const override { return event; }
};

class LineEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    program.start();
    auto control = std::make_unique<ScriptedControl>();
    scripted = control.get();
    Main().MSComm = std::move(control);
  }
  Program program;
  ScriptedControl* scripted = nullptr;
};

TEST_F(LineEvents, LineErrorsAndStatusChangesWriteNothing) {
  for (int16_t code : {1, 3, 4, 5, 6, 7, 1001, 1002, 1003, 1004, 1006, 1008, 1009, 1010, 1011}) {
    scripted->event = code;
    MSComm_OnComm();
  }
  EXPECT_EQ(scripted->reads, 0);
  EXPECT_EQ(Main().List1->listCount(), 0);
  EXPECT_TRUE(program.reports().empty());
}

TEST_F(LineEvents, ReceiveEventLogsWhatTheReadReturned) {
  MSComm_OnComm();
  EXPECT_EQ(program.messageLog(), std::vector<std::string>({" Received: ----> OK - XYZ"}));
}

TEST_F(LineEvents, FailedReadIsReportedAndLogsNoLine) {
  scripted->inputFaults = true;
  MSComm_OnComm();
  EXPECT_EQ(Main().List1->listCount(), 0);
  EXPECT_EQ(program.reports(),
            std::vector<std::string>({"[MSComm_OnComm] Error (8018) - Operation valid only when the port is open, MSComm"}));
}

}  // namespace
