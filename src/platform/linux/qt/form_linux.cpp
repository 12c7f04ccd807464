// The program's windows on Qt Widgets: a fixed-size top-level window sized in
// twips, which places the controls and leaves closing to the program.
#include "platform/linux/qt/form_linux.h"

#include "platform/linux/qt/controls_linux.h"
#include "platform/linux/qt/toolkit_linux.h"
#include "platform/portable/toolkit_common.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMargins>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

qreal logicalDpi(const QWidget* widget) {
  const QScreen* screen = widget->screen();
  return screen ? screen->logicalDotsPerInch() : 96.0;
}

int toPixels(int twips, qreal dpi) { return qRound(twips * dpi / 1440.0); }

int toTwips(int pixels, qreal dpi) { return qRound(pixels * 1440.0 / dpi); }

class QtForm;

// A top-level window that leaves closing to the program.
class FormWidget : public QWidget {
 public:
  QtForm* owner = nullptr;  // nullptr once the form is gone

 protected:
  void closeEvent(QCloseEvent* event) override;
};

class QtForm : public FormBase {
 public:
  QtForm() : window_(new FormWidget) {
    window_->owner = this;
    setClientSize(toTwips(window_->width(), dpi()), toTwips(window_->height(), dpi()));
  }

  ~QtForm() override {
    window_->owner = nullptr;
    controls_.clear();  // they let go of their widgets first
    if (!QCoreApplication::instance()) return;  // the process is ending; Qt has let go of its windows
    window_->hide();
    if (callbackDepth() > 0) window_->deleteLater();
    else delete window_;
  }

  QWidget* window() const { return window_; }

  void setCaption(const std::string& caption) override { window_->setWindowTitle(toQt(caption)); }
  std::string caption() const override { return fromQt(window_->windowTitle()); }

  void setClientSize(int widthTwips, int heightTwips) override {
    const QMargins margins = frameMargins();
    const int width = toPixels(widthTwips, dpi());
    const int height = toPixels(heightTwips, dpi());
    window_->setFixedSize(width, height);
    widthTwips_ = toTwips(width + margins.left() + margins.right(), dpi());
    heightTwips_ = toTwips(height + margins.top() + margins.bottom(), dpi());
  }

  // The first time, the focus goes to the first control of the tab order
  // that can take it, as Tab brings it there: a text field's text is
  // selected, so typing replaces it.
  void show() override {
    if (!window_->focusWidget()) focusFirst();
    window_->show();
    window_->raise();
    window_->activateWindow();
  }
  void hide() override { window_->hide(); }
  bool visible() const override { return window_->isVisible(); }

  Frame* addFrame(Frame* parent, Twips at, const std::string& caption) override {
    return keep(newQtFrame(host(parent), pixels(at), caption));
  }

  CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                  const Font* font) override {
    return keep(newQtCommandButton(host(parent), pixels(at), caption, font));
  }

  Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                  const Font* font) override {
    return keep(newQtLabel(host(parent), pixels(at), caption, align, font));
  }

  TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) override {
    return keep(newQtTextBox(host(parent), pixels(at), text));
  }

  ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) override {
    return keep(newQtComboBox(host(parent), pixels(at), items));
  }

  ListBox* addListBox(Frame* parent, Twips at) override {
    return keep(newQtListBox(host(parent), pixels(at)));
  }

  Image* addImage(Frame* parent, Twips at) override { return keep(newQtImage(host(parent), pixels(at))); }

  void setTabOrder(const std::vector<Control*>& order) override {
    std::vector<QWidget*> chain;
    for (const Control* control : order) chain.push_back(widgetOf(control));
    for (const auto& control : controls_) {
      QWidget* widget = widgetOf(control.get());
      if (std::find(chain.begin(), chain.end(), widget) == chain.end())
        widget->setFocusPolicy(Qt::NoFocus);
    }
    for (size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
    tabOrder_ = chain;
  }

  void setFocus(Control* control) override { widgetOf(control)->setFocus(Qt::OtherFocusReason); }

 private:
  qreal dpi() const { return logicalDpi(window_); }

  // The window frame around the inside: as the window system reports it once
  // the window is shown, else that of a typical desktop window (4-pixel
  // borders and a 27-pixel title bar at 96 DPI, so 8 and 31 pixels in all).
  QMargins frameMargins() const {
    const QRect outer = window_->frameGeometry();
    const QRect inner = window_->geometry();
    if (window_->isVisible() && outer != inner) {
      return {inner.left() - outer.left(), inner.top() - outer.top(),
              outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    }
    const int border = qRound(4 * dpi() / 96.0);
    return {border, qRound(27 * dpi() / 96.0), border, border};
  }

  void focusFirst() {
    for (QWidget* widget : tabOrder_) {
      if (widget->isHidden() || !widget->isEnabled()) continue;
      widget->setFocus(Qt::TabFocusReason);
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
      if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
      return;
    }
  }

  void applyOuterSize() override {
    const QMargins margins = frameMargins();
    const int width = toPixels(widthTwips_, dpi()) - margins.left() - margins.right();
    const int height = toPixels(heightTwips_, dpi()) - margins.top() - margins.bottom();
    window_->setFixedSize(std::max(width, 0), std::max(height, 0));
  }

  QWidget* host(Frame* frame) const { return frame ? widgetOf(frame) : window_; }

  // A control's place inside its parent, in this screen's pixels.
  QRect pixels(Twips at) const {
    return {toPixels(at.left, dpi()), toPixels(at.top, dpi()), toPixels(at.width, dpi()),
            toPixels(at.height, dpi())};
  }

  // The form owns its controls; their widgets belong to the window.
  template <class T>
  T* keep(std::unique_ptr<T> control) {
    T* raw = control.get();
    controls_.push_back(std::move(control));
    return raw;
  }

  FormWidget* window_;
  std::vector<QWidget*> tabOrder_;
};

void FormWidget::closeEvent(QCloseEvent* event) {
  event->ignore();  // the program decides whether the window goes
  if (owner) fire(owner->onClose);
}

}  // namespace

std::unique_ptr<Form> newQtForm() { return std::make_unique<QtForm>(); }

QWidget* windowOf(const Form* form) {
  const auto* qtForm = dynamic_cast<const QtForm*>(form);
  return qtForm ? qtForm->window() : nullptr;
}

}  // namespace platform
