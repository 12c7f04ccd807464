// tarnwick-switch's line set-up on a pseudo-terminal: the far end sees the
// stored speed, stop bits and flow control (the kernel drops parity and data
// bits on a pty, so those are read from the control's Settings).

#include "platform/fault.h"
#include "platform/serial.h"
#include "support/fault_of.h"
#include "support/line_cases.h"
#include "support/machine.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

speed_t termiosSpeed(int32_t speed) {
  for (const auto& [bps, code] : {std::pair{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600},
                                 {19200, B19200}, {38400, B38400}})
    if (bps == speed) return code;
  return B0;
}

TEST(SwitchLine, DeviceGetsTheStoredLine) {
  TempMachine machine;
  for (const LineCase& row : lineCases()) {
    const LineText& in = row.stored;
    SCOPED_TRACE(in.speed + "," + in.parity + "," + in.dataBits + "," + in.stopBits + " flow " + in.flowControl);
    PtyPair pty;
    machine.linkComPort(1, pty.devicePath());
    auto comm = platform::makeSerialControl();
    const auto fault = faultOf([&] {
      SetUpLine(*comm, in);
      comm->setPortOpen(true);
    });
    if (row.stopTenths == 15) {
      ASSERT_TRUE(fault);
      EXPECT_EQ(fault->number, platform::faults::kInvalidProperty);
      EXPECT_FALSE(comm->portOpen());
      continue;
    }
    ASSERT_FALSE(fault) << fault->number << " " << fault->description;
    const termios t = pty.attributes();
    EXPECT_EQ(cfgetispeed(&t), termiosSpeed(row.speed));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, row.stopTenths == 20);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, row.rtsCts);
    EXPECT_EQ((t.c_iflag & IXON) != 0 && (t.c_iflag & IXOFF) != 0, row.xonXoff);
    EXPECT_EQ(comm->settings(), in.speed + "," + in.parity + "," + in.dataBits + "," + in.stopBits);
    EXPECT_EQ(comm->handshaking(), (row.xonXoff ? 1 : 0) + (row.rtsCts ? 2 : 0));
    EXPECT_EQ(comm->rtsEnable(), row.rtsEnable);
    comm->setPortOpen(false);
  }
}

}  // namespace
