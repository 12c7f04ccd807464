// Test programs run with a QApplication (offscreen unless told otherwise) so
// real widgets and the serial control's events work.
#include "platform/linux/qt/toolkit_linux.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  platform::installQtToolkit();
  return RUN_ALL_TESTS();
}
