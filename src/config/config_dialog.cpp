#include "config/config_dialog.h"

#include "link/mcu.h"
#include "link/remote.h"
#include "persist/convert.h"
#include "persist/errorreport.h"
#include "persist/regkeys.h"
#include "persist/settings.h"
#include "platform/portable/utf8.h"

namespace {

// Leading and trailing blanks removed (blanks only, as names are typed).
std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

// The port number of a port text: the digits it ends with ("COM12" gives "12").
// A text that ends in no digit gives its last character, which the conversion
// to a port number then refuses.
std::string PortFromText(const std::string& text) {
  size_t start = text.size();
  while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
  return start < text.size() ? text.substr(start) : platform::utf8::lastCharacter(text);
}

void BuildConfig(ConfigDialog& d) {
  using platform::Align;
  using platform::Twips;
  d.form = platform::toolkit().newForm();
  platform::Form& f = *d.form;
  f.setCaption("Configuration");
  f.setClientSize(4815, 4350);

  platform::Frame* buttons = f.addFrame(nullptr, Twips{60, 0, 4695, 2235}, "Button Configuration");
  const platform::Font modeFont{"MS Sans Serif", 8.25, true, false};
  for (int i = 0; i < kPorts; ++i) {
    const int top = 360 * i;
    f.addLabel(buttons, Twips{120, 420 + top, 135, 255}, std::to_string(i + 1) + ".", Align::Left);
    f.addLabel(buttons, Twips{240, 420 + top, 1095, 255}, "Server Name:", Align::Right);
    d.txtServer[i] = f.addTextBox(buttons, Twips{1380, 360 + top, 1875, 285}, PortNameDefault(i));
    d.lblMode[i] = f.addLabel(buttons, Twips{3540, 420 + top, 975, 255}, kMomentary, Align::Center, &modeFont);
    // The five rows share their label: a screen reader needs the port too.
    const std::string port = "Port " + std::to_string(i + 1);
    d.txtServer[i]->setAccessibleName(port + " Server Name:");
    d.lblMode[i]->setAccessibleName(port + " mode");
    d.lblMode[i]->onClick = [i] { lblMode_Click(i); };
  }

  platform::Frame* com = f.addFrame(nullptr, Twips{60, 2280, 4695, 1515}, "COM Settings");
  auto combo = [&](const char* caption, Twips label, Twips box, const std::vector<std::string>& items) {
    platform::Label* name = f.addLabel(com, label, caption, Align::Right);
    platform::ComboBox* field = f.addComboBox(com, box, items);
    name->labelFor(field);
    return field;
  };
  d.PortComboBox = combo("COM Port:", {120, 360, 855, 255}, {1020, 300, 1395, 315},
                         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"});
  d.SpeedComboBox = combo("Speed:", {120, 720, 855, 255}, {1020, 660, 1395, 315},
                          {"300", "1200", "2400", "4800", "9600", "19200", "38400"});
  d.FlowControl = combo("Flow Control:", {60, 1080, 915, 255}, {1020, 1020, 1395, 315},
                        {"0 - None", "1 - XON/XOFF", "2 - RTS/CTS"});
  d.Parity = combo("Parity:", {2280, 360, 855, 255}, {3180, 300, 975, 315}, {"None", "Odd", "Even", "Mark", "Space"});
  d.DataBits = combo("Data:", {2280, 720, 855, 255}, {3180, 660, 975, 315}, {"4", "5", "6", "7", "8"});
  d.StopBits = combo("Stop Bits:", {2280, 1080, 855, 255}, {3180, 1020, 975, 315}, {"1", "1.5", "2"});

  d.btnSave = f.addCommandButton(nullptr, Twips{300, 3900, 1695, 375}, "Save");
  d.btnCancel = f.addCommandButton(nullptr, Twips{2820, 3900, 1695, 375}, "Cancel");
  d.btnSave->onClick = btnSave_Click;
  d.btnCancel->onClick = btnCancel_Click;
  // Closing through the window frame is Cancel.
  f.onClose = btnCancel_Click;

  std::vector<platform::Control*> order(d.txtServer.begin(), d.txtServer.end());
  order.insert(order.end(), {d.btnSave, d.btnCancel, d.Parity, d.FlowControl, d.DataBits, d.StopBits,
                             d.SpeedComboBox, d.PortComboBox});
  f.setTabOrder(order);
}

const char* const kFlowTexts[] = {"0 - None", "1 - XON/XOFF", "2 - RTS/CTS"};
const char* const kParities[][2] = {{"E", "Even"}, {"M", "Mark"}, {"N", "None"}, {"O", "Odd"}, {"S", "Space"}};

// What the dialog shows for a setting. A value that has a list entry shows as
// the entry; any other value shows as it is stored, so that taking the text
// back gives the same value.
std::string PortShown(const std::string& port) { return "COM" + port; }

std::string FlowShown(const std::string& flow) {
  for (int mode = 0; mode < 3; ++mode)
    if (flow == std::to_string(mode)) return kFlowTexts[mode];
  return flow;
}

std::string ParityShown(const std::string& parity) {
  for (const auto& entry : kParities)
    if (parity == entry[0]) return entry[1];
  return parity;
}

// The setting a box's text gives. A box that still shows the setting as the
// dialog showed it keeps the setting whole: the rule that takes a part of the
// text is for entries picked or typed, and would cut a value shown as stored
// ("COM1x" would give "x", "ev" would give "e").
std::string Taken(const std::string& text, const std::string& setting,
                  std::string (*shown)(const std::string&), std::string (*rule)(const std::string&)) {
  return text == shown(setting) ? setting : rule(text);
}

// The six texts into the settings, in the order the settings are saved.
void TakeSerialTexts(const Steps& step) {
  ConfigDialog& d = frmConfig();
  step([&] { g.gCommPort = Taken(d.PortComboBox->text(), g.gCommPort, PortShown, PortFromText); });
  step([&] { g.gCommSpeed = d.SpeedComboBox->text(); });
  step([&] { g.gFlowControl = Taken(d.FlowControl->text(), g.gFlowControl, FlowShown, platform::utf8::firstCharacter); });
  step([&] { g.gParity = Taken(d.Parity->text(), g.gParity, ParityShown, platform::utf8::firstCharacter); });
  step([&] { g.gDataBits = d.DataBits->text(); });
  step([&] { g.gStopBits = d.StopBits->text(); });
}

}  // namespace

void InstallConfigDialog() {
  InstallConfigLoader([](ConfigDialog& dialog) {
    BuildConfig(dialog);
    frmConfig_Form_Load();
  });
}

void frmConfig_Form_Load() {
  const Steps step("[Form_Load] Error (");
  ConfigDialog& d = frmConfig();
  for (const LineField& field : kLineFields) step([&] { g.*field.old = g.*field.value; });

  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortNameSetting(i); });
    step([&] { g.gKeyValue = TrimBlanks(d.txtServer[i]->text()); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
    step([&] { d.txtServer[i]->setText(g.gKeyValue); });
    step([&] {
      if (MainLoaded()) Main().lblServer[i]->setCaption(g.gKeyValue);
    });
  }
  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortModeSetting(i); });
    step([&] { g.gKeyValue = std::to_string(g.gPortMode[i]); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });  // only creates a missing entry
    step([&] { d.lblMode[i]->setCaption(g.gPortMode[i] != 0 ? kLatch : kMomentary); });
  }

  ShowCommPort(step);
  step([&] { d.SpeedComboBox->setText(g.gCommSpeed); });
  ShowFlowControl(step);
  ShowParity(step);
  step([&] { d.DataBits->setText(g.gDataBits); });
  step([&] { d.StopBits->setText(g.gStopBits); });
}

