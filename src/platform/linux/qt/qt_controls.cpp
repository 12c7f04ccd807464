#include "platform/linux/qt/qt_controls.h"

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/linux/qt/toolkit.h"
#include "platform/portable/gif.h"
#include "platform/portable/toolkit_common.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QDateTime>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMargins>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <span>
#include <utility>

namespace platform {

namespace {

// The program's text is UTF-8.
QString toQt(const std::string& text) { return QString::fromStdString(text); }
std::string fromQt(const QString& text) { return text.toStdString(); }

qreal logicalDpi(const QWidget* widget) {
  const QScreen* screen = widget->screen();
  return screen ? screen->logicalDotsPerInch() : 96.0;
}

int toPixels(int twips, qreal dpi) { return qRound(twips * dpi / 1440.0); }

int toTwips(int pixels, qreal dpi) { return qRound(pixels * 1440.0 / dpi); }

// 1 left, 2 right, 4 middle; 0 for buttons the program has no code for.
int buttonCode(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
  }
}

void applyFont(QWidget* widget, const Font* font) {
  if (!font) return;
  QFont qfont = widget->font();
  if (!font->family.empty()) qfont.setFamily(toQt(font->family));  // Qt substitutes a missing family
  qfont.setPointSizeF(font->points);
  qfont.setBold(font->bold);
  qfont.setItalic(font->italic);
  widget->setFont(qfont);
}

Qt::Alignment toQt(Align align) {
  switch (align) {
    case Align::Center: return Qt::AlignHCenter | Qt::AlignTop;
    case Align::Right: return Qt::AlignRight | Qt::AlignTop;
    case Align::Left: break;
  }
  return Qt::AlignLeft | Qt::AlignTop;
}

// The picture an image shows until one is loaded: a grey 20 x 20 square.
QPixmap blankPicture() {
  QPixmap picture(20, 20);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setPen(QColor(128, 128, 128, 160));
  painter.setBrush(QColor(192, 192, 192, 96));
  painter.drawRect(0, 0, 19, 19);
  return picture;
}

// Lets widgetOf() find the widget behind any control of this toolkit.
class QtControl {
 public:
  virtual ~QtControl() = default;
  virtual QWidget* widget() const = 0;
};

// What every control shares: its widget, which the form's window owns.
template <class Interface, class Widget>
class Wrapper : public Interface, public QtControl {
 public:
  explicit Wrapper(Widget* widget) : widget_(widget) { widget_->show(); }
  void setVisible(bool visible) override { widget_->setVisible(visible); }
  bool visible() const override { return !widget_->isHidden(); }
  QWidget* widget() const override { return widget_; }

 protected:
  Widget* widget_;
};

class QtCommandButton;
class QtLabel;

// A push button that reports every mouse button, not only the left one.
// The X pointer grab brings every release back to the button; what takes
// the mouse from it is the window or the button losing the focus (another
// window comes to the front, a popup opens): that is the release (MouseHold).
class ButtonWidget : public QPushButton {
 public:
  using QPushButton::QPushButton;
  QtCommandButton* owner = nullptr;  // nullptr once the form is gone

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  MouseHold hold_;
};

class QtCommandButton : public Wrapper<CommandButton, ButtonWidget> {
 public:
  explicit QtCommandButton(ButtonWidget* button) : Wrapper(button) {
    button->owner = this;
    QObject::connect(button, &QPushButton::clicked, button, [button] {
      if (button->owner) fire(button->owner->onClick);
    });
  }
  ~QtCommandButton() override { widget_->owner = nullptr; }
  std::string caption() const override { return fromQt(widget_->text()); }
  void setCaption(const std::string& caption) override { widget_->setText(toQt(caption)); }
};

// A click elsewhere cannot take the focus from a held button (the pointer
// is grabbed by it); the keyboard, another window or a popup can.
bool ButtonWidget::event(QEvent* event) {
  const QEvent::Type type = event->type();
  const bool focusTaken = type == QEvent::FocusOut &&
                          static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason;
  if ((focusTaken || type == QEvent::WindowDeactivate) && hold_.holding()) {
    setDown(false);  // up, and the release that may still come is no click
    if (owner) hold_.lose(owner->onMouseUp);
    else hold_ = MouseHold();
  }
  return QPushButton::event(event);
}

void ButtonWidget::mousePressEvent(QMouseEvent* event) {
  const int code = buttonCode(event->button());
  if (owner && code) {
    hold_.press(code);
    fire(owner->onMouseDown, code);
  }
  // Qt's button acts on the left button only and passes the others on to the
  // frame behind; here they stop at the button.
  if (owner && event->button() == Qt::LeftButton) QPushButton::mousePressEvent(event);
  else event->accept();
}

void ButtonWidget::mouseReleaseEvent(QMouseEvent* event) {
  const int code = buttonCode(event->button());
  if (owner && code && hold_.release(code)) fire(owner->onMouseUp, code);
  if (owner && event->button() == Qt::LeftButton) QPushButton::mouseReleaseEvent(event);
  else event->accept();
}

void ButtonWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt delivers the second press of a quick pair as this event instead of a
  // press: it is a press like any other, and its release follows as usual.
  mousePressEvent(event);
}

