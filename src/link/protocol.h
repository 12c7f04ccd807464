#pragma once
// What travels to the board: three ASCII characters, nothing added.

#include <string>

// "P" + port index digit + "1" (on) or "0" (off): "P01" switches port 1 on.
inline std::string SwitchCommand(int index, bool on) {
  return "P" + std::to_string(index) + (on ? "1" : "0");
}

// Initialises the board.
inline const std::string kInitCommand = "P90";