void ShowCommPort(const Steps& step) {
  step([] { frmConfig().PortComboBox->setText(PortShown(g.gCommPort)); });
}

void ShowFlowControl(const Steps& step) {
  // The value is still tested as a number once per entry, so a value that is
  // not a number is reported by each test.
  for (int mode = 0; mode < 3; ++mode) step([] { CDbl(g.gFlowControl); });
  step([] { frmConfig().FlowControl->setText(FlowShown(g.gFlowControl)); });
}

void ShowParity(const Steps& step) {
  step([] { frmConfig().Parity->setText(ParityShown(g.gParity)); });
}

void lblMode_Click(int index) {
  ConfigDialog& d = frmConfig();
  if (d.lblMode[index]->caption() == kMomentary) {
    d.lblMode[index]->setCaption(kLatch);
    g.gPortMode[index] = 1;
  } else {
    d.lblMode[index]->setCaption(kMomentary);
    g.gPortMode[index] = 0;
  }
}

void btnSave_Click() {
  const Steps step("[btnSave_Click] Error (");
  step([] { g.gUpdateMode = 1; });
  TakeSerialTexts(step);

  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortNameSetting(i); });
    step([&] { g.gKeyValue = TrimBlanks(frmConfig().txtServer[i]->text()); });
    step([&] { Main().lblServer[i]->setCaption(g.gKeyValue); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
  }
  for (int i = 0; i < kPorts; ++i) {
    step([&] { g.gKeyName = PortModeSetting(i); });
    step([&] { g.gKeyValue = std::to_string(g.gPortMode[i]); });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
  }

  for (const LineField& field : kLineFields) {
    if (g.*field.value == g.*field.old) continue;
    step([&] { g.gKeyName = field.setting->name; });
    step([&] { g.gKeyValue = g.*field.value; });
    step([] { Registry(g.gKeyName, g.gKeyValue); });
    step([&] { g.*field.old = g.*field.value; });
  }

  step([] { g.gUpdateMode = 0; });
  step([] { StoreSettings(); });
  StopServing(step);  // the endpoint follows the port, which may change here
  step([] { Main().MSComm->setPortOpen(false); });
  ApplySerialSettings(step, 8, 5);
  ServeLine();
  step([] { UnloadConfig(); });
}

void StoreSettings() {
  const Steps step("[StoreSettings] Error (");
  TakeSerialTexts(step);
}

void btnCancel_Click() {
  const Steps step("[CancelSettingsBtn_Click] Error (");
  step([] { UnloadConfig(); });
}
