#pragma once
// Stored line settings and the line each must give the device, one table for
// every system: parity E and O, 1.5 and 2 stop bits, and each flow control
// are told apart, so a set-up that swaps or drops one fails a row.

#include "switch/switch.h"

#include <cstdint>
#include <vector>

struct LineCase {
  LineText stored;  // comm port, speed, flow control, parity, data bits, stop bits
  int32_t speed;
  char parity;
  int dataBits;
  int stopTenths;  // 10, 15 or 20
  bool xonXoff;
  bool rtsCts;
  bool rtsEnable;  // the control's RTSEnable: raised by the program under RTS/CTS alone
};

inline const std::vector<LineCase>& lineCases() {
  static const std::vector<LineCase> rows = {
      {{"1", "9600", "0", "N", "8", "1"}, 9600, 'N', 8, 10, false, false, false},
      {{"1", "4800", "0", "E", "7", "1"}, 4800, 'E', 7, 10, false, false, false},
      {{"1", "19200", "1", "O", "7", "2"}, 19200, 'O', 7, 20, true, false, false},
      {{"1", "2400", "2", "M", "8", "2"}, 2400, 'M', 8, 20, false, true, true},
      {{"1", "38400", "3", "S", "8", "1"}, 38400, 'S', 8, 10, true, true, false},
      {{"1", "1200", "2", "e", "8", "2"}, 1200, 'E', 8, 20, false, true, true},
      // Taken by the communications API only; termios has no 1.5 stop bits.
      {{"1", "300", "0", "O", "5", "1.5"}, 300, 'O', 5, 15, false, false, false},
  };
  return rows;
}