void ButtonWidget::keyPressEvent(QKeyEvent* event) {
  // Enter activates the focused button, as Space does.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter) return QPushButton::keyPressEvent(event);
  if (!event->isAutoRepeat()) click();
  event->accept();
}

// A label that reports clicks and double-clicks with the left button.
class LabelWidget : public QLabel {
 public:
  using QLabel::QLabel;
  QtLabel* owner = nullptr;  // nullptr once the form is gone

 protected:
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class QtLabel : public Wrapper<Label, LabelWidget> {
 public:
  QtLabel(LabelWidget* label, Align align) : Wrapper(label), align_(align) {
    label->owner = this;
    label->setAlignment(toQt(align));
    label->setWordWrap(true);
    fitRightAligned();
  }
  ~QtLabel() override { widget_->owner = nullptr; }
  std::string caption() const override { return fromQt(widget_->text()); }
  void setCaption(const std::string& caption) override {
    widget_->setText(toQt(caption));
    fitRightAligned();
  }

 private:
  // A right-aligned caption ("Flow Control:") that this font makes wider than
  // its box grows to the left on one line instead of wrapping out of sight.
  void fitRightAligned() {
    if (align_ != Align::Right) return;
    const int needed = widget_->fontMetrics().horizontalAdvance(widget_->text()) + 2;
    QRect box = widget_->geometry();
    if (needed <= box.width()) return;
    box.setLeft(std::max(0, box.right() + 1 - needed));
    widget_->setGeometry(box);
    widget_->setWordWrap(false);
  }

  Align align_;
};

void LabelWidget::mouseReleaseEvent(QMouseEvent* event) {
  const bool inside = rect().contains(event->position().toPoint());
  if (owner && inside && event->button() == Qt::LeftButton) fire(owner->onClick);
  event->accept();
}

// The second press of a double-click: reported as the double-click, and its
// release is a click of its own, so a label that counts clicks sees two.
void LabelWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (owner && event->button() == Qt::LeftButton) fire(owner->onDblClick);
}

class QtFrame : public Wrapper<Frame, QGroupBox> {
 public:
  using Wrapper::Wrapper;
};

class QtTextBox : public Wrapper<TextBox, QLineEdit> {
 public:
  using Wrapper::Wrapper;
  std::string text() const override { return fromQt(widget_->text()); }
  void setText(const std::string& text) override { widget_->setText(toQt(text)); }
};

class QtComboBox : public Wrapper<ComboBox, QComboBox> {
 public:
  QtComboBox(QComboBox* combo, const std::vector<std::string>& items) : Wrapper(combo) {
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);  // typed text stays as typed
    for (const std::string& item : items) combo->addItem(toQt(item));
    combo->setCurrentIndex(-1);
    combo->clearEditText();
  }
  std::string text() const override { return fromQt(widget_->currentText()); }
  void setText(const std::string& text) override { widget_->setEditText(toQt(text)); }
};

// The list keeps each line's text whole and draws its listRow(); its
// horizontal scroll bar shows when a row is wider than the list.
class QtListBox : public Wrapper<ListBox, QListWidget> {
 public:
  explicit QtListBox(QListWidget* list) : Wrapper(list) {
    // Every row is one line of the same font: no per-row measuring.
    list->setUniformItemSizes(true);
  }
  int listCount() const override { return widget_->count(); }

  std::string item(int index) const override {
    const QListWidgetItem* line = widget_->item(index);
    return line ? fromQt(line->data(kWholeText).toString()) : std::string();
  }

  void removeItem(int index) override {
    if (index < 0 || index >= widget_->count())
      raise(faults::kInvalidArrayIndex, "Invalid property array index");
    delete widget_->takeItem(index);
  }

