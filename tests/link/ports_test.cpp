// Port buttons, "Initialize MCU" and the message log: real mouse events on real
// widgets, bytes read from the far end of a pseudo-terminal.
#include "config/config_dialog.h"
#include "link/ports.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

QWidget* button(int index) { return widgetOf(Main().btnServer[index]); }

void press(int index, Qt::MouseButton b = Qt::LeftButton) { pressOn(button(index), b); }
void release(int index, Qt::MouseButton b = Qt::LeftButton) { releaseOn(button(index), b); }

void setLatch(int index) {
  if (frmConfig().lblMode[index]->caption() != "Latch") clickOn(widgetOf(frmConfig().lblMode[index]));
}

void showExtended() {
  QWidget* w = widgetOf(Main().Label1);
  QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
  ASSERT_TRUE(Main().cmdInit->visible());
}

void fillLog(int lines) {
  for (int i = 0; i < lines; ++i) Main().List1->addItem("old " + std::to_string(i));
}

TEST(PortButtons, MomentaryPortOneSendsOnThenOffAndNothingElse) {
  Program p;
  p.start();
  press(0);
  EXPECT_EQ(p.line->read(100, 3), QByteArray("\x50\x30\x31"));
  EXPECT_EQ(Main().btnServer[0]->caption(), "ON");
  EXPECT_TRUE(Main().imgLED[0]->pictureFile().ends_with("ON.gif"));
  release(0);
  EXPECT_EQ(p.line->read(100), QByteArray("\x50\x30\x30"));
  EXPECT_EQ(Main().btnServer[0]->caption(), "OFF");
  EXPECT_TRUE(Main().imgLED[0]->pictureFile().ends_with("OFF.gif"));
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({" Port: 1 -> ON", " Port: 1 -> OFF"}));
}

TEST(PortButtons, EachPortSendsItsIndexDigit) {
  Program p;
  p.start();
  for (int i = 0; i < kPorts; ++i) {
    press(i);
    release(i);
    const QByteArray digit = QByteArray::number(i);
    const QByteArray expected = "P" + digit + "1" + "P" + digit + "0";
    EXPECT_EQ(p.line->read(100, 6), expected) << i;
  }
  EXPECT_EQ(p.messageLog().back(), " Port: 5 -> OFF");
}

TEST(PortButtons, LatchTogglesOnPressAndReleasesSendNothing) {
  Program p;
  p.start();
  setLatch(0);
  press(0);
  release(0);
  EXPECT_EQ(p.line->read(100), QByteArray("P01"));
  EXPECT_EQ(Main().btnServer[0]->caption(), "ON");
  press(0);
  release(0);
  EXPECT_EQ(p.line->read(100), QByteArray("P00"));
  EXPECT_EQ(Main().btnServer[0]->caption(), "OFF");
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({" Port: 1 -> ON", " Port: 1 -> OFF"}));
}

TEST(PortButtons, RightAndMiddleButtonsActLikeTheLeft) {
  Program p;
  p.start();
  for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
    press(1, b);
    release(1, b);
    EXPECT_EQ(p.line->read(100, 6), QByteArray("P11P10"));
  }
}

TEST(PortButtons, KeyboardOnAFocusedButtonSwitchesNothing) {
  Program p;
  p.start();
  QWidget* b = button(0);
  b->setFocus();
  QTest::keyClick(b, Qt::Key_Space);
  QTest::keyClick(b, Qt::Key_Return);
  QTest::keyClick(b, Qt::Key_Enter);
  EXPECT_TRUE(p.line->read(50).isEmpty());
  EXPECT_EQ(Main().List1->listCount(), 0);
  EXPECT_EQ(Main().btnServer[0]->caption(), "OFF");
}

struct TrimCase {
  const char* name;
  int before;
  bool latch;
  int afterPress;
  int afterRelease;
};

class MessageLogTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(MessageLogTrim, NeverHoldsMoreThanThirteenLines) {
  const TrimCase c = GetParam();
  Program p;
  p.start();
  if (c.latch) setLatch(2);
  fillLog(c.before);
  press(2);
  EXPECT_EQ(Main().List1->listCount(), c.afterPress);
  EXPECT_EQ(p.messageLog().back(), " Port: 3 -> ON");
  release(2);
  EXPECT_EQ(Main().List1->listCount(), c.afterRelease);
  if (c.before == 13) {
    EXPECT_NE(Main().List1->item(0), "old 0");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MessageLogTrim,
                         ::testing::Values(TrimCase{"momentary_full", 13, false, 13, 13},
                                           TrimCase{"latch_full", 13, true, 13, 12},
                                           TrimCase{"twelve", 12, false, 13, 13}),
                         [](const ::testing::TestParamInfo<TrimCase>& row) { return std::string(row.param.name); });

TEST(PortButtons, ClosedPortStillLogsAndShowsOnWithOneReport) {
  Program p;
  p.start();
  Main().MSComm->setPortOpen(false);
  press(0);
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({" Port: 1 -> ON"}));
  EXPECT_EQ(Main().btnServer[0]->caption(), "ON");
  EXPECT_TRUE(Main().imgLED[0]->pictureFile().ends_with("ON.gif"));
  const std::vector<std::string> reports = p.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].starts_with("[btnServer_MouseDown] Error (8018) - ")) << reports[0];
}

TEST(PortButtons, MissingOnPictureIsReportedAndTheLedStays) {
  Program p;
  p.start();
  std::filesystem::remove(p.appDir() + "/ON.gif");
  press(3);
  EXPECT_EQ(Main().btnServer[3]->caption(), "ON");
  EXPECT_TRUE(Main().imgLED[3]->pictureFile().ends_with("OFF.gif"));
  EXPECT_EQ(p.reports(), std::vector<std::string>({"[btnServer_MouseDown] Error (53) - File not found, Tarnwick"}));
  EXPECT_EQ(p.line->read(100), QByteArray("P31"));
}

TEST(PortButtons, ToggleFlippedInTheOpenDialogGovernsTheNextPressUnsaved) {
  Program p;
  p.start();
  clickOn(widgetOf(Main().btnConfigure));
  clickOn(widgetOf(frmConfig().lblMode[1]));
  ASSERT_EQ(frmConfig().lblMode[1]->caption(), "Latch");
  press(1);
  release(1);
  EXPECT_EQ(p.line->read(100), QByteArray("P11"));
  EXPECT_EQ(Main().btnServer[1]->caption(), "ON");
  EXPECT_EQ(p.stored("Port 2 Mode"), "0");
}

TEST(PortButtons, PressAfterTheDialogWasUnloadedLoadsItHiddenAndReadsTheMode) {
  Program p;
  p.writeSettings({"\"Port 5 Mode\"=\"1\""});
  p.start();
  UnloadConfig();
  press(4);
  release(4);
  ASSERT_TRUE(ConfigLoaded());
  EXPECT_FALSE(frmConfig().form->visible());
  EXPECT_EQ(p.line->read(100), QByteArray("P41"));  // latched: no off on release
}

TEST(PortButtons, LatchedPortSetToMomentarySendsOnAgainThenOff) {
  Program p;
  p.start();
  setLatch(0);
  press(0);
  release(0);
  clickOn(widgetOf(frmConfig().lblMode[0]));  // back to Momentary
  press(0);
  release(0);
  EXPECT_EQ(p.line->read(100), QByteArray("P01P01P00"));
}

TEST(Initialize, SendsP90AndChangesNoCaptionOrPicture) {
  Program p;
  p.start();
  showExtended();
  press(0);  // port 1 on, stays on while we initialise
  p.line->read(50);
  fillLog(12);
  clickOn(widgetOf(Main().cmdInit));
  EXPECT_EQ(p.line->read(100), QByteArray("\x50\x39\x30"));
  EXPECT_EQ(Main().btnServer[0]->caption(), "ON");
  EXPECT_TRUE(Main().imgLED[0]->pictureFile().ends_with("ON.gif"));
  EXPECT_EQ(Main().List1->listCount(), 13);
  EXPECT_EQ(p.messageLog().back(), " MCU -> Initialize");
  clickOn(widgetOf(Main().cmdInit));
  EXPECT_EQ(Main().List1->listCount(), 13);
}

TEST(Initialize, ClosedPortKeepsTheLineAndReportsUnderItsTag) {
  Program p;
  p.start();
  showExtended();
  Main().MSComm->setPortOpen(false);
  clickOn(widgetOf(Main().cmdInit));
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({" MCU -> Initialize"}));
  ASSERT_EQ(p.reports().size(), 1u);
  EXPECT_TRUE(p.reports()[0].starts_with("[btnInit_Click] Error (8018) - "));
}

}  // namespace
