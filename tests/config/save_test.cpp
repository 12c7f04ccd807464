// Save and Cancel of the configuration dialog: values in the store file, the
// serial line reopened with the new settings, what the windows show.
#include "config/config_dialog.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <termios.h>

namespace {

void openDialog() { clickOn(widgetOf(Main().btnConfigure)); }

void save() {
  clickOn(widgetOf(frmConfig().btnSave));
  pumpEvents(10);
}

// How many values the store file holds.
int countValues(const std::string& file) {
  static const QRegularExpression value(QStringLiteral("^\"[^\"]*\"="), QRegularExpression::MultilineOption);
  int n = 0;
  auto it = value.globalMatch(QString::fromLatin1(file.data(), static_cast<qsizetype>(file.size())));
  while (it.hasNext()) { it.next(); ++n; }
  return n;
}

TEST(Save, NothingChangedWritesNamesAndModesOnlyAndReopensWithTheSameSettings) {
  Program p;
  p.start();
  openDialog();
  p.writeSettings({});  // an empty key: what Save writes is all that will be there
  save();
  const std::string file = p.machine.readRegistry();
  EXPECT_EQ(countValues(file), 10);
  EXPECT_EQ(p.stored("Port 1"), "Server 1");
  EXPECT_EQ(p.stored("Port 5 Mode"), "0");
  EXPECT_EQ(p.stored("Comm Speed"), "");
  EXPECT_FALSE(ConfigLoaded());
  EXPECT_TRUE(Main().MSComm->portOpen());
  EXPECT_EQ(Main().MSComm->settings(), "9600,N,8,1");
  EXPECT_EQ(Main().MSComm->rThreshold(), 8);
  EXPECT_TRUE(p.reports().empty()) << joined(p.reports(), "\n");
}

TEST(Save, OnlyTheChangedSpeedIsWrittenAndTheLineRunsAtIt) {
  Program p;
  p.start();
  openDialog();
  p.writeSettings({});
  frmConfig().SpeedComboBox->setText("19200");
  save();
  EXPECT_EQ(countValues(p.machine.readRegistry()), 11);
  EXPECT_EQ(p.stored("Comm Speed"), "19200");
  const termios line = p.line->attributes();
  EXPECT_EQ(cfgetospeed(&line), B19200);
  EXPECT_EQ(Main().MSComm->settings(), "19200,N,8,1");
}

struct FlowCase {
  const char* text;
  int handshaking;
  bool rts;
};

class SaveFlowControl : public ::testing::TestWithParam<FlowCase> {};

TEST_P(SaveFlowControl, SetsHandshakingAndRts) {
  Program p;
  p.start();
  openDialog();
  frmConfig().FlowControl->setText(GetParam().text);
  save();
  EXPECT_EQ(Main().MSComm->handshaking(), GetParam().handshaking);
  EXPECT_EQ(Main().MSComm->rtsEnable(), GetParam().rts);
  EXPECT_EQ(p.stored("Flow Control"), std::to_string(GetParam().handshaking));
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveFlowControl,
                         ::testing::Values(FlowCase{"2 - RTS/CTS", 2, true}, FlowCase{"1 - XON/XOFF", 1, false}));

TEST(Save, TypedParityTakesItsFirstCharacterAsTyped) {
  Program p;
  p.start();
  openDialog();
  frmConfig().Parity->setText("none");
  save();
  EXPECT_EQ(p.stored("Parity Control"), "n");
  EXPECT_EQ(Main().MSComm->settings(), "9600,n,8,1");
}

TEST(Save, NamesAreTrimmedAndAnEmptiedNameBecomesABlankThatSurvivesARestart) {
  Program p;
  p.start();
  openDialog();
  frmConfig().txtServer[0]->setText("  Web  ");
  frmConfig().txtServer[1]->setText("");
  save();
  EXPECT_EQ(p.stored("Port 1"), "Web");
  EXPECT_EQ(Main().lblServer[0]->caption(), "Web");
  EXPECT_EQ(Main().lblServer[1]->caption(), "");
  EXPECT_EQ(p.stored("Port 2"), " ");
  p.restart();
  EXPECT_EQ(Main().lblServer[1]->caption(), " ");
  EXPECT_EQ(Main().lblServer[0]->caption(), "Web");
}

TEST(Cancel, ToggledModeStaysInForceButIsNotStored) {
  Program p;
  p.start();
  openDialog();
  clickOn(widgetOf(frmConfig().lblMode[1]));
  clickOn(widgetOf(frmConfig().btnCancel));
  pumpEvents(5);
  EXPECT_FALSE(ConfigLoaded());
  EXPECT_EQ(g.gPortMode[1], 1);
  pressOn(widgetOf(Main().btnServer[1]));
  releaseOn(widgetOf(Main().btnServer[1]));
  EXPECT_EQ(p.line->read(100), QByteArray("P11"));  // latching: no off on release
  EXPECT_EQ(p.stored("Port 2 Mode"), "0");
  p.restart();
  EXPECT_EQ(g.gPortMode[1], 0);
  EXPECT_EQ(frmConfig().lblMode[1]->caption(), "Momentary");
}

TEST(ModeToggle, TwoClicksRestoreCaptionAndMode) {
  Program p;
  p.start();
  openDialog();
  clickOn(widgetOf(frmConfig().lblMode[3]));
  EXPECT_EQ(frmConfig().lblMode[3]->caption(), "Latch");
  EXPECT_EQ(g.gPortMode[3], 1);
  clickOn(widgetOf(frmConfig().lblMode[3]));
  EXPECT_EQ(frmConfig().lblMode[3]->caption(), "Momentary");
  EXPECT_EQ(g.gPortMode[3], 0);
}

TEST(Save, ModesAreStoredAndReadBackAtTheNextStart) {
  Program p;
  p.start();
  openDialog();
  clickOn(widgetOf(frmConfig().lblMode[4]));
  save();
  EXPECT_EQ(p.stored("Port 5 Mode"), "1");
  p.restart();
  EXPECT_EQ(frmConfig().lblMode[4]->caption(), "Latch");
}

TEST(Save, PortTwelveIsSavedWholeAndOpened) {
  Program p;
  PtyPair com12;
  p.machine.linkComPort(12, com12.devicePath());
  p.start();
  openDialog();
  frmConfig().PortComboBox->setText("COM12");
  save();
  EXPECT_EQ(p.stored("Comm Port"), "12");
  EXPECT_EQ(Main().MSComm->commPort(), 12);
  ASSERT_TRUE(Main().MSComm->portOpen());
  pressOn(widgetOf(Main().btnServer[0]));
  EXPECT_EQ(com12.read(100, 3), QByteArray("P01"));
  // Saving again without touching the box keeps port 12.
  openDialog();
  save();
  EXPECT_EQ(Main().MSComm->commPort(), 12);
}

TEST(Save, PortTextEndingInNoDigitIsStoredReportedAndKeepsTheOldPort) {
  Program p;
  p.start();
  openDialog();
  frmConfig().PortComboBox->setText("COMX");
  save();
  EXPECT_EQ(p.stored("Comm Port"), "X");
  EXPECT_EQ(g.gCommPort, "X");
  EXPECT_EQ(Main().MSComm->commPort(), 1);
  EXPECT_EQ(p.reports(), std::vector<std::string>({"[btnSave_Click] Error (13) - Type mismatch, Tarnwick"}));
  EXPECT_TRUE(Main().MSComm->portOpen());
}

TEST(Save, RefusedOpenIsReportedTheDialogClosesAndTheNextSaveOpens) {
  Program p;
  p.start();
  openDialog();
  frmConfig().PortComboBox->setText("COM7");  // no such device here
  p.machine.linkComPort(7, p.machine.root() + "/missing");
  save();
  EXPECT_FALSE(ConfigLoaded());
  EXPECT_FALSE(Main().MSComm->portOpen());
  ASSERT_EQ(p.reports().size(), 1u);
  EXPECT_TRUE(p.reports()[0].starts_with("[btnSave_Click] Error ("));
  openDialog();
  frmConfig().PortComboBox->setText("COM1");
  save();
  EXPECT_TRUE(Main().MSComm->portOpen());
}

}  // namespace
