#include "platform/qt/toolkit.h"
#include "shell/main_window.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  platform::installQtToolkit();
  LoadMain();
  return QApplication::exec();
}
