// The Qt toolkit's forms and controls as real widgets on the offscreen
// platform, driven by real mouse and key events.
#include "platform/controls.h"
#include "platform/fault.h"
#include "platform/linux/qt/toolkit_linux.h"
#include "platform/portable/gif.h"
#include "support/gif_maker.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

using platform::Align;
using platform::Fault;
using platform::Twips;

namespace {

constexpr Twips kButtonAt{240, 1080, 855, 735};

// Deletes windows whose deletion was deferred, as the event loop would.
void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class FormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    form.reset();
    runDeferredDeletes();
  }
  QWidget* window() const { return platform::windowOf(form.get()); }

  std::unique_ptr<platform::Form> form = platform::toolkit().newForm();
};

// Records what a button reports.
struct ButtonEvents {
  std::vector<int> downs, ups;
  int clicks = 0;

  void watch(platform::CommandButton* button) {
    button->onMouseDown = [this](int code) { downs.push_back(code); };
    button->onMouseUp = [this](int code) { ups.push_back(code); };
    button->onClick = [this] { ++clicks; };
  }
};

struct MouseButtonRow {
  Qt::MouseButton button;
  int code;
  int clicks;
};

class ButtonMouseTest : public FormTest, public ::testing::WithParamInterface<MouseButtonRow> {};

TEST_P(ButtonMouseTest, EachPressAndReleaseReportsOnceWithItsButtonAndLeavesButtonUp) {
  const MouseButtonRow row = GetParam();
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "OFF");
  ButtonEvents events;
  events.watch(button);
  auto* widget = qobject_cast<QPushButton*>(platform::widgetOf(button));

  QTest::mousePress(widget, row.button);
  EXPECT_EQ(events.downs, std::vector<int>{row.code});
  EXPECT_TRUE(events.ups.empty());
  QTest::mouseRelease(widget, row.button);
  EXPECT_EQ(events.ups, std::vector<int>{row.code});
  EXPECT_EQ(events.clicks, row.clicks);
  EXPECT_FALSE(widget->isDown());

  // The button still answers normally afterwards.
  QTest::mouseClick(widget, Qt::LeftButton);
  EXPECT_EQ(events.downs, (std::vector<int>{row.code, 1}));
  EXPECT_EQ(events.ups, (std::vector<int>{row.code, 1}));
  EXPECT_EQ(events.clicks, row.clicks + 1);
}

INSTANTIATE_TEST_SUITE_P(Buttons, ButtonMouseTest,
                         ::testing::Values(MouseButtonRow{Qt::LeftButton, 1, 1},
                                           MouseButtonRow{Qt::RightButton, 2, 0},
                                           MouseButtonRow{Qt::MiddleButton, 4, 0}));

// What a widget receives for two quick presses: the second press comes as a
// double-click event instead, never as a press.
void doubleClick(QWidget* widget, Qt::MouseButton button) {
  QTest::mousePress(widget, button);
  QTest::mouseRelease(widget, button);
  QTest::mouseDClick(widget, button);
  QTest::mouseRelease(widget, button);
}

TEST_P(ButtonMouseTest, DoubleClickReportsOneDownPerPress) {
  const MouseButtonRow row = GetParam();
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "OFF");
  ButtonEvents events;
  events.watch(button);
  auto* widget = qobject_cast<QPushButton*>(platform::widgetOf(button));

  doubleClick(widget, row.button);

  EXPECT_EQ(events.downs, (std::vector<int>{row.code, row.code}));
  EXPECT_EQ(events.ups, (std::vector<int>{row.code, row.code}));
  EXPECT_EQ(events.clicks, 2 * row.clicks);
  EXPECT_FALSE(widget->isDown());
}

TEST_F(FormTest, ReleaseOutsideButtonReportsUpWithoutClick) {
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "OFF");
  ButtonEvents events;
  events.watch(button);
  QWidget* widget = platform::widgetOf(button);

  QTest::mousePress(widget, Qt::LeftButton);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(-5, -5));

  EXPECT_EQ(events.ups, std::vector<int>{1});
  EXPECT_EQ(events.clicks, 0);
}

