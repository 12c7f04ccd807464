#pragma once
// The application state: one record for the whole process, shared by the main
// window, the configuration dialog and the settings code.

#include <array>
#include <cstdint>
#include <string>

inline constexpr int kPorts = 5;

struct Globals {
  int16_t gInitVisible = 0;              // 1 while the main window shows its extended view
  std::array<int16_t, kPorts> gPortMode{};  // 0 Momentary, any other value Latch
  std::string gAppDir;                   // program directory + "\"
  int16_t gErrorLog = 0;                 // the log writer writes only while this is 1
  int32_t gUpdateMode = 0;               // 1: the settings store writes; otherwise it reads
  std::string gKeyName;                  // value name for the settings store
  std::string gKeyValue;                 // default or new value in, value to use out
  std::string gCommPort, gOldCommPort;
  std::string gCommSpeed, gOldCommSpeed;
  std::string gFlowControl, gOldFlowControl;
  std::string gParity, gOldParity;
  std::string gDataBits, gOldDataBits;
  std::string gStopBits, gOldStopBits;
  std::string gRegistryReport;           // what the last settings-store call did
};

extern Globals g;