  void addItem(const std::string& text) override {
    const QString line = toQt(text);
    auto* row = new QListWidgetItem(toQt(listRow(text)));
    row->setData(kWholeText, line);
    widget_->addItem(row);
    widget_->scrollToBottom();
  }

  void setText(const std::string& text) override {
    for (int row = 0; row < widget_->count(); ++row) {
      if (item(row) == text) return widget_->setCurrentRow(row);
    }
    widget_->clearSelection();
    widget_->setCurrentRow(-1);
  }

 private:
  static constexpr int kWholeText = Qt::UserRole;
};

class QtImage : public Wrapper<Image, QLabel> {
 public:
  explicit QtImage(QLabel* image) : Wrapper(image) {
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setPixmap(blankPicture());
  }

  void loadPicture(const std::string& path) override {
    const QFileInfo info(toQt(localPath(path)));
    if (!info.exists()) raise(faults::kFileNotFound, "File not found");
    widget_->setPixmap(decoded(info));
    file_ = path;
  }

  std::string pictureFile() const override { return file_; }

 private:
  // The LEDs show the same two files over and over: each is decoded once and
  // again only when the file changes. The pictures belong to the application
  // object they were made under and go with it, before the toolkit is shut
  // down; a later application object starts a cache of its own.
  static QPixmap decoded(const QFileInfo& info) {
    struct Decoded {
      QDateTime modified;
      qint64 size = -1;
      QPixmap picture;
    };
    struct Cache : QObject {
      using QObject::QObject;
      QHash<QString, Decoded> pictures;
    };
    static QPointer<Cache> current;
    if (!current) current = new Cache(QCoreApplication::instance());
    QHash<QString, Decoded>& cache = current->pictures;
    const QString key = info.absoluteFilePath();
    const auto hit = cache.constFind(key);
    if (hit != cache.constEnd() && hit->modified == info.lastModified() && hit->size == info.size())
      return hit->picture;
    const QPixmap picture = fromFile(key, info);
    cache.insert(key, Decoded{info.lastModified(), info.size(), picture});
    return picture;
  }

  // The pictures come from the portable GIF decoder, as on Windows, so a
  // file is the same picture or the same fault on both systems.
  static QPixmap fromFile(const QString& path, const QFileInfo& info) {
    QByteArray bytes;
    QFile file(path);
    if (info.isFile() && info.size() <= gif::kMostFileBytes && file.open(QIODevice::ReadOnly))
      bytes = file.readAll();
    const gif::Image image = gif::picture(
        std::span(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<size_t>(bytes.size())));
    // Transparent pixels are 0, so the pixels are premultiplied as they are.
    const QImage view(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                      image.width * 4, QImage::Format_ARGB32_Premultiplied);
    return QPixmap::fromImage(view.copy());
  }

  std::string file_;  // as the program gave it
};

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
    return adopt<QtFrame>(place(new QGroupBox(toQt(caption), host(parent)), at));
  }

  CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                  const Font* font) override {
    auto* button = place(new ButtonWidget(toQt(caption), host(parent)), at);
    applyFont(button, font);
    return adopt<QtCommandButton>(button);
  }

  Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                  const Font* font) override {
    auto* label = place(new LabelWidget(toQt(caption), host(parent)), at);
    applyFont(label, font);
    return adopt<QtLabel>(label, align);
  }

  TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) override {
    return adopt<QtTextBox>(place(new QLineEdit(toQt(text), host(parent)), at));
  }

  ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) override {
    return adopt<QtComboBox>(place(new QComboBox(host(parent)), at), items);
  }

  ListBox* addListBox(Frame* parent, Twips at) override {
    return adopt<QtListBox>(place(new QListWidget(host(parent)), at));
  }

  Image* addImage(Frame* parent, Twips at) override {
    return adopt<QtImage>(place(new QLabel(host(parent)), at));
  }

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

  template <class W>
  W* place(W* widget, Twips at) const {
    widget->setGeometry(toPixels(at.left, dpi()), toPixels(at.top, dpi()),
                        toPixels(at.width, dpi()), toPixels(at.height, dpi()));
    return widget;
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

QWidget* widgetOf(const Control* control) {
  const auto* qtControl = dynamic_cast<const QtControl*>(control);
  return qtControl ? qtControl->widget() : nullptr;
}

QWidget* windowOf(const Form* form) {
  const auto* qtForm = dynamic_cast<const QtForm*>(form);
  return qtForm ? qtForm->window() : nullptr;
}

}  // namespace platform