// What takes the mouse from a held button: another window comes to the
// front, or a popup opens and grabs the pointer. Either is the release, once;
// the real release that comes later is none.
enum class Taker { OtherWindow, Popup };

class MouseTakenTest : public FormTest, public ::testing::WithParamInterface<Taker> {};

TEST_P(MouseTakenTest, TakenMouseIsTheReleaseAndTheLateReleaseIsNothing) {
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "OFF");
  ButtonEvents events;
  events.watch(button);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
  auto* widget = qobject_cast<QPushButton*>(platform::widgetOf(button));

  QTest::mousePress(widget, Qt::LeftButton);
  QWidget other;
  QMenu popup;
  if (GetParam() == Taker::OtherWindow) {
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  } else {
    popup.addAction("Copy");
    popup.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popup));
  }
  EXPECT_EQ(events.ups, std::vector<int>{1});
  EXPECT_FALSE(widget->isDown());

  popup.close();
  QTest::mouseRelease(widget, Qt::LeftButton);
  EXPECT_EQ(events.ups, std::vector<int>{1});
  EXPECT_EQ(events.clicks, 0);
}

INSTANTIATE_TEST_SUITE_P(Takers, MouseTakenTest, ::testing::Values(Taker::OtherWindow, Taker::Popup));

class ButtonKeyTest : public FormTest, public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(ButtonKeyTest, KeyboardActivationClicksWithoutMouseEvents) {
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "Exit");
  ButtonEvents events;
  events.watch(button);

  QTest::keyClick(platform::widgetOf(button), GetParam());

  EXPECT_EQ(events.clicks, 1);
  EXPECT_TRUE(events.downs.empty());
  EXPECT_TRUE(events.ups.empty());
}

INSTANTIATE_TEST_SUITE_P(Keys, ButtonKeyTest,
                         ::testing::Values(Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter));

TEST_F(FormTest, FaultEscapingCallbackStopsAtToolkit) {
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "OFF");
  int clicks = 0;
  button->onMouseDown = [](int) { platform::raise(8018, "Operation valid only when the port is open"); };
  button->onClick = [&clicks] {
    ++clicks;
    throw std::runtime_error("lost");
  };

  EXPECT_NO_THROW(QTest::mouseClick(platform::widgetOf(button), Qt::LeftButton));
  EXPECT_EQ(clicks, 1);
}

struct LabelEvents {
  int clicks = 0, doubleClicks = 0;

  void watch(platform::Label* label) {
    label->onClick = [this] { ++clicks; };
    label->onDblClick = [this] { ++doubleClicks; };
  }
};

TEST_F(FormTest, LabelTellsClickFromDoubleClick) {
  platform::Label* label = form->addLabel(nullptr, {1560, 2160, 2295, 255}, "tarnwick", Align::Center);
  LabelEvents events;
  events.watch(label);
  QWidget* widget = platform::widgetOf(label);

  QTest::mouseClick(widget, Qt::LeftButton);
  EXPECT_EQ(events.clicks, 1);
  EXPECT_EQ(events.doubleClicks, 0);

  // Two clicks, the second also a double-click.
  doubleClick(widget, Qt::LeftButton);
  EXPECT_EQ(events.clicks, 3);
  EXPECT_EQ(events.doubleClicks, 1);
}

TEST_F(FormTest, LabelIgnoresOtherButtonsAndReleaseOutside) {
  platform::Label* label = form->addLabel(nullptr, {120, 420, 975, 255}, "Momentary", Align::Center);
  LabelEvents events;
  events.watch(label);
  QWidget* widget = platform::widgetOf(label);

  QTest::mouseClick(widget, Qt::RightButton);
  QTest::mousePress(widget, Qt::LeftButton);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(-5, -5));

  EXPECT_EQ(events.clicks, 0);
}

TEST_F(FormTest, LabelShowsCaptionWithItsAlignmentAndFont) {
  const platform::Font bold{"MS Sans Serif", 8.25, true, false};
  platform::Label* label =
      form->addLabel(nullptr, {240, 420, 1095, 255}, "Server Name:", Align::Right, &bold);
  auto* widget = qobject_cast<QLabel*>(platform::widgetOf(label));

  EXPECT_EQ(label->caption(), "Server Name:");
  EXPECT_TRUE(widget->alignment() & Qt::AlignRight);
  EXPECT_TRUE(widget->font().bold());
  EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), 8.25);
}

