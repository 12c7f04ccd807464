#include "support/program.h"

#include "config/config_dialog.h"
#include "platform/files.h"
#include "shell/main_window.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

Program::Program() : line(std::make_unique<PtyPair>()) {
  QDir().mkpath(appDir());
  for (const char* pic : {"ON.gif", "OFF.gif"})
    QFile::copy(QStringLiteral(TARNWICK_SOURCE_DIR "/assets/") + pic, appDir() + "/" + pic);
  platform::setProgramDirectoryForTesting(appDir());
  machine.linkComPort(1, line->devicePath());
}

Program::~Program() {
  stop();
  platform::setProgramDirectoryForTesting(QString());
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

void Program::writeSettings(const QStringList& lines) {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\" TARNWICK_COMPANY "\\" TARNWICK_PRODUCT "]\r\n";
  for (const QString& l : lines) text += l.toLatin1().toStdString() + "\r\n";
  machine.writeRegistry(text);
}

QString Program::stored(const QString& name) const { return registryValue(machine.readRegistry(), name); }

QStringList Program::reports() const {
  QStringList out;
  for (const QString& l : machine.logLines()) {
    const qsizetype at = l.indexOf(QStringLiteral(": ["));
    out << (at >= 0 ? l.mid(at + 2) : l);
  }
  return out;
}

QStringList Program::messageLog() const {
  // The stamp ends with the time's seconds (and an AM/PM marker in some locales).
  static const QRegularExpression stamp(QStringLiteral("^.*?\\d:\\d\\d:\\d\\d(?: ?[AaPp]\\.?[Mm]\\.?)?"));
  QStringList out;
  for (int i = 0; i < Main().List1->listCount(); ++i) out << Main().List1->item(i).remove(stamp);
  return out;
}

void pressOn(QWidget* widget, Qt::MouseButton button) {
  QTest::mousePress(widget, button, Qt::NoModifier, widget->rect().center());
}

void releaseOn(QWidget* widget, Qt::MouseButton button) {
  QTest::mouseRelease(widget, button, Qt::NoModifier, widget->rect().center());
}

void clickOn(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center()); }
