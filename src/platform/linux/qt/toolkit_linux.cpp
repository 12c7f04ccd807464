#include "platform/linux/qt/toolkit_linux.h"

#include "platform/controls.h"
#include "platform/linux/qt/form_linux.h"

#include <QApplication>
#include <QFont>
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
  // The windows are laid out in twips for the classic 8 pt dialog fonts; the
  // narrow faces found here keep the captions inside their boxes.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow")});
  QFont::insertSubstitutions(QStringLiteral("Comic Sans MS"),
                             {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow")});
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPointSizeF(8.25);
  QApplication::setFont(base);
}

}  // namespace platform