const std::vector<std::string> kPorts{"COM1", "COM2", "COM3"};

TEST_F(FormTest, ComboStartsEmptyAndKeepsTextOutsideItsList) {
  platform::ComboBox* combo = form->addComboBox(nullptr, {1020, 300, 1395, 315}, kPorts);
  auto* widget = qobject_cast<QComboBox*>(platform::widgetOf(combo));

  EXPECT_EQ(combo->text(), "");
  combo->setText("COM12");
  EXPECT_EQ(combo->text(), "COM12");
  combo->setText("COM2");
  EXPECT_EQ(combo->text(), "COM2");
  EXPECT_EQ(widget->count(), static_cast<int>(kPorts.size()));
}

TEST_F(FormTest, ComboKeepsTypedTextAsTypedAndAddsNothing) {
  platform::ComboBox* combo = form->addComboBox(nullptr, {1020, 300, 1395, 315}, kPorts);
  auto* widget = qobject_cast<QComboBox*>(platform::widgetOf(combo));
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
  form->setFocus(combo);

  QTest::keyClicks(widget->lineEdit(), "com");
  QTest::keyClick(widget->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(combo->text(), "com");

  widget->lineEdit()->clear();
  QTest::keyClicks(widget->lineEdit(), "COM7");
  QTest::keyClick(widget->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(combo->text(), "COM7");
  EXPECT_EQ(widget->count(), static_cast<int>(kPorts.size()));
}

TEST_F(FormTest, ListAddsAtBottomAndRemovesByIndex) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 2595});
  for (const char* line : {"first", "second", "third"}) list->addItem(line);
  ASSERT_EQ(list->listCount(), 3);
  EXPECT_EQ(list->item(2), "third");

  list->removeItem(0);
  EXPECT_EQ(list->listCount(), 2);
  EXPECT_EQ(list->item(0), "second");
  EXPECT_EQ(list->item(1), "third");
}

TEST_F(FormTest, ListRemoveOutOfRangeRaisesInvalidIndex) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 2595});
  list->addItem("only");
  for (int index : {-1, 1, 13}) {
    try {
      list->removeItem(index);
      ADD_FAILURE() << "no fault for index " << index;
    } catch (const Fault& fault) {
      EXPECT_EQ(fault.number, 381);
      EXPECT_EQ(fault.description, "Invalid property array index");
    }
  }
  EXPECT_EQ(list->listCount(), 1);
}

TEST_F(FormTest, ListTextSelectsMatchingLineAndEmptyClears) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 2595});
  for (const char* line : {"a", "b", "b"}) list->addItem(line);
  auto* widget = qobject_cast<QListWidget*>(platform::widgetOf(list));

  list->setText("b");
  EXPECT_EQ(widget->currentRow(), 1);
  ASSERT_EQ(widget->selectedItems().size(), 1);
  list->setText("");
  EXPECT_TRUE(widget->selectedItems().isEmpty());
}

TEST_F(FormTest, ListScrollsToShowNewestLine) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 600});
  auto* widget = qobject_cast<QListWidget*>(platform::widgetOf(list));
  form->show();
  for (int i = 0; i < 40; ++i) list->addItem("line " + std::to_string(i));

  const QRect newest = widget->visualItemRect(widget->item(39));
  EXPECT_TRUE(widget->viewport()->rect().contains(newest)) << newest.y();
}

TEST_F(FormTest, ListKeepsLongAndMultiLineTextWholeButDrawsOneShortRow) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 2595});
  auto* widget = qobject_cast<QListWidget*>(platform::widgetOf(list));
  const std::string reply = "P01 OK\r\n" + std::string(5000, 'x') + std::string(1, '\0') + "\n";
  list->addItem(reply);
  list->addItem("short");
  EXPECT_EQ(list->item(0), reply);  // what the program reads back is unchanged
  const QString drawn = widget->item(0)->text();
  EXPECT_LE(drawn.size(), 201);
  EXPECT_TRUE(drawn.startsWith("P01 OK  xxx"));
  EXPECT_FALSE(drawn.contains('\n'));
  list->setText(reply);
  EXPECT_EQ(widget->currentRow(), 0);
}

