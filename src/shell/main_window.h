#pragma once
// The main window Main: its controls, start-up and the small commands.

#include "platform/controls.h"
#include "platform/serial.h"
#include "shell/globals.h"

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

// Window heights of the two views and their common width, in twips.
inline constexpr int kCompactHeight = 3165;
inline constexpr int kExtendedHeight = 6495;
inline constexpr int kMainWidth = 5565;

// Creates the main window, runs Form_Load and shows it.
void LoadMain();
// The main window; LoadMain must have run.
MainWindow& Main();
// Destroys the main window; with no window left the program ends.
void UnloadMain();
bool MainLoaded();

void Form_Load();
void Label1_DblClick();
void btnConfigure_Click();
void btnExit_Click();
