// The configuration dialog filling itself from the settings and the store.
#include "config/config_dialog.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <gtest/gtest.h>

namespace {

// Loads the dialog afresh, as the next Configure after a Cancel does.
void reloadDialog() {
  UnloadConfig();
  frmConfig();
}

TEST(DialogLoad, PortTwelveIsShownAsItIsThoughNotInTheList) {
  Program p;
  p.writeSettings({"\"Comm Port\"=\"12\""});
  p.start();
  reloadDialog();
  EXPECT_EQ(frmConfig().PortComboBox->text(), "COM12");
}

TEST(DialogLoad, UnknownParityAndFlowLeaveTheirBoxesEmptyWithoutReports) {
  Program p;
  p.writeSettings({"\"Parity Control\"=\"e\"", "\"Flow Control\"=\"3\""});
  p.start();
  reloadDialog();
  EXPECT_EQ(frmConfig().Parity->text(), "");
  EXPECT_EQ(frmConfig().FlowControl->text(), "");
  EXPECT_TRUE(p.reports().empty());
}

TEST(DialogLoad, NonNumericFlowControlGivesThreeReportsAndShowsRtsCts) {
  Program p;
  p.start();
  g.gFlowControl = "x";
  reloadDialog();
  EXPECT_EQ(frmConfig().FlowControl->text(), "2 - RTS/CTS");
  EXPECT_EQ(p.reports(), std::vector<std::string>(3, "[Form_Load] Error (13) - Type mismatch, Tarnwick"));
}

TEST(DialogLoad, MissingNameIsCreatedWithItsDefaultAndShownOnBothWindows) {
  Program p;
  p.writeSettings({"\"Port 1\"=\"Alpha\"", "\"Port 2\"=\"Beta\""});
  p.start();
  EXPECT_EQ(p.stored("Port 3"), "Server 3");
  reloadDialog();
  EXPECT_EQ(frmConfig().txtServer[0]->text(), "Alpha");
  EXPECT_EQ(frmConfig().txtServer[2]->text(), "Server 3");
  EXPECT_EQ(Main().lblServer[2]->caption(), "Server 3");
}

TEST(DialogLoad, MissingModeIsCreatedFromTheCurrentMode) {
  Program p;
  p.start();
  g.gPortMode = {0, 1, 0, 0, 1};
  // Remove "Port 2 Mode" by writing a store without it.
  p.writeSettings({"\"Port 1 Mode\"=\"0\""});
  reloadDialog();
  EXPECT_EQ(p.stored("Port 2 Mode"), "1");
  const std::vector<std::string> captions = {"Momentary", "Latch", "Momentary", "Momentary", "Latch"};
  for (int i = 0; i < kPorts; ++i) EXPECT_EQ(frmConfig().lblMode[i]->caption(), captions[i]) << i;
}

}  // namespace