class ImageTest : public FormTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile::copy(TARNWICK_SOURCE_DIR "/assets/OFF.gif", dir.filePath("OFF.gif")));
    QFile bad(dir.filePath("bad.gif"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture\n");
    QImage png(20, 20, QImage::Format_ARGB32);
    png.fill(Qt::green);
    ASSERT_TRUE(png.save(dir.filePath("ON.gif"), "PNG"));  // Qt would read it; Windows would not
    image = form->addImage(nullptr, {480, 600, 300, 300});
  }
  qint64 shownKey() const {
    return qobject_cast<QLabel*>(platform::widgetOf(image))->pixmap().cacheKey();
  }

  QTemporaryDir dir;
  platform::Image* image = nullptr;
};

TEST_F(ImageTest, StartsWithBlankTwentyPixelPicture) {
  EXPECT_EQ(image->pictureFile(), "");
  EXPECT_EQ(qobject_cast<QLabel*>(platform::widgetOf(image))->pixmap().size(), QSize(20, 20));
}

TEST_F(ImageTest, LoadsPathWithEitherSeparator) {
  const std::string base = dir.path().toStdString();
  for (const std::string& path : {base + "/OFF.gif", base + "\\OFF.gif", base + "\\\\OFF.gif",
                                  base + "//OFF.gif"}) {
    image = form->addImage(nullptr, {480, 600, 300, 300});
    const qint64 before = shownKey();
    EXPECT_NO_THROW(image->loadPicture(path)) << path;
    EXPECT_EQ(image->pictureFile(), path);
    EXPECT_NE(shownKey(), before) << path;
  }
}

TEST_F(ImageTest, FailedLoadRaisesItsFaultAndKeepsPicture) {
  struct Row {
    const char* file;
    int number;
    const char* description;
  };
  const Row rows[] = {{"missing.gif", 53, "File not found"},
                      {"bad.gif", 481, "Invalid picture"},
                      {"ON.gif", 481, "Invalid picture"}};  // a PNG under a GIF's name
  const std::string shown = dir.path().toStdString() + "\\OFF.gif";
  image->loadPicture(shown);
  for (const Row& row : rows) {
    const qint64 before = shownKey();
    try {
      image->loadPicture(dir.path().toStdString() + "\\" + row.file);
      ADD_FAILURE() << "no fault for " << row.file;
    } catch (const Fault& fault) {
      EXPECT_EQ(fault.number, row.number);
      EXPECT_EQ(fault.description, row.description);
    }
    EXPECT_EQ(shownKey(), before) << row.file;
    EXPECT_EQ(image->pictureFile(), shown) << row.file;
  }
}

// The LEDs show what the portable decoder makes of a file, as on Windows:
// transparency kept, and a block claiming billions of pixels costs what the
// screen shows (Qt's own reader would spend seconds on it).
TEST_F(ImageTest, ShowsThePortableDecodersPixels) {
  QFile endless(dir.filePath("endless.gif"));
  ASSERT_TRUE(endless.open(QIODevice::WriteOnly));
  const auto run = testing_gif::endlessRun(1 << 20, false);
  endless.write(reinterpret_cast<const char*>(run.data()), static_cast<qint64>(run.size()));
  endless.close();
  for (const char* file : {"OFF.gif", "endless.gif"}) {
    QFile source(dir.filePath(file));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const auto want = platform::gif::decode(
        std::span(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<size_t>(bytes.size())));
    ASSERT_TRUE(want) << file;
    image->loadPicture(dir.filePath(file).toStdString());
    const QImage shown = qobject_cast<QLabel*>(platform::widgetOf(image))
                             ->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), QSize(want->width, want->height)) << file;
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x) pixels.push_back(shown.pixel(x, y));
    EXPECT_EQ(pixels, want->pixels) << file;
  }
}

struct SizeRow {
  int widthTwips, heightTwips;  // outer
  int clientWidth, clientHeight;  // pixels
};

class FormSizeTest : public FormTest, public ::testing::WithParamInterface<SizeRow> {};

