#pragma once
// What travels to the board: three ASCII characters, nothing added.

#include <string>

// "P" + port index digit + "1" (on) or "0" (off): "P01" switches port 1 on.
inline std::string SwitchCommand(int index, bool on) {
  // Built front to back: "P" + a temporary makes GCC 12 warn, falsely, of
  // overlapping copies (-Wrestrict) when optimising.
  std::string command(1, 'P');
  command += std::to_string(index);
  command += on ? '1' : '0';
  return command;
}

// Initialises the board.
inline const std::string kInitCommand = "P90";
