// Start-up against a real store file, a real pseudo-terminal and real widgets.
#include "config/config_dialog.h"
#include "platform/files.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

// Value names in the order registry.reg holds them.
std::vector<std::string> storedNames(const std::string& file) {
  static const QRegularExpression name(QStringLiteral("^\"([^\"]*)\"="), QRegularExpression::MultilineOption);
  std::vector<std::string> names;
  auto it = name.globalMatch(QString::fromLatin1(file.data(), static_cast<qsizetype>(file.size())));
  while (it.hasNext()) names.push_back(it.next().captured(1).toStdString());
  return names;
}

TEST(StartUp, EmptyMachineGetsEveryDefaultInReadingOrderAndOpensNineSixHundredN81) {
  Program p;
  p.start();
  const std::vector<std::string> expected = {"Port 1", "Port 2", "Port 3", "Port 4", "Port 5",
                                "Port 1 Mode", "Port 2 Mode", "Port 3 Mode", "Port 4 Mode", "Port 5 Mode",
                                "Error Log", "Comm Port", "Comm Speed", "Flow Control",
                                "Parity Control", "Data Bits", "Stop Bits"};
  EXPECT_EQ(storedNames(p.machine.readRegistry()), expected);
  const std::vector<std::string> defaults = {"Server 1", "Server 2", "Server 3", "Server 4", "Server 5",
                                "0", "0", "0", "0", "0", "0", "1", "9600", "0", "N", "8", "1"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(p.stored(expected[i]), defaults[i]) << expected[i];

  platform::SerialControl& comm = *Main().MSComm;
  EXPECT_TRUE(comm.portOpen());
  EXPECT_EQ(comm.commPort(), 1);
  EXPECT_EQ(comm.settings(), "9600,N,8,1");
  EXPECT_EQ(comm.handshaking(), 0);
  EXPECT_FALSE(comm.rtsEnable());
  EXPECT_EQ(comm.rThreshold(), 3);

  EXPECT_EQ(Main().form->caption(), "Tarnwick - V1.0");
  EXPECT_EQ(Main().form->height(), kCompactHeight);
  EXPECT_EQ(Main().form->width(), kMainWidth);
  EXPECT_TRUE(Main().form->visible());
  EXPECT_FALSE(Main().cmdInit->visible());
  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(Main().btnServer[i]->caption(), "OFF");
    EXPECT_TRUE(Main().imgLED[i]->pictureFile().ends_with("OFF.gif"));
    EXPECT_EQ(Main().lblServer[i]->caption(), "Server " + std::to_string(i + 1));
  }
  EXPECT_EQ(Main().List1->listCount(), 0);
  ASSERT_TRUE(ConfigLoaded());
  EXPECT_FALSE(frmConfig().form->visible());
  EXPECT_EQ(frmConfig().PortComboBox->text(), "COM1");
  EXPECT_EQ(frmConfig().SpeedComboBox->text(), "9600");
  EXPECT_EQ(frmConfig().FlowControl->text(), "0 - None");
  EXPECT_EQ(frmConfig().Parity->text(), "None");
  EXPECT_EQ(frmConfig().DataBits->text(), "8");
  EXPECT_EQ(frmConfig().StopBits->text(), "1");
  EXPECT_TRUE(p.reports().empty());
  EXPECT_TRUE(p.line->read(50).isEmpty()) << "start-up sends nothing to the board";
}

struct FlowCase {
  const char* stored;
  int handshaking;
  bool rts;
  const char* shown;
};

class StartUpFlowControl : public ::testing::TestWithParam<FlowCase> {};

TEST_P(StartUpFlowControl, SetsHandshakingRtsAndDialogText) {
  const FlowCase c = GetParam();
  Program p;
  p.writeSettings({"\"Flow Control\"=\"" + std::string(c.stored) + "\""});
  p.start();
  EXPECT_EQ(Main().MSComm->handshaking(), c.handshaking);
  EXPECT_EQ(Main().MSComm->rtsEnable(), c.rts);
  EXPECT_EQ(frmConfig().FlowControl->text(), c.shown);
  EXPECT_TRUE(p.reports().empty()) << joined(p.reports(), "\n");
}

// "3" shows what the dialog's own load gave it from the built-in default.
INSTANTIATE_TEST_SUITE_P(Rows, StartUpFlowControl,
                         ::testing::Values(FlowCase{"2", 2, true, "2 - RTS/CTS"},
                                           FlowCase{"1", 1, false, "1 - XON/XOFF"},
                                           FlowCase{"3", 3, false, "0 - None"}));

