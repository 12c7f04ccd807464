#include "shell/main_window.h"

#include "config/config_dialog.h"
#include "link/mcu.h"
#include "link/ports.h"
#include "link/remote.h"
#include "persist/convert.h"
#include "persist/errorreport.h"
#include "persist/regkeys.h"
#include "persist/settings.h"
#include "platform/files.h"

namespace {

const std::string kWebAddress = "www.tarnwick.example";

// Creates the window and its controls, hidden, in creation order.
void BuildMain(MainWindow& w) {
  using platform::Twips;
  w.form = platform::toolkit().newForm();
  platform::Form& f = *w.form;
  w.cmdInit = f.addCommandButton(nullptr, Twips{2040, 2520, 1335, 375}, "Initialize MCU");
  w.cmdInit->setVisible(false);
  w.MSComm = platform::makeSerialControl();
  w.Frame2 = f.addFrame(nullptr, Twips{120, 2880, 5175, 3015}, "Message Log");
  w.List1 = f.addListBox(w.Frame2, Twips{120, 240, 4935, 2595});
  w.btnConfigure = f.addCommandButton(nullptr, Twips{120, 2160, 1335, 375}, "Configure");
  w.btnExit = f.addCommandButton(nullptr, Twips{3960, 2160, 1335, 375}, "Exit");
  w.Frame1 = f.addFrame(nullptr, Twips{120, 0, 5175, 2055}, "Ports");
  const platform::Font buttonFont{"MS Sans Serif", 8.25, true, false};
  for (int i = 0; i < kPorts; ++i) {
    const int left = 960 * i;
    w.btnServer[i] = f.addCommandButton(w.Frame1, Twips{240 + left, 1080, 855, 735}, "OFF", &buttonFont);
    w.imgLED[i] = f.addImage(w.Frame1, Twips{480 + left, 600, 300, 300});
    w.lblServer[i] = f.addLabel(w.Frame1, Twips{240 + left, 240, 855, 255},
                                PortNameDefault(i), platform::Align::Center);
    // A screen reader reads the button and the LED by the port's name above them.
    w.lblServer[i]->labelFor(w.btnServer[i]);
    w.lblServer[i]->labelFor(w.imgLED[i]);
  }
  w.List1->setAccessibleName("Message Log");
  const platform::Font webFont{"Comic Sans MS", 8.25, true, true};
  w.Label1 = f.addLabel(nullptr, Twips{1560, 2160, 2295, 255}, kWebAddress, platform::Align::Center, &webFont);

  std::vector<platform::Control*> order(w.btnServer.begin(), w.btnServer.end());
  order.insert(order.end(), {w.btnExit, w.btnConfigure, w.List1, w.cmdInit});
  f.setTabOrder(order);

  for (int i = 0; i < kPorts; ++i) {
    w.btnServer[i]->onMouseDown = [i](int) { btnServer_MouseDown(i); };
    w.btnServer[i]->onMouseUp = [i](int) { btnServer_MouseUp(i); };
  }
  w.cmdInit->onClick = cmdInit_Click;
  w.btnConfigure->onClick = btnConfigure_Click;
  w.btnExit->onClick = btnExit_Click;
  w.Label1->onDblClick = Label1_DblClick;
  w.MSComm->onComm = MSComm_OnComm;
  // Closing the window through its frame ends the program as Exit does, so no
  // hidden process is left holding the serial port.
  f.onClose = btnExit_Click;
}

// Reads a serial setting (created with the current text when missing) into its
// global. Each action is its own step.
void ReadSerialSetting(const Steps& step, const Setting& stored, std::string& setting) {
  step([&] { g.gKeyName = stored.name; });
  step([&] { g.gKeyValue = setting; });
  step([] { Registry(g.gKeyName, g.gKeyValue); });
  step([&] { setting = g.gKeyValue; });
}

}  // namespace

void LoadMain() {
  InstallConfigDialog();
  SetMain(std::make_unique<MainWindow>());
  BuildMain(Main());
  Form_Load();
  Main().form->show();
  Main().form->setFocus(Main().btnServer[0]);
}