// Offscreen windows have no frame, so the typical desktop frame (8 pixels wide,
// 31 high in all) is taken off the outer size.
TEST_P(FormSizeTest, OuterSizeInTwipsMapsToClientPixels) {
  ASSERT_EQ(window()->screen()->logicalDotsPerInch(), 96.0);
  const SizeRow row = GetParam();
  form->setHeight(row.heightTwips);
  form->setWidth(row.widthTwips);
  form->show();

  EXPECT_EQ(window()->size(), QSize(row.clientWidth, row.clientHeight));
  EXPECT_EQ(form->width(), row.widthTwips);
  EXPECT_EQ(form->height(), row.heightTwips);
  EXPECT_EQ(window()->minimumSize(), window()->maximumSize());  // the user cannot resize it
}

INSTANTIATE_TEST_SUITE_P(Views, FormSizeTest,
                         ::testing::Values(SizeRow{5565, 3165, 371 - 8, 211 - 31},
                                           SizeRow{5565, 6495, 371 - 8, 433 - 31}));

TEST_F(FormTest, ClientSizeSetsInsideAndOuterSizeFollows) {
  form->setClientSize(4815, 4350);
  EXPECT_EQ(window()->size(), QSize(321, 290));
  EXPECT_EQ(form->width(), (321 + 8) * 15);
  EXPECT_EQ(form->height(), (290 + 31) * 15);
}

TEST_F(FormTest, ControlsInFramePlacedRelativeToFrame) {
  platform::Frame* frame = form->addFrame(nullptr, {120, 0, 5175, 2055}, "Ports");
  platform::CommandButton* button = form->addCommandButton(frame, {1200, 1080, 855, 735}, "OFF");
  QWidget* widget = platform::widgetOf(button);

  EXPECT_EQ(widget->parentWidget(), platform::widgetOf(frame));
  EXPECT_EQ(widget->geometry(), QRect(80, 72, 57, 49));
  EXPECT_EQ(platform::widgetOf(frame)->geometry(), QRect(8, 0, 345, 137));
}

TEST_F(FormTest, HiddenControlStaysHiddenWhenFormShown) {
  platform::CommandButton* init = form->addCommandButton(nullptr, {2040, 2520, 1335, 375}, "Initialize MCU");
  platform::CommandButton* exit = form->addCommandButton(nullptr, {3960, 2160, 1335, 375}, "Exit");
  init->setVisible(false);
  EXPECT_TRUE(exit->visible());  // a property of the control, not of the hidden window
  form->show();

  EXPECT_TRUE(form->visible());
  EXPECT_FALSE(platform::widgetOf(init)->isVisible());
  EXPECT_TRUE(platform::widgetOf(exit)->isVisible());
  form->hide();
  EXPECT_FALSE(form->visible());
  EXPECT_TRUE(exit->visible());
}

TEST_F(FormTest, CloseFromWindowFrameAsksProgramAndKeepsWindow) {
  int asked = 0;
  form->onClose = [&asked] { ++asked; };
  form->show();

  EXPECT_FALSE(window()->close());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(form->visible());
}

