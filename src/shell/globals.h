#pragma once
// The application state: one record for the whole process, shared by the main
// window, the configuration dialog and the settings code.

#include <QString>
#include <array>
#include <cstdint>

inline constexpr int kPorts = 5;

struct Globals {
  int16_t gInitVisible = 0;              // 1 while the main window shows its extended view
  std::array<int16_t, kPorts> gPortMode{};  // 0 Momentary, any other value Latch
  QString gAppDir;                       // program directory + "\"
  int16_t gErrorLog = 0;                 // the log writer writes only while this is 1
  int32_t gUpdateMode = 0;               // 1: the settings store writes; otherwise it reads
  QString gKeyName;                      // value name for the settings store
  QString gKeyValue;                     // default or new value in, value to use out
  QString gCommPort, gOldCommPort;
  QString gCommSpeed, gOldCommSpeed;
  QString gFlowControl, gOldFlowControl;
  QString gParity, gOldParity;
  QString gDataBits, gOldDataBits;
  QString gStopBits, gOldStopBits;
  QString gRegistryReport;               // what the last settings-store call did
};

extern Globals g;
