#include "platform/qt/toolkit.h"

#include "platform/controls.h"
#include "platform/qt/qt_controls.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace platform {

namespace {

class QtToolkit : public Toolkit {
 public:
  std::unique_ptr<Form> newForm() override { return newQtForm(); }

  void endProgram(int status) override {
    // Queued, so the event being handled finishes first, and a call made before
    // the event loop has started still ends it.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
  }
};

}  // namespace

void installQtToolkit() {
  static QtToolkit kit;
  setToolkit(&kit);
}

}  // namespace platform