TEST_F(FormTest, TabMovesThroughListedControlsOnly) {
  platform::CommandButton* first = form->addCommandButton(nullptr, {120, 120, 900, 375}, "1");
  platform::CommandButton* skipped = form->addCommandButton(nullptr, {1200, 120, 900, 375}, "2");
  platform::TextBox* text = form->addTextBox(nullptr, {120, 600, 1800, 285}, "Server 1");
  platform::ComboBox* combo = form->addComboBox(nullptr, {120, 1000, 1800, 315}, kPorts);
  platform::CommandButton* last = form->addCommandButton(nullptr, {2400, 120, 900, 375}, "3");
  form->setTabOrder({text, last, combo, first});
  form->setFocus(text);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window()));

  const std::vector<platform::Control*> expected{text, last, combo, first, text};
  for (platform::Control* control : expected) {
    EXPECT_TRUE(platform::widgetOf(control)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(platform::widgetOf(skipped)->focusPolicy(), Qt::NoFocus);
}

// Who destroys the form from inside which of its own events.
enum class Unload { OnMouseDown, OnMouseUp, OnClick, OnLabelDblClick, OnClose };

class UnloadTest : public FormTest, public ::testing::WithParamInterface<Unload> {};

TEST_P(UnloadTest, DestroyingFormInsideItsOwnEventIsSafe) {
  platform::CommandButton* button = form->addCommandButton(nullptr, kButtonAt, "Exit");
  platform::Label* label = form->addLabel(nullptr, {1560, 2160, 2295, 255}, "tarnwick", Align::Center);
  form->show();
  QPointer<QWidget> shown = window();
  QWidget* buttonWidget = platform::widgetOf(button);
  QWidget* labelWidget = platform::widgetOf(label);
  auto unloadOn = [this](Unload event) {
    if (GetParam() == event) form.reset();
  };
  int clicks = 0;
  button->onMouseDown = [&](int) { unloadOn(Unload::OnMouseDown); };
  button->onMouseUp = [&](int) { unloadOn(Unload::OnMouseUp); };
  button->onClick = [&] {
    ++clicks;
    unloadOn(Unload::OnClick);
  };
  label->onDblClick = [&] { unloadOn(Unload::OnLabelDblClick); };
  form->onClose = [&] { unloadOn(Unload::OnClose); };

  switch (GetParam()) {
    case Unload::OnMouseDown:
    case Unload::OnMouseUp:
    case Unload::OnClick:
      QTest::mouseClick(buttonWidget, Qt::LeftButton);
      break;
    case Unload::OnLabelDblClick:
      doubleClick(labelWidget, Qt::LeftButton);
      break;
    case Unload::OnClose:
      shown->close();
      break;
  }

  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(clicks, GetParam() == Unload::OnClick ? 1 : 0);  // no click once the form is gone
  ASSERT_FALSE(shown.isNull());  // deleted only once its event is over
  EXPECT_FALSE(shown->isVisible());
  runDeferredDeletes();
  EXPECT_TRUE(shown.isNull());
}

INSTANTIATE_TEST_SUITE_P(Events, UnloadTest,
                         ::testing::Values(Unload::OnMouseDown, Unload::OnMouseUp, Unload::OnClick,
                                           Unload::OnLabelDblClick, Unload::OnClose));

TEST(Toolkit, DestroyingFormOutsideEventsDeletesWindowAtOnce) {
  std::unique_ptr<platform::Form> form = platform::toolkit().newForm();
  form->addCommandButton(nullptr, kButtonAt, "OFF");
  form->show();
  QPointer<QWidget> window = platform::windowOf(form.get());

  form.reset();
  EXPECT_TRUE(window.isNull());
}

TEST(Toolkit, EndProgramLeavesEventLoopWithItsStatus) {
  platform::toolkit().endProgram(3);
  EXPECT_EQ(QApplication::exec(), 3);
}

}  // namespace

namespace {

// Pictures are decoded once per file, but a file replaced on disk shows its
// new picture at the next load, and one that became unreadable faults.
TEST(ImageFiles, ReplacedFileShowsItsNewPictureAtTheNextLoad) {
  QTemporaryDir dir;
  const QString led = dir.filePath("LED.gif");
  ASSERT_TRUE(QFile::copy(TARNWICK_SOURCE_DIR "/assets/OFF.gif", led));
  std::unique_ptr<platform::Form> form = platform::toolkit().newForm();
  platform::Image* image = form->addImage(nullptr, {480, 600, 300, 300});
  auto shown = [&] { return qobject_cast<QLabel*>(platform::widgetOf(image))->pixmap().toImage(); };

  image->loadPicture(led.toStdString());
  const QImage off = shown();
  QFile::remove(led);
  ASSERT_TRUE(QFile::copy(TARNWICK_SOURCE_DIR "/assets/ON.gif", led));
  image->loadPicture(led.toStdString());
  EXPECT_NE(shown(), off);

  QFile broken(led);
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
  broken.write("no longer a picture");
  broken.close();
  try {
    image->loadPicture(led.toStdString());
    ADD_FAILURE() << "no fault for an unreadable picture";
  } catch (const platform::Fault& fault) {
    EXPECT_EQ(fault.number, 481);
  }
  form.reset();
}

}  // namespace
