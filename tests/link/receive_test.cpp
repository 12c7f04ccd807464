// Text from the board into the message log, over a real pseudo-terminal.
#include "config/config_dialog.h"
#include "link/mcu.h"
#include "shell/main_window.h"
#include "support/program.h"

#include <gtest/gtest.h>

namespace {

const std::string kLabel = " Received: ----> OK - ";

TEST(Receive, TwoCharactersWaitAndTheThirdBringsOneLineWithAllThree) {
  Program p;
  p.start();
  p.line->write("OK");
  pumpEvents(60);
  EXPECT_EQ(Main().List1->listCount(), 0);
  p.line->write("\r");
  pumpEvents(60);
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({kLabel + "OK\r"}));  // the CR is kept in the line
}

TEST(Receive, TwoAnswersBeforeTheEventComeOutAsOneLine) {
  Program p;
  p.start();
  p.line->write("P01 OK\r\nP00 OK\r\n");
  pumpEvents(60);
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({kLabel + "P01 OK\r\nP00 OK\r\n"}));
}

TEST(Receive, BoardFailureTextGetsTheSameOkLabel) {
  Program p;
  p.start();
  p.line->write("ERR bad command\r\n");
  pumpEvents(60);
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({kLabel + "ERR bad command\r\n"}));
}

TEST(Receive, AfterASaveSevenCharactersWaitForTheEighth) {
  Program p;
  p.start();
  clickOn(widgetOf(Main().btnConfigure));
  clickOn(widgetOf(frmConfig().btnSave));
  pumpEvents(20);
  ASSERT_EQ(Main().MSComm->rThreshold(), 8);
  p.line->write("1234567");
  pumpEvents(60);
  EXPECT_EQ(Main().List1->listCount(), 0);
  p.line->write("8");
  pumpEvents(60);
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({kLabel + "12345678"}));
}

TEST(Receive, FullLogDropsTheOldestLine) {
  Program p;
  p.start();
  for (int i = 0; i < 13; ++i) Main().List1->addItem("old " + std::to_string(i));
  p.line->write("abc");
  pumpEvents(60);
  EXPECT_EQ(Main().List1->listCount(), 13);
  EXPECT_EQ(p.messageLog().front(), "old 1");
  EXPECT_EQ(p.messageLog().back(), kLabel + "abc");
}

TEST(Receive, NulAndHighBytesArriveUnchanged) {
  Program p;
  p.start();
  p.line->write(QByteArray("a\0\xff", 3));
  pumpEvents(60);
  ASSERT_EQ(Main().List1->listCount(), 1);
  EXPECT_TRUE(Main().List1->item(0).ends_with(kLabel + latin1ToUtf8(std::string("a\0\xff", 3))));
}

TEST(Receive, UnpluggedDeviceClosesThePortAndPressesStillLog) {
  Program p;
  p.start();
  p.line->closeFarEnd();
  pumpEvents(100);
  EXPECT_FALSE(Main().MSComm->portOpen());
  pressOn(widgetOf(Main().btnServer[0]));
  EXPECT_EQ(p.messageLog(), std::vector<std::string>({" Port: 1 -> ON"}));
  ASSERT_EQ(p.reports().size(), 1u);
  EXPECT_TRUE(p.reports()[0].starts_with("[btnServer_MouseDown] Error (8018) - "));
}

}  // namespace
