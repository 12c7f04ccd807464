#pragma once
// The application state: one record for the whole process, shared by the main
// window, the configuration dialog and the settings code.

#include "persist/settings.h"
#include "persist/store_state.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr int kPorts = 5;

// With the store part (persist/store_state.h): gErrorLog, gUpdateMode,
// gKeyName, gKeyValue, gRegistryReport.
struct Globals : StoreState {
  int16_t gInitVisible = 0;              // 1 while the main window shows its extended view
  std::array<int16_t, kPorts> gPortMode{};  // 0 Momentary, any other value Latch
  std::string gAppDir;                   // program directory + "\"
  std::string gCommPort, gOldCommPort;
  std::string gCommSpeed, gOldCommSpeed;
  std::string gFlowControl, gOldFlowControl;
  std::string gParity, gOldParity;
  std::string gDataBits, gOldDataBits;
  std::string gStopBits, gOldStopBits;
};

extern Globals g;

// Where the application state holds each line setting and its copy from
// before the dialog opened.
struct LineField {
  const Setting* setting;
  std::string Globals::*value;
  std::string Globals::*old;
};
inline constexpr std::array<LineField, 6> kLineFields = {{
    {&kCommPortSetting, &Globals::gCommPort, &Globals::gOldCommPort},
    {&kCommSpeedSetting, &Globals::gCommSpeed, &Globals::gOldCommSpeed},
    {&kFlowControlSetting, &Globals::gFlowControl, &Globals::gOldFlowControl},
    {&kParitySetting, &Globals::gParity, &Globals::gOldParity},
    {&kDataBitsSetting, &Globals::gDataBits, &Globals::gOldDataBits},
    {&kStopBitsSetting, &Globals::gStopBits, &Globals::gOldStopBits},
}};

// The line the application state holds.
inline LineText LineOf(const Globals& state) {
  LineText line;
  for (const LineField& field : kLineFields) line[field.setting] = state.*field.value;
  return line;
}
