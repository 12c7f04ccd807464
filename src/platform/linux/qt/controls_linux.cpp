// The controls on Qt Widgets: each one a widget, with the mouse and keyboard
// handling the program's events expect, wrapped in the control interface.
#include "platform/linux/qt/controls_linux.h"

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/linux/qt/toolkit_linux.h"
#include "platform/portable/gif.h"
#include "platform/portable/toolkit_common.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <span>
#include <utility>

namespace platform {

namespace {

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

Qt::Alignment alignment(Align align) {
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
    label->setAlignment(alignment(align));
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

// Gives the widget its place inside its parent.
template <class W>
W* placed(W* widget, const QRect& at) {
  widget->setGeometry(at);
  return widget;
}

}  // namespace

std::unique_ptr<Frame> newQtFrame(QWidget* parent, const QRect& at, const std::string& caption) {
  return std::make_unique<QtFrame>(placed(new QGroupBox(toQt(caption), parent), at));
}

std::unique_ptr<CommandButton> newQtCommandButton(QWidget* parent, const QRect& at,
                                                  const std::string& caption, const Font* font) {
  auto* button = placed(new ButtonWidget(toQt(caption), parent), at);
  applyFont(button, font);
  return std::make_unique<QtCommandButton>(button);
}

// The font comes before the caption is fitted to the box.
std::unique_ptr<Label> newQtLabel(QWidget* parent, const QRect& at, const std::string& caption,
                                  Align align, const Font* font) {
  auto* label = placed(new LabelWidget(toQt(caption), parent), at);
  applyFont(label, font);
  return std::make_unique<QtLabel>(label, align);
}

std::unique_ptr<TextBox> newQtTextBox(QWidget* parent, const QRect& at, const std::string& text) {
  return std::make_unique<QtTextBox>(placed(new QLineEdit(toQt(text), parent), at));
}

std::unique_ptr<ComboBox> newQtComboBox(QWidget* parent, const QRect& at,
                                        const std::vector<std::string>& items) {
  return std::make_unique<QtComboBox>(placed(new QComboBox(parent), at), items);
}

std::unique_ptr<ListBox> newQtListBox(QWidget* parent, const QRect& at) {
  return std::make_unique<QtListBox>(placed(new QListWidget(parent), at));
}

std::unique_ptr<Image> newQtImage(QWidget* parent, const QRect& at) {
  return std::make_unique<QtImage>(placed(new QLabel(parent), at));
}

QWidget* widgetOf(const Control* control) {
  const auto* qtControl = dynamic_cast<const QtControl*>(control);
  return qtControl ? qtControl->widget() : nullptr;
}

}  // namespace platform
