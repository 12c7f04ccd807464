#include "link/ports.h"

#include "forms/forms.h"
#include "link/message_log.h"
#include "link/protocol.h"

namespace {

// The port's mode caption; "" when it cannot be read, which counts as Momentary.
std::string ReadMode(const Steps& step, int index) {
  std::string mode;
  step([&] { mode = frmConfig().lblMode[index]->caption(); });
  return mode;
}

}  // namespace

void btnServer_MouseDown(int index) {
  const Steps step("[btnServer_MouseDown] Error (");
  TrimMessageLog(step);
  if (ReadMode(step, index) != kLatch) {
    SwitchPort(step, index, true);
  } else {
    // A caption that cannot be read goes on with switching off.
    const bool isOn = step.test([&] { return Main().btnServer[index]->caption() == "ON"; });
    SwitchPort(step, index, !isOn);
  }
}

void btnServer_MouseUp(int index) {
  const Steps step("[btnServer_MouseUp] Error (");
  TrimMessageLog(step);
  if (ReadMode(step, index) != kLatch) SwitchPort(step, index, false);
}

// Log line, command, caption, picture: the command leaves before the window
// changes, so the line sees the press as early as possible. A command that
// could not be sent changes nothing on screen: the caption and LED keep what
// the board was last told, and the log says why the command did not leave.
std::optional<platform::Fault> SwitchPort(const Steps& step, int index, bool on) {
  const std::string line = " Port: " + std::to_string(index + 1) + (on ? " -> ON" : " -> OFF");
  step([&] { AppendMessageLog(line); });
  if (const auto fault = step.run([&] { Main().MSComm->setOutput(SwitchCommand(index, on)); })) {
    LogNotSent(step, line, *fault);
    return fault;
  }
  step([&] { Main().btnServer[index]->setCaption(on ? "ON" : "OFF"); });
  step([&] {
    Main().imgLED[index]->loadPicture(g.gAppDir + (on ? "ON.gif" : "OFF.gif"));
    Main().imgLED[index]->setAccessibleDescription(on ? "on" : "off");
  });
  return std::nullopt;
}
