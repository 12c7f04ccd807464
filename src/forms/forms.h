#pragma once
// The program's two windows, one instance each: the main window Main and the
// configuration dialog frmConfig, with their controls. The procedures of the
// main window, the dialog and the MCU link all reach the windows here.

#include "forms/globals.h"
#include "platform/controls.h"
#include "platform/serial.h"

#include <array>
#include <memory>

struct MainWindow {
  std::unique_ptr<platform::Form> form;
  platform::CommandButton* cmdInit = nullptr;
  std::unique_ptr<platform::SerialControl> MSComm;
  platform::Frame* Frame2 = nullptr;
  platform::ListBox* List1 = nullptr;
  platform::CommandButton* btnConfigure = nullptr;
  platform::CommandButton* btnExit = nullptr;
  platform::Frame* Frame1 = nullptr;
  std::array<platform::CommandButton*, kPorts> btnServer{};
  std::array<platform::Image*, kPorts> imgLED{};
  std::array<platform::Label*, kPorts> lblServer{};
  platform::Label* Label1 = nullptr;
};

// The mode toggles' captions, which the port buttons read at every press.
inline constexpr const char* kMomentary = "Momentary";
inline constexpr const char* kLatch = "Latch";

struct ConfigDialog {
  std::unique_ptr<platform::Form> form;
  std::array<platform::TextBox*, kPorts> txtServer{};
  std::array<platform::Label*, kPorts> lblMode{};
  platform::ComboBox* PortComboBox = nullptr;
  platform::ComboBox* SpeedComboBox = nullptr;
  platform::ComboBox* FlowControl = nullptr;
  platform::ComboBox* Parity = nullptr;
  platform::ComboBox* DataBits = nullptr;
  platform::ComboBox* StopBits = nullptr;
  platform::CommandButton* btnSave = nullptr;
  platform::CommandButton* btnCancel = nullptr;
};

// The main window. REQUIRES: MainLoaded().
MainWindow& Main();
bool MainLoaded();
// Makes `window` the main window (nullptr: destroys the one there is).
void SetMain(std::unique_ptr<MainWindow> window);

// The dialog, loading it hidden through the installed loader (which builds it
// and runs its Form_Load) when it is not loaded: the port buttons read its
// mode captions at every press, whether it was unloaded or not.
ConfigDialog& frmConfig();
bool ConfigLoaded();
void UnloadConfig();
// Sets how the dialog is loaded; the dialog's own code installs it.
void InstallConfigLoader(void (*load)(ConfigDialog& dialog));
