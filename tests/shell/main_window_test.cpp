// The main window's views and its small commands, driven with real mouse events.
#include "config/config_dialog.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

void doubleClick(platform::Label* label) {
  QWidget* w = widgetOf(label);
  QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
  pumpEvents(5);
}

TEST(Views, DoubleClickOnTheAddressTogglesExtendedAndBack) {
  Program p;
  p.start();
  doubleClick(Main().Label1);
  EXPECT_EQ(Main().form->height(), kExtendedHeight);
  EXPECT_EQ(Main().form->width(), kMainWidth);
  EXPECT_TRUE(Main().cmdInit->visible());
  EXPECT_EQ(g.gInitVisible, 1);
  doubleClick(Main().Label1);
  EXPECT_EQ(Main().form->height(), kCompactHeight);
  EXPECT_EQ(Main().form->width(), kMainWidth);
  EXPECT_FALSE(Main().cmdInit->visible());
  EXPECT_EQ(g.gInitVisible, 0);
}

TEST(Configure, ShowsTheLoadedDialogAndReopeningKeepsEditedFields) {
  Program p;
  p.start();
  clickOn(widgetOf(Main().btnConfigure));
  ASSERT_TRUE(frmConfig().form->visible());
  frmConfig().SpeedComboBox->setText("19200");
  frmConfig().txtServer[0]->setText("Edited");
  g.gCommSpeed = "4800";  // copies are taken afresh on every Configure
  clickOn(widgetOf(Main().btnConfigure));
  EXPECT_EQ(g.gOldCommSpeed, "4800");
  EXPECT_EQ(frmConfig().SpeedComboBox->text(), "19200");
  EXPECT_EQ(frmConfig().txtServer[0]->text(), "Edited");
}

TEST(Configure, AfterCancelTheDialogLoadsAgainFromTheStore) {
  Program p;
  p.start();
  clickOn(widgetOf(Main().btnConfigure));
  frmConfig().txtServer[2]->setText("Lost");
  clickOn(widgetOf(frmConfig().btnCancel));
  pumpEvents(5);
  EXPECT_FALSE(ConfigLoaded());
  clickOn(widgetOf(Main().btnConfigure));
  EXPECT_TRUE(frmConfig().form->visible());
  EXPECT_EQ(frmConfig().txtServer[2]->text(), "Server 3");
}

TEST(Exit, ClosesThePortAndUnloadsBothWindows) {
  Program p;
  p.start();
  p.line->write("OK");  // waiting, below the threshold: dropped by Exit
  pumpEvents(20);
  clickOn(widgetOf(Main().btnExit));
  pumpEvents(5);
  EXPECT_FALSE(MainLoaded());
  EXPECT_FALSE(ConfigLoaded());
  EXPECT_TRUE(p.reports().empty());
}

TEST(Exit, AfterAFailedOpenReportsTheReadAndStillEnds) {
  Program p;
  p.machine.linkComPort(1, p.machine.root() + "/unplugged");
  p.start();
  clickOn(widgetOf(Main().btnExit));
  pumpEvents(5);
  EXPECT_FALSE(MainLoaded());
  EXPECT_FALSE(ConfigLoaded());
  const std::vector<std::string> reports = p.reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0].starts_with("[Form_Load] Error ("));
  EXPECT_TRUE(reports[1].starts_with("[btnExit_Click] Error (8018) - ")) << reports[1];
}

TEST(Exit, ClosingTheMainWindowFrameEndsTheProgramLikeExit) {
  Program p;
  p.start();
  windowOf(Main().form.get())->close();
  pumpEvents(5);
  EXPECT_FALSE(MainLoaded());
  EXPECT_FALSE(ConfigLoaded());
}

TEST(Exit, ClosingTheDialogFrameIsCancel) {
  Program p;
  p.start();
  clickOn(widgetOf(Main().btnConfigure));
  frmConfig().SpeedComboBox->setText("300");
  windowOf(frmConfig().form.get())->close();
  pumpEvents(5);
  EXPECT_FALSE(ConfigLoaded());
  EXPECT_TRUE(MainLoaded());
  EXPECT_EQ(p.stored("Comm Speed"), "9600");
}

}  // namespace
