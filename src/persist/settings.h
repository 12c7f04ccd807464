#pragma once
// The stored settings: each value's name and default, written once for the
// main window, the dialog and tarnwick-switch.

#include <array>
#include <string>

struct Setting {
  const char* name;
  const char* defaultValue;
};

inline constexpr Setting kErrorLogSetting{"Error Log", "0"};
inline constexpr Setting kCommPortSetting{"Comm Port", "1"};
inline constexpr Setting kCommSpeedSetting{"Comm Speed", "9600"};
inline constexpr Setting kFlowControlSetting{"Flow Control", "0"};  // 0 none, 1 XON/XOFF, 2 RTS/CTS
inline constexpr Setting kParitySetting{"Parity Control", "N"};
inline constexpr Setting kDataBitsSetting{"Data Bits", "8"};
inline constexpr Setting kStopBitsSetting{"Stop Bits", "1"};

// The serial line's settings, in the order they are read and saved.
inline constexpr std::array<const Setting*, 6> kLineSettings = {
    &kCommPortSetting, &kCommSpeedSetting, &kFlowControlSetting, &kParitySetting, &kDataBitsSetting, &kStopBitsSetting};

// Port n's name ("Port n", default "Server n") and mode ("Port n Mode",
// default "0": Momentary); index 0 is port 1.
inline std::string PortNameSetting(int index) { return "Port " + std::to_string(index + 1); }
inline std::string PortNameDefault(int index) { return "Server " + std::to_string(index + 1); }
inline std::string PortModeSetting(int index) { return PortNameSetting(index) + " Mode"; }
inline constexpr const char* kPortModeDefault = "0";

// The serial line as stored text; the defaults where nothing is stored.
struct LineText {
  std::string commPort = kCommPortSetting.defaultValue;
  std::string speed = kCommSpeedSetting.defaultValue;
  std::string flowControl = kFlowControlSetting.defaultValue;
  std::string parity = kParitySetting.defaultValue;
  std::string dataBits = kDataBitsSetting.defaultValue;
  std::string stopBits = kStopBitsSetting.defaultValue;

  // The field that holds a line setting of kLineSettings.
  std::string& operator[](const Setting* setting);
  // "speed,parity,data,stop", the serial control's Settings text.
  std::string settingsText() const { return speed + ',' + parity + ',' + dataBits + ',' + stopBits; }
};

inline std::string& LineText::operator[](const Setting* setting) {
  if (setting == &kCommPortSetting) return commPort;
  if (setting == &kCommSpeedSetting) return speed;
  if (setting == &kFlowControlSetting) return flowControl;
  if (setting == &kParitySetting) return parity;
  if (setting == &kDataBitsSetting) return dataBits;
  return stopBits;
}
