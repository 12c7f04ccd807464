#include "platform/program.h"

#include "platform/linux/qt/toolkit_linux.h"

#include <QApplication>

namespace platform {

int runProgram(int argc, char** argv, void (*start)()) {
  QApplication app(argc, argv);
  // The program ends through Toolkit::endProgram, not with its last window.
  QApplication::setQuitOnLastWindowClosed(false);
  installQtToolkit();
  start();
  return QApplication::exec();
}

}  // namespace platform
