#include "support/program.h"

#include "config/config_dialog.h"
#include "platform/files.h"
#include "shell/main_window.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

Program::Program() : line(std::make_unique<PtyPair>()) {
  QDir().mkpath(QString::fromStdString(appDir()));
  for (const char* pic : {"ON.gif", "OFF.gif"})
    QFile::copy(QStringLiteral(TARNWICK_SOURCE_DIR "/assets/") + pic, QString::fromStdString(appDir() + "/" + pic));
  platform::setProgramDirectoryForTesting(appDir());
  machine.linkComPort(1, line->devicePath());
}

Program::~Program() {
  stop();
  platform::setProgramDirectoryForTesting("");
}

void Program::start() {
  g = Globals{};
  LoadMain();
  pumpEvents(5);
}

void Program::stop() {
  UnloadConfig();
  if (MainLoaded()) UnloadMain();
  pumpEvents(5);
}

void Program::restart() {
  stop();
  start();
}

void Program::writeSettings(const std::vector<std::string>& lines) {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\" TARNWICK_COMPANY "\\" TARNWICK_PRODUCT "]\r\n";
  for (const std::string& l : lines) text += QString::fromStdString(l).toLatin1().toStdString() + "\r\n";
  machine.writeRegistry(text);
}

std::string Program::stored(const std::string& name) const {
  return registryValue(machine.readRegistry(), name);
}

std::vector<std::string> Program::reports() const {
  std::vector<std::string> out;
  for (const std::string& l : machine.logLines()) {
    const size_t at = l.find(": [");
    out.push_back(at != std::string::npos ? l.substr(at + 2) : l);
  }
  return out;
}

std::vector<std::string> Program::messageLog() const {
  // The stamp ends with the time's seconds (and an AM/PM marker in some locales).
  static const QRegularExpression stamp(QStringLiteral("^.*?\\d:\\d\\d:\\d\\d(?: ?[AaPp]\\.?[Mm]\\.?)?"));
  std::vector<std::string> out;
  for (int i = 0; i < Main().List1->listCount(); ++i)
    out.push_back(QString::fromStdString(Main().List1->item(i)).remove(stamp).toStdString());
  return out;
}

void pressOn(QWidget* widget, Qt::MouseButton button) {
  QTest::mousePress(widget, button, Qt::NoModifier, widget->rect().center());
}

void releaseOn(QWidget* widget, Qt::MouseButton button) {
  QTest::mouseRelease(widget, button, Qt::NoModifier, widget->rect().center());
}

void clickOn(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center()); }
