// The serial control's refusals, one table for every system: which settings
// texts each system's driver rules take, and that the control of the system
// this runs on refuses the rest with 380 and keeps what it had. Built for Linux
// and, with mingw-w64, for Windows (run under Wine).

#include "platform/fault.h"
#include "platform/portable/serial_model.h"
#include "platform/serial.h"
#include "support/fault_of.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using platform::Fault;

namespace {

struct TextRow {
  const char* settings;
  bool termios;  // taken where the driver is termios (Linux)
  bool dcb;      // taken where it is the communications API (Windows)
  const char* names = "";  // what the refusal names
};

const TextRow kRows[] = {
    {"9600,N,8,1", true, true},
    {"19200,e,7,2", true, true},
    {" 4800 , o , 8 , 1 ", true, true},
    {"115200,M,6,1", true, true},
    {"2400,s,5,1", true, true},
    {"9600,N,5,1.5", false, true, "stop bits \"1.5\" are not 1 or 2"},
    {"9600,N,8,1.5", false, false, "stop bits \"1.5\""},
    {"9600,N,5,2", true, false, "stop bits \"2\" are not taken with 5 data bits"},
    {"9600,N,4,1", false, false, "data bits \"4\" are not 5 to 8"},
    {"9600,N,9,1", false, false, "data bits \"9\""},
    {"9600,X,8,1", false, false, "parity \"X\" is not E, M, N, O or S"},
    {"9600,NN,8,1", false, false, "parity \"NN\""},
    {"9600,N,8,3", false, false, "stop bits \"3\""},
    {"-5,N,8,1", false, false, "speed \"-5\" is not a positive whole number"},
    {"0,N,8,1", false, false, "speed \"0\""},
    {"96x0,N,8,1", false, false, "speed \"96x0\""},
    {"abc", false, false, "Settings \"abc\" is not speed,parity,data,stop"},
    {"9600,N,8", false, false, "is not speed,parity,data,stop"},
    {"9600,N,8,1,1", false, false, "is not speed,parity,data,stop"},
    {"", false, false, "is not speed,parity,data,stop"},
};

TEST(SettingsText, EachSystemsRulesTakeTheirOwnSettings) {
  for (const TextRow& row : kRows) {
    for (const bool dcb : {false, true}) {
      const bool taken = dcb ? row.dcb : row.termios;
      const char* rules = dcb ? "communications API" : "termios";
      const auto fault = faultOf([&] { platform::parseSettings(row.settings, dcb ? platform::kDcbRules
                                                                                : platform::kTermiosRules); });
      EXPECT_EQ(!fault, taken) << "\"" << row.settings << "\" under " << rules;
      if (!fault) continue;
      EXPECT_EQ(fault->number, 380) << row.settings;
      EXPECT_EQ(fault->source, "MSComm") << row.settings;
      EXPECT_NE(fault->description.find(row.names), std::string::npos)
          << "\"" << row.settings << "\" under " << rules << ": " << fault->description;
    }
  }
}

// The system's own control, closed: a refused value leaves every property as
// it was; what a closed port cannot do faults with 8018.
TEST(SettingsText, ThisSystemsControlRefusesWithoutChangingAnything) {
#ifdef _WIN32
  const bool dcb = true;
#else
  const bool dcb = false;
#endif
  auto serial = platform::makeSerialControl();
  serial->setCommPort(3);
  serial->setHandshaking(2);
  for (const TextRow& row : kRows) {
    serial->setSettings("19200,e,7,2");
    const auto fault = faultOf([&] { serial->setSettings(row.settings); });
    if (dcb ? row.dcb : row.termios) {
      EXPECT_FALSE(fault) << row.settings << ": " << fault->description;
      EXPECT_EQ(serial->settings(), row.settings);
    } else {
      ASSERT_TRUE(fault) << row.settings;
      EXPECT_EQ(fault->number, 380) << row.settings;
      EXPECT_EQ(serial->settings(), "19200,e,7,2") << row.settings;
    }
  }
  const struct {
    const char* what;
    std::function<void()> step;
    int32_t number;
  } others[] = {
      {"handshaking 4", [&] { serial->setHandshaking(4); }, 380},
      {"handshaking -1", [&] { serial->setHandshaking(-1); }, 380},
      {"port 0", [&] { serial->setCommPort(0); }, 8002},
      {"Output while closed", [&] { serial->setOutput("P01"); }, 8018},
      {"Input while closed", [&] { serial->input(); }, 8018},
  };
  for (const auto& row : others) {
    const auto fault = faultOf(row.step);
    ASSERT_TRUE(fault) << row.what;
    EXPECT_EQ(fault->number, row.number) << row.what;
    EXPECT_EQ(fault->source, "MSComm") << row.what;
  }
  EXPECT_EQ(faultOf([&] { serial->input(); })->description, "Operation valid only when the port is open");
  EXPECT_EQ(serial->handshaking(), 2);
  EXPECT_EQ(serial->commPort(), 3);
}

}  // namespace
