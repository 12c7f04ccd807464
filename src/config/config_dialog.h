#pragma once
// The configuration dialog frmConfig. It is loaded, hidden, by the first access
// to one of its controls and destroyed by Save, Cancel and Exit.

#include "persist/errorreport.h"
#include "platform/controls.h"
#include "shell/globals.h"

#include <array>
#include <memory>

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

// The dialog, loading it hidden (and running its Form_Load) when it is not loaded.
ConfigDialog& frmConfig();
bool ConfigLoaded();
void UnloadConfig();

void frmConfig_Form_Load();

// Show gCommPort, gFlowControl and gParity in the dialog's boxes: as the list
// entry where one stands for the value, otherwise as stored (the boxes take any
// text), so an untouched Save keeps the value. Steps are the caller's.
void ShowCommPort(const Steps& step);
void ShowFlowControl(const Steps& step);
void ShowParity(const Steps& step);
void lblMode_Click(int index);
void btnSave_Click();
void StoreSettings();
void btnCancel_Click();