void UnloadMain() {
  SetMain(nullptr);
  if (!ConfigLoaded()) platform::toolkit().endProgram(0);
}

void Form_Load() {
  const Steps step("[Form_Load] Error (");
  MainWindow& w = Main();
  step([&] {
    w.form->setCaption("Tarnwick - V" + std::to_string(TARNWICK_VERSION_MAJOR) +
                       "." + std::to_string(TARNWICK_VERSION_MINOR));
  });
  for (const LineField& field : kLineFields) step([&] { g.*field.value = field.setting->defaultValue; });
  step([] { g.gUpdateMode = 0; });
  step([] { g.gInitVisible = 0; });
  step([&] { w.form->setHeight(kCompactHeight); });
  step([&] { w.form->setWidth(kMainWidth); });
  step([] { g.gAppDir = platform::programDirectory() + "\\"; });
  for (int i = 0; i < kPorts; ++i)
    step([&] {
      w.imgLED[i]->loadPicture(g.gAppDir + "OFF.gif");
      w.imgLED[i]->setAccessibleDescription("off");
    });
  step([&] { w.List1->setText(""); });
  step([] { frmConfig(); });  // loads the dialog, hidden, running its own load step

  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortNameSetting(i); });
    step([&] { g.gKeyValue = PortNameDefault(i); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
    step([&] { frmConfig().txtServer[i]->setText(g.gKeyValue); });
    step([&] { w.lblServer[i]->setCaption(g.gKeyValue); });
  }
  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortModeSetting(i); });
    step([&] { g.gKeyValue = std::to_string(g.gPortMode[i]); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
    step([&] { g.gPortMode[i] = CInt(g.gKeyValue); });
    if (step.test([] { return CDbl(g.gKeyValue) == 0; }))
      step([&] { frmConfig().lblMode[i]->setCaption(kMomentary); });
    else
      step([&] { frmConfig().lblMode[i]->setCaption(kLatch); });
  }

  step([] { g.gKeyName = kErrorLogSetting.name; });
  step([] { g.gKeyValue = kErrorLogSetting.defaultValue; });
  step([] { Registry(g.gKeyName, g.gKeyValue); });
  step([] { g.gErrorLog = CInt(g.gKeyValue); });

  ReadSerialSetting(step, kCommPortSetting, g.gCommPort);
  ShowCommPort(step);
  ReadSerialSetting(step, kCommSpeedSetting, g.gCommSpeed);
  step([&] { frmConfig().SpeedComboBox->setText(g.gCommSpeed); });
  ReadSerialSetting(step, kFlowControlSetting, g.gFlowControl);
  ShowFlowControl(step);
  ReadSerialSetting(step, kParitySetting, g.gParity);
  ShowParity(step);
  ReadSerialSetting(step, kDataBitsSetting, g.gDataBits);
  step([&] { frmConfig().DataBits->setText(g.gDataBits); });
  ReadSerialSetting(step, kStopBitsSetting, g.gStopBits);
  step([&] { frmConfig().StopBits->setText(g.gStopBits); });

  ApplySerialSettings(step, 3, 1);
  ServeLine();
}

void Label1_DblClick() {
  MainWindow& w = Main();
  if (g.gInitVisible != 0) {
    w.form->setHeight(kCompactHeight);
    w.form->setWidth(kMainWidth);
    g.gInitVisible = 0;
    w.cmdInit->setVisible(false);
  } else {
    w.form->setHeight(kExtendedHeight);
    w.form->setWidth(kMainWidth);
    g.gInitVisible = 1;
    w.cmdInit->setVisible(true);
  }
}

void btnConfigure_Click() {
  for (const LineField& field : kLineFields) g.*field.old = g.*field.value;
  frmConfig().form->show();
}

void btnExit_Click() {
  const Steps step("[btnExit_Click] Error (");
  StopServing(step);  // a script's pulse gets its off while the port is still open
  step([] { Main().MSComm->input(); });  // drop what waits unread
  step([] { Main().MSComm->setPortOpen(false); });
  step([] { UnloadConfig(); });
  step([] { UnloadMain(); });
}