TEST(StartUp, NonZeroModeIsLatchAndKeepsItsNumber) {
  Program p;
  p.writeSettings({"\"Port 3 Mode\"=\"5\""});
  p.start();
  EXPECT_EQ(g.gPortMode[2], 5);
  EXPECT_EQ(frmConfig().lblMode[2]->caption(), "Latch");
  EXPECT_EQ(frmConfig().lblMode[1]->caption(), "Momentary");
}

TEST(StartUp, LowerCaseParityMatchesNoTextButReachesTheSettings) {
  Program p;
  p.writeSettings({"\"Parity Control\"=\"e\""});
  p.start();
  EXPECT_EQ(g.gParity, "e");
  EXPECT_EQ(Main().MSComm->settings(), "9600,e,8,1");
  EXPECT_EQ(frmConfig().Parity->text(), "None");  // left as the dialog's own load set it
}

TEST(StartUp, NonNumericModeAndFlowControlAreReportedAndTheGuardedActionsRun) {
  Program p;
  p.writeSettings({"\"Port 2 Mode\"=\"x\"", "\"Flow Control\"=\"abc\"", "\"Error Log\"=\"0\""});
  p.start();
  EXPECT_EQ(g.gPortMode[1], 0);  // the conversion failed first
  EXPECT_EQ(frmConfig().lblMode[1]->caption(), "Momentary");
  EXPECT_EQ(frmConfig().FlowControl->text(), "2 - RTS/CTS");
  EXPECT_FALSE(Main().MSComm->rtsEnable());
  const std::string mismatch = "[Form_Load] Error (13) - Type mismatch, Tarnwick";
  // Mode: conversion and test; flow control: three tests and the handshaking.
  EXPECT_EQ(p.reports(), std::vector<std::string>(6, mismatch));
  EXPECT_EQ(g.gErrorLog, 0);
}

TEST(StartUp, MissingOffPictureGivesFiveReportsAndKeepsTheImages) {
  Program p;
  std::filesystem::remove(p.appDir() + "/OFF.gif");
  p.start();
  EXPECT_EQ(p.reports(), std::vector<std::string>(5, "[Form_Load] Error (53) - File not found, Tarnwick"));
  for (int i = 0; i < kPorts; ++i) EXPECT_EQ(Main().imgLED[i]->pictureFile(), "");
  EXPECT_TRUE(Main().MSComm->portOpen());
}

TEST(StartUp, PortThatFailsToOpenGivesOneReportAndTheWindowStillShows) {
  Program p;
  p.machine.linkComPort(1, p.machine.root() + "/no-such-device");
  p.start();
  const std::vector<std::string> reports = p.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].starts_with("[Form_Load] Error (")) << reports[0];
  EXPECT_FALSE(Main().MSComm->portOpen());
  EXPECT_TRUE(Main().form->visible());
}

TEST(StartUp, ProgramDirectoryEndingInASeparatorStillFindsThePictures) {
  Program p;
  platform::setProgramDirectoryForTesting(p.appDir() + "/");
  p.start();
  EXPECT_TRUE(g.gAppDir.ends_with("/\\"));
  EXPECT_TRUE(p.reports().empty());
  EXPECT_TRUE(Main().imgLED[0]->pictureFile().ends_with("OFF.gif"));
}

TEST(StartUp, EmptyStoredValueCountsAsMissingAndTheDefaultIsWrittenBack) {
  Program p;
  p.writeSettings({"\"Comm Speed\"=\"\"", "\"Port 4\"=\"\""});
  p.start();
  EXPECT_EQ(p.stored("Comm Speed"), "9600");
  EXPECT_EQ(p.stored("Port 4"), "Server 4");
  EXPECT_EQ(Main().lblServer[3]->caption(), "Server 4");
}

TEST(StartUp, ErrorLogSettingDoesNotSilenceReportsAndTheSwitchEndsAtZero) {
  for (const char* setting : {"0", "1", "zz"}) {
    Program p;
    p.writeSettings({"\"Error Log\"=\"" + std::string(setting) + "\"", "\"Data Bits\"=\"x8\""});
    p.start();
    // "zz" fails its own conversion; "x8" is refused by the serial control.
    const int expected = QString(setting) == "zz" ? 2 : 1;
    EXPECT_EQ(p.reports().size(), expected) << setting;
    EXPECT_EQ(g.gErrorLog, 0) << setting;
  }
}

}  // namespace
