// What a screen reader reads of the running windows, through Qt's own
// accessibility interface (the one its AT-SPI bridge serves): role, name and
// description of each control, before and after a switch and a rename.
#include "config/config_dialog.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <QAccessible>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Read {
  const char* what;
  std::function<QObject*()> object;
  QAccessible::Role role;
  const char* name;
  const char* description;
};

QObject* main() { return windowOf(Main().form.get()); }
QObject* button(int i) { return widgetOf(Main().btnServer[i]); }
QObject* led(int i) { return widgetOf(Main().imgLED[i]); }

// Qt names a combo box by its text on AT-SPI; a reader speaks its label,
// given by the labelled-by relation, first. (Qt also counts the frame around
// a control as a label of it: that one is the group's name, not the box's.)
std::string spokenName(QAccessibleInterface* read) {
  if (read->role() == QAccessible::ComboBox) {
    for (const auto& [label, relation] : read->relations(QAccessible::Label))
      if (label->role() == QAccessible::StaticText) return label->text(QAccessible::Name).toStdString();
  }
  return read->text(QAccessible::Name).toStdString();
}

void expectReads(const std::vector<Read>& rows) {
  for (const Read& row : rows) {
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(row.object());
    ASSERT_NE(read, nullptr) << row.what;
    EXPECT_EQ(read->role(), row.role) << row.what;
    EXPECT_EQ(spokenName(read), row.name) << row.what;
    EXPECT_EQ(read->text(QAccessible::Description).toStdString(), row.description) << row.what;
  }
}

// The message log's rows, as a reader goes through them.
std::vector<std::string> logRows() {
  QAccessibleInterface* log = QAccessible::queryAccessibleInterface(widgetOf(Main().List1));
  std::vector<std::string> rows;
  for (int i = 0; i < log->childCount(); ++i) rows.push_back(log->child(i)->text(QAccessible::Name).toStdString());
  return rows;
}

TEST(Accessibility, PortsReadByTheirNamesWithTheirStateAndTheDialogBoxesByTheirLabels) {
  Program p;
  p.start();
  using R = QAccessible::Role;
  expectReads({
      {"main window", main, R::Window, "Tarnwick - V1.0", ""},
      {"port 1 button", [] { return button(0); }, R::Button, "Server 1", "OFF"},
      {"port 5 button", [] { return button(4); }, R::Button, "Server 5", "OFF"},
      {"port 1 LED", [] { return led(0); }, R::Graphic, "Server 1", "off"},
      {"port 5 LED", [] { return led(4); }, R::Graphic, "Server 5", "off"},
      {"message log", [] { return widgetOf(Main().List1); }, R::List, "Message Log", ""},
      {"Initialize MCU", [] { return widgetOf(Main().cmdInit); }, R::Button, "Initialize MCU", ""},
      {"Configure", [] { return widgetOf(Main().btnConfigure); }, R::Button, "Configure", ""},
      {"Exit", [] { return widgetOf(Main().btnExit); }, R::Button, "Exit", ""},
      {"dialog", [] { return windowOf(frmConfig().form.get()); }, R::Window, "Configuration", ""},
      {"port 1 name", [] { return widgetOf(frmConfig().txtServer[0]); }, R::EditableText, "Port 1 Server Name:", ""},
      {"port 3 name", [] { return widgetOf(frmConfig().txtServer[2]); }, R::EditableText, "Port 3 Server Name:", ""},
      {"port 1 mode", [] { return widgetOf(frmConfig().lblMode[0]); }, R::StaticText, "Port 1 mode", "Momentary"},
      {"COM port", [] { return widgetOf(frmConfig().PortComboBox); }, R::ComboBox, "COM Port:", ""},
      {"speed", [] { return widgetOf(frmConfig().SpeedComboBox); }, R::ComboBox, "Speed:", ""},
      {"flow control", [] { return widgetOf(frmConfig().FlowControl); }, R::ComboBox, "Flow Control:", ""},
      {"parity", [] { return widgetOf(frmConfig().Parity); }, R::ComboBox, "Parity:", ""},
      {"data bits", [] { return widgetOf(frmConfig().DataBits); }, R::ComboBox, "Data:", ""},
      {"stop bits", [] { return widgetOf(frmConfig().StopBits); }, R::ComboBox, "Stop Bits:", ""},
  });

  // Port 1 held down (Momentary), port 2's mode switched to Latch.
  pressOn(widgetOf(Main().btnServer[0]));
  lblMode_Click(1);
  expectReads({
      {"port 1 button held", [] { return button(0); }, R::Button, "Server 1", "ON"},
      {"port 1 LED held", [] { return led(0); }, R::Graphic, "Server 1", "on"},
      {"port 2 mode", [] { return widgetOf(frmConfig().lblMode[1]); }, R::StaticText, "Port 2 mode", "Latch"},
  });
  ASSERT_FALSE(logRows().empty());
  EXPECT_NE(logRows().back().find(" Port: 1 -> ON"), std::string::npos) << joined(logRows(), "\n");
  releaseOn(widgetOf(Main().btnServer[0]));

  // Port 2 renamed and saved: its button and LED follow.
  clickOn(widgetOf(Main().btnConfigure));
  frmConfig().txtServer[1]->setText("Pump");
  clickOn(widgetOf(frmConfig().btnSave));
  pumpEvents(10);
  expectReads({
      {"port 1 button let go", [] { return button(0); }, R::Button, "Server 1", "OFF"},
      {"port 1 LED let go", [] { return led(0); }, R::Graphic, "Server 1", "off"},
      {"port 2 button renamed", [] { return button(1); }, R::Button, "Pump", "OFF"},
      {"port 2 LED renamed", [] { return led(1); }, R::Graphic, "Pump", "off"},
  });

  // Started again on the renamed store: the name comes from the store.
  p.restart();
  expectReads({
      {"port 2 button after restart", [] { return button(1); }, R::Button, "Pump", "OFF"},
      {"port 2 LED after restart", [] { return led(1); }, R::Graphic, "Pump", "off"},
  });
}

}  // namespace
