// The Win32 toolkit's real windows, driven by the window messages Windows
// sends them, and the clock's text forms; built with mingw-w64 and run under
// Wine (tests/wine/windows.sh).
#include "platform/clock.h"
#include "platform/controls.h"
#include "platform/windows/toolkit_win32.h"
#include "platform/windows/wintext.h"
#include "support/gif_maker.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using platform::Twips;
using platform::win::handleOf;

class Win32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::win::installToolkit(); }

  std::unique_ptr<platform::Form> form = platform::toolkit().newForm();
};

// The message loop, as the program runs it, until what is queued now is done.
void runQueued() {
  platform::toolkit().endProgram(0);
  platform::win::runMessageLoop();
}

struct HoldRow {
  UINT down, up;
  WPARAM held;
  int code;
};

class LostCaptureTest : public Win32Test, public ::testing::WithParamInterface<HoldRow> {};

// Windows takes the mouse from the window that holds it (WM_CANCELMODE) when
// a prompt or another program comes to the front; the release then goes
// elsewhere, or comes late.
TEST_P(LostCaptureTest, LostCaptureIsTheReleaseAndTheLateReleaseIsNothing) {
  const HoldRow row = GetParam();
  platform::CommandButton* button = form->addCommandButton(nullptr, {240, 1080, 855, 735}, "OFF");
  std::vector<int> downs, ups;
  int clicks = 0;
  button->onMouseDown = [&](int code) { downs.push_back(code); };
  button->onMouseUp = [&](int code) { ups.push_back(code); };
  button->onClick = [&] { ++clicks; };
  form->show();
  HWND held = handleOf(button);

  SendMessageW(held, row.down, row.held, MAKELPARAM(5, 5));
  ASSERT_EQ(GetCapture(), held);
  SendMessageW(held, WM_CANCELMODE, 0, 0);
  EXPECT_EQ(ups, std::vector<int>{row.code});
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(SendMessageW(held, BM_GETSTATE, 0, 0) & BST_PUSHED, 0);

  SendMessageW(held, row.up, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(ups, std::vector<int>{row.code});
  EXPECT_EQ(clicks, 0);

  // The next press and release are the usual pair.
  SendMessageW(held, row.down, row.held, MAKELPARAM(5, 5));
  SendMessageW(held, row.up, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(downs, (std::vector<int>{row.code, row.code}));
  EXPECT_EQ(ups, (std::vector<int>{row.code, row.code}));
}

INSTANTIATE_TEST_SUITE_P(Buttons, LostCaptureTest,
                         ::testing::Values(HoldRow{WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, 1},
                                           HoldRow{WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, 2}));

// Where a step of a hold goes: the pointer over port A, port B or the form's
// background; the keyboard; or another window brought to the front (Alt+Tab)
// with the pointer then over it.
enum class At { PortA, PortB, Background, Keys, Other };

struct HoldStep {
  At at;
  UINT message;  // 0 with At::Other: only the window comes to the front
  WPARAM w;      // the mouse buttons still down (MK_...), or the key
  const char* log;  // what the ports reported so far: A+1 press, A-1 release, A* click
};

struct HoldCase {
  const char* name;
  std::vector<HoldStep> steps;
};

void PrintTo(const HoldCase& row, std::ostream* out) { *out << row.name; }

class HoldTest : public Win32Test, public ::testing::WithParamInterface<HoldCase> {};

// The ports as the main window has them, port A focused. Each step goes where
// the window system sends it: mouse messages to the window holding the mouse
// capture, else to the one under the pointer; keys through the message loop
// to the focus. Every press gets exactly one release, when the mouse button
// goes up or the mouse is lost, and a press goes to the port under the
// pointer.
TEST_P(HoldTest, EveryPressHasOneReleaseAndReachesThePortUnderThePointer) {
  platform::Frame* ports = form->addFrame(nullptr, {120, 0, 5175, 2055}, "Ports");
  platform::CommandButton* a = form->addCommandButton(ports, {240, 1080, 855, 735}, "OFF");
  platform::CommandButton* b = form->addCommandButton(ports, {1260, 1080, 855, 735}, "OFF");
  std::string log;
  const auto note = [&](const std::string& event) { log += (log.empty() ? "" : " ") + event; };
  for (auto [port, name] : {std::pair{a, std::string("A")}, std::pair{b, std::string("B")}}) {
    port->onMouseDown = [&note, name](int code) { note(name + "+" + std::to_string(code)); };
    port->onMouseUp = [&note, name](int code) { note(name + "-" + std::to_string(code)); };
    port->onClick = [&note, name] { note(name + "*"); };
  }
  std::unique_ptr<platform::Form> other = platform::toolkit().newForm();
  form->show();
  form->setFocus(a);
  HWND window = platform::win::windowOf(form.get());
  ASSERT_EQ(GetFocus(), handleOf(a));

  int index = 0;
  bool keyDown = false;
  for (const HoldStep& step : GetParam().steps) {
    if (step.at == At::Other && step.message == 0) {
      other->show();
    } else if (step.at == At::Keys) {
      // Bit 30: the key was down before (a repeat, or the key going up).
      const LPARAM flags = step.message == WM_KEYUP ? LPARAM{0xC0000001} : keyDown ? LPARAM{0x40000001} : 1;
      keyDown = step.message == WM_KEYDOWN;
      PostMessageW(GetFocus(), step.message, step.w, flags);
      runQueued();
    } else {
      HWND under = step.at == At::PortA        ? handleOf(a)
                   : step.at == At::PortB      ? handleOf(b)
                   : step.at == At::Background ? window
                                               : platform::win::windowOf(other.get());
      POINT point{4, 4};
      HWND to = GetCapture() ? GetCapture() : under;
      MapWindowPoints(under, to, &point, 1);
      SendMessageW(to, step.message, step.w, MAKELPARAM(point.x, point.y));
    }
    EXPECT_EQ(log, step.log) << "after step " << index;
    ++index;
  }
  EXPECT_EQ(GetCapture(), nullptr);
}

constexpr WPARAM kLeft = MK_LBUTTON, kRight = MK_RBUTTON;

INSTANTIATE_TEST_SUITE_P(
    Ports, HoldTest,
    ::testing::Values(
        // The left button let go over the port was never pressed on it.
        HoldCase{"LeftFromBackgroundRightHeldLostToAltTab",
                 {{At::Background, WM_LBUTTONDOWN, kLeft, ""},
                  {At::PortA, WM_RBUTTONDOWN, kLeft | kRight, "A+2"},
                  {At::PortA, WM_LBUTTONUP, kRight, "A+2"},
                  {At::Other, 0, 0, "A+2 A-2"},
                  {At::Other, WM_RBUTTONUP, 0, "A+2 A-2"}}},
        HoldCase{"LeftWithSpaceThenRightHeldLostToAltTab",
                 {{At::PortA, WM_LBUTTONDOWN, kLeft, "A+1"},
                  {At::Keys, WM_KEYDOWN, VK_SPACE, "A+1"},
                  {At::Keys, WM_KEYUP, VK_SPACE, "A+1 A*"},
                  {At::PortA, WM_RBUTTONDOWN, kLeft | kRight, "A+1 A* A+2"},
                  {At::PortA, WM_LBUTTONUP, kRight, "A+1 A* A+2 A-1"},
                  {At::Other, 0, 0, "A+1 A* A+2 A-1 A-2"},
                  {At::Other, WM_RBUTTONUP, 0, "A+1 A* A+2 A-1 A-2"}}},
        // The port keeps the mouse for the right button after the left's click.
        HoldCase{"RightReleasedOffThePortAfterLeftClick",
                 {{At::PortA, WM_LBUTTONDOWN, kLeft, "A+1"},
                  {At::PortA, WM_RBUTTONDOWN, kLeft | kRight, "A+1 A+2"},
                  {At::PortA, WM_LBUTTONUP, kRight, "A+1 A+2 A-1 A*"},
                  {At::Background, WM_RBUTTONUP, 0, "A+1 A+2 A-1 A* A-2"}}},
        // The left button, pressed elsewhere, is no reason to keep the mouse.
        HoldCase{"ClickOnAnotherPortAfterRightLetGoWithLeftDown",
                 {{At::Background, WM_LBUTTONDOWN, kLeft, ""},
                  {At::PortA, WM_RBUTTONDOWN, kLeft | kRight, "A+2"},
                  {At::PortA, WM_RBUTTONUP, kLeft, "A+2 A-2"},
                  {At::PortA, WM_LBUTTONUP, 0, "A+2 A-2"},
                  {At::PortB, WM_LBUTTONDOWN, kLeft, "A+2 A-2 B+1"},
                  {At::PortB, WM_LBUTTONUP, 0, "A+2 A-2 B+1 B-1 B*"}}},
        HoldCase{"SpaceHeldOnOnePortClickOnAnother",
                 {{At::Keys, WM_KEYDOWN, VK_SPACE, ""},
                  {At::PortB, WM_LBUTTONDOWN, kLeft, "B+1"},
                  {At::PortB, WM_LBUTTONUP, 0, "B+1 B-1 B*"},
                  {At::Keys, WM_KEYUP, VK_SPACE, "B+1 B-1 B*"}}},
        // Configure, Save, Exit: Space clicks once, when let go.
        HoldCase{"SpaceClicksOnceOnRelease",
                 {{At::Keys, WM_KEYDOWN, VK_SPACE, ""},
                  {At::Keys, WM_KEYDOWN, VK_SPACE, ""},
                  {At::Keys, WM_KEYUP, VK_SPACE, "A*"}}}),
    [](const ::testing::TestParamInfo<HoldCase>& row) { return std::string(row.param.name); });

// "Initialize MCU" has the focus, the view shrinks and hides it: neither then
// nor after another window has been in front does Enter reach it.
TEST_F(Win32Test, FocusNeverStaysOnOrComesBackToHiddenControl) {
  platform::CommandButton* port = form->addCommandButton(nullptr, {240, 1080, 855, 735}, "OFF");
  platform::CommandButton* init = form->addCommandButton(nullptr, {2040, 2520, 1335, 375}, "Initialize MCU");
  int initClicks = 0;
  init->onClick = [&] { ++initClicks; };
  form->setTabOrder({port, init});
  form->show();
  form->setFocus(init);
  ASSERT_EQ(GetFocus(), handleOf(init));

  init->setVisible(false);
  EXPECT_EQ(GetFocus(), handleOf(port));

  init->setVisible(true);
  form->setFocus(init);
  std::unique_ptr<platform::Form> other = platform::toolkit().newForm();
  other->show();  // the focus leaves with the window, on "Initialize MCU"
  init->setVisible(false);
  form->show();
  EXPECT_EQ(GetFocus(), handleOf(port));

  PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
  runQueued();
  EXPECT_EQ(initClicks, 0);
}

std::wstring textOf(HWND window) {
  wchar_t text[64] = {};
  GetWindowTextW(window, text, 64);
  return text;
}

// A form makes its windows when first shown. What the program set and read
// before (the configuration dialog is loaded hidden and its mode captions
// read at every press) is what the windows then show, with the focus where it
// was put; after that the user's typing is what a text reads.
TEST_F(Win32Test, WhatIsSetWhileHiddenIsWhatTheWindowsShow) {
  platform::Frame* frame = form->addFrame(nullptr, {60, 0, 4695, 2235}, "Button Configuration");
  platform::Label* mode = form->addLabel(frame, {3540, 420, 975, 255}, "Momentary", platform::Align::Center);
  platform::TextBox* name = form->addTextBox(frame, {1380, 360, 1875, 285}, "Server 1");
  platform::ComboBox* speed = form->addComboBox(nullptr, {1380, 2400, 1875, 315}, {"9600", "19200"});
  platform::ListBox* list = form->addListBox(nullptr, {120, 2800, 4935, 1000});
  platform::CommandButton* save = form->addCommandButton(nullptr, {300, 3900, 1695, 375}, "Save");
  form->setCaption("Configuration");
  mode->setCaption("Latch");
  EXPECT_EQ(mode->caption(), "Latch");
  name->setText("Board");
  speed->setText("4800");
  list->addItem("first");
  list->addItem("second");
  list->removeItem(0);
  save->setVisible(false);
  EXPECT_FALSE(save->visible());
  form->setTabOrder({name, speed, save});
  form->setFocus(speed);
  EXPECT_EQ(name->text(), "Board");
  EXPECT_FALSE(form->visible());

  form->show();
  EXPECT_TRUE(form->visible());
  EXPECT_EQ(textOf(platform::win::windowOf(form.get())), L"Configuration");
  EXPECT_EQ(textOf(handleOf(mode)), L"Latch");
  EXPECT_EQ(GetParent(handleOf(mode)), handleOf(frame));
  EXPECT_EQ(textOf(handleOf(name)), L"Board");
  EXPECT_EQ(textOf(handleOf(speed)), L"4800");
  EXPECT_EQ(SendMessageW(handleOf(speed), CB_GETCOUNT, 0, 0), 2);
  ASSERT_EQ(SendMessageW(handleOf(list), LB_GETCOUNT, 0, 0), 1);
  wchar_t row[32] = {};
  SendMessageW(handleOf(list), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
  EXPECT_STREQ(row, L"second");
  EXPECT_FALSE(IsWindowVisible(handleOf(save)));
  HWND focus = GetFocus();
  EXPECT_TRUE(focus == handleOf(speed) || IsChild(handleOf(speed), focus));

  SetWindowTextW(handleOf(name), L"Typed");
  EXPECT_EQ(name->text(), "Typed");
  mode->setCaption("Momentary");
  EXPECT_EQ(textOf(handleOf(mode)), L"Momentary");
}

// Each child window of `parent`, topmost first, its own children after it:
// class and text.
std::vector<std::wstring> stacking(HWND parent) {
  std::vector<std::wstring> out;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[32] = {};
    GetClassNameW(child, kind, 32);
    out.push_back(std::wstring(kind) + L":" + textOf(child));
    for (const std::wstring& inner : stacking(child)) out.push_back(L"  " + inner);
  }
  return out;
}

struct MainLike {
  platform::CommandButton* port;
  platform::CommandButton* init;
  platform::CommandButton* exit;
  platform::ListBox* log;
};

// The main window's layout, in the order the program adds it: "Initialize
// MCU" in the compact view's last row, the message log below it.
MainLike addMainLike(platform::Form& form, int height) {
  MainLike m{};
  m.init = form.addCommandButton(nullptr, {2040, 2520, 1335, 375}, "Initialize MCU");
  platform::Frame* logFrame = form.addFrame(nullptr, {120, 2880, 5175, 3015}, "Message Log");
  m.log = form.addListBox(logFrame, {120, 240, 4935, 2595});
  m.exit = form.addCommandButton(nullptr, {3960, 2160, 1335, 375}, "Exit");
  platform::Frame* ports = form.addFrame(nullptr, {120, 0, 5175, 2055}, "Ports");
  m.port = form.addCommandButton(ports, {240, 1080, 855, 735}, "OFF");
  form.setTabOrder({m.port, m.init, m.exit, m.log});
  form.setWidth(5565);
  form.setHeight(height);
  m.log->addItem("first");
  m.log->addItem("second");
  return m;
}

// What the compact view hides costs no windows until it would show; then it
// shows what was set meanwhile, stacked and in the tab order as in a window
// that showed it from the start.
TEST_F(Win32Test, WhatIsOutOfSightGetsItsWindowsWhenItWouldShow) {
  const MainLike compact = addMainLike(*form, 3165);
  compact.init->setVisible(false);
  form->show();
  HWND window = platform::win::windowOf(form.get());
  EXPECT_EQ(stacking(window), (std::vector<std::wstring>{L"Button:Exit", L"Button:Ports", L"  Button:OFF"}));

  form->setHeight(6495);
  compact.init->setVisible(true);
  std::unique_ptr<platform::Form> whole = platform::toolkit().newForm();
  addMainLike(*whole, 6495);
  whole->show();
  EXPECT_EQ(stacking(window), stacking(platform::win::windowOf(whole.get())));
  ASSERT_EQ(SendMessageW(handleOf(compact.log), LB_GETCOUNT, 0, 0), 2);
  wchar_t row[32] = {};
  SendMessageW(handleOf(compact.log), LB_GETTEXT, 1, reinterpret_cast<LPARAM>(row));
  EXPECT_STREQ(row, L"second");

  form->show();
  form->setFocus(compact.port);
  for (platform::Control* next : std::vector<platform::Control*>{compact.init, compact.exit, compact.log}) {
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    runQueued();
    EXPECT_EQ(GetFocus(), handleOf(next));
  }
}

struct Growth {
  const char* name;
  void (*grow)(platform::Form& form);
};

void PrintTo(const Growth& row, std::ostream* out) { *out << row.name; }

class GrowthTest : public Win32Test, public ::testing::WithParamInterface<Growth> {};

// The extended view only makes the form taller: nothing else shows or is
// clicked, and the message log below the compact view must still get its
// windows, with the lines added meanwhile.
TEST_P(GrowthTest, GrowingAloneMakesTheWindowsBelow) {
  addMainLike(*form, 3165);
  form->show();
  HWND window = platform::win::windowOf(form.get());
  const auto shown = [&] {
    const std::vector<std::wstring> all = stacking(window);
    return std::find(all.begin(), all.end(), L"Button:Message Log") != all.end();
  };
  ASSERT_FALSE(shown());

  GetParam().grow(*form);
  ASSERT_TRUE(shown());
  HWND log = FindWindowExW(FindWindowExW(window, nullptr, L"Button", L"Message Log"), nullptr, L"ListBox", nullptr);
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(IsWindowVisible(log));
  EXPECT_EQ(SendMessageW(log, LB_GETCOUNT, 0, 0), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, GrowthTest,
    ::testing::Values(Growth{"SetHeight", [](platform::Form& form) { form.setHeight(6495); }},
                      Growth{"SetClientSize", [](platform::Form& form) { form.setClientSize(5475, 6000); }}),
    [](const ::testing::TestParamInfo<Growth>& row) { return std::string(row.param.name); });

// Long message-log lines ("... not sent: <reason>", a board's long reply) can
// be scrolled into view sideways.
TEST_F(Win32Test, ListScrollsSidewaysToLongestLine) {
  platform::ListBox* list = form->addListBox(nullptr, {120, 240, 4935, 2595});
  form->show();
  HWND box = handleOf(list);
  RECT client;
  GetClientRect(box, &client);
  list->addItem("07/12/2026 17:05:09 Port: 1 -> ON");
  EXPECT_LE(SendMessageW(box, LB_GETHORIZONTALEXTENT, 0, 0), client.right);

  list->addItem("07/12/2026 17:05:09 Port: 1 -> ON not sent: " + std::string(120, 'r') + " end");
  EXPECT_GT(SendMessageW(box, LB_GETHORIZONTALEXTENT, 0, 0), client.right);
  SendMessageW(box, WM_HSCROLL, SB_RIGHT, 0);
  EXPECT_GT(GetScrollPos(box, SB_HORZ), 0);

  list->removeItem(1);
  EXPECT_LE(SendMessageW(box, LB_GETHORIZONTALEXTENT, 0, 0), client.right);
}

// Sets the user's short date pattern, as the regional settings do, and
// tells the windows.
void setShortDate(const wchar_t* picture) {
  ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture));
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
}

// A change of the regional settings shows in the next time stamp; a stamp
// the log file's code page cannot hold is written in numbers.
TEST_F(Win32Test, TimeStampFollowsRegionalSettingsAndFallsBackToNumbers) {
  wchar_t saved[128] = {};
  ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, 128), 0);
  const platform::LocalTime when{2026, 12, 7, 17, 5, 9};
  platform::generalDate(when);

  setShortDate(L"dd.MM.yyyy");
  const std::string dotted = platform::generalDate(when);
  setShortDate(L"yyyy'\x5E74'M'\x6708'd'\x65E5'");  // 2026年12月7日
  const std::string japanese = platform::generalDate(when);
  setShortDate(saved);

  EXPECT_EQ(dotted.substr(0, 11), "07.12.2026 ") << dotted;
  EXPECT_EQ(japanese, "2026-12-07 17:05:09");
}

// An LED's GIF as the image control draws it: its colours where it has
// them, and what lies beneath where it is transparent.
TEST_F(Win32Test, ImageDrawsGifColoursAndLeavesTransparentPartsAlone) {
  testing_gif::Design design;
  design.screenWidth = design.width = 8;
  design.screenHeight = design.height = 8;
  design.global = {0xFF0000, 0x0000FF, 0x00FF00, 0};
  design.transparent = 2;
  design.minimum = 2;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) design.indices.push_back(x < 4 ? 2 : y < 4 ? 0 : 1);
  }
  const auto bytes = testing_gif::make(design);
  std::ofstream("led.gif", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  platform::Image* image = form->addImage(nullptr, {60, 60, 300, 300});
  image->loadPicture("led.gif");
  form->show();
  HWND window = handleOf(image);
  RECT client;
  GetClientRect(window, &client);
  HDC screen = GetDC(window);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(window, screen);
  const HGDIOBJ old = SelectObject(dc, canvas);
  HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
  FillRect(dc, &client, magenta);
  SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);

  const int dpi = static_cast<int>(GetDpiForSystem());
  const auto at = [&](int x, int y) { return GetPixel(dc, MulDiv(2 * x + 1, dpi, 192), MulDiv(2 * y + 1, dpi, 192)); };
  EXPECT_EQ(at(1, 1), RGB(255, 0, 255));
  EXPECT_EQ(at(2, 6), RGB(255, 0, 255));
  EXPECT_EQ(at(5, 1), RGB(255, 0, 0));
  EXPECT_EQ(at(6, 6), RGB(0, 0, 255));

  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteObject(magenta);
  DeleteDC(dc);
}

// What a screen reader reads of a control through Active Accessibility, as
// a reader asks for it: the window's client object, its name and description.
struct Reading {
  std::string name, description;
  bool operator==(const Reading&) const = default;
};

void PrintTo(const Reading& r, std::ostream* out) { *out << '"' << r.name << "\" / \"" << r.description << '"'; }

std::string take(BSTR text) {
  const std::string out = text ? platform::win::narrow(text) : std::string();
  SysFreeString(text);
  return out;
}

Reading readerSees(const platform::Control* control) {
  IAccessible* object = nullptr;
  const HRESULT found = AccessibleObjectFromWindow(handleOf(control), static_cast<DWORD>(OBJID_CLIENT),
                                                   __uuidof(IAccessible), reinterpret_cast<void**>(&object));
  if (FAILED(found) || !object) return {"(no object)", ""};
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  BSTR description = nullptr;
  if (FAILED(object->get_accName(self, &name))) name = nullptr;
  if (FAILED(object->get_accDescription(self, &description))) description = nullptr;
  object->Release();
  return {take(name), take(description)};
}

// A port's button and LED are read by the name above them and described by
// their state, after a switch and a rename too; a box by its label; a button
// with nothing of its own by its caption, as the standard control reads it.
TEST_F(Win32Test, ReaderReadsPortsByTheirNamesAndBoxesByTheirLabels) {
  platform::Frame* ports = form->addFrame(nullptr, {120, 0, 5175, 2055}, "Ports");
  platform::CommandButton* button = form->addCommandButton(ports, {240, 1080, 855, 735}, "OFF");
  platform::Image* led = form->addImage(ports, {480, 600, 300, 300});
  platform::Label* name = form->addLabel(ports, {240, 240, 855, 255}, "Server 1", platform::Align::Center);
  platform::Label* mode = form->addLabel(nullptr, {3540, 2160, 975, 255}, "Momentary", platform::Align::Center);
  platform::Label* speedLabel = form->addLabel(nullptr, {120, 2520, 855, 255}, "Speed:", platform::Align::Right);
  platform::ComboBox* speed = form->addComboBox(nullptr, {1020, 2460, 1395, 315}, {"9600"});
  platform::TextBox* text = form->addTextBox(nullptr, {1380, 2880, 1875, 285}, "Server 1");
  platform::CommandButton* exit = form->addCommandButton(nullptr, {3960, 3300, 1335, 375}, "Exit");
  form->setClientSize(5565, 4000);
  name->labelFor(button);
  name->labelFor(led);
  led->setAccessibleDescription("off");
  mode->setAccessibleName("Port 1 mode");
  speedLabel->labelFor(speed);
  text->setAccessibleName("Port 1 Server Name:");  // set before its window is made
  form->show();

  struct Row {
    const char* what;
    const platform::Control* control;
    Reading reads;
  };
  const auto expectReads = [](const std::vector<Row>& rows) {
    for (const Row& row : rows) EXPECT_EQ(readerSees(row.control), row.reads) << row.what;
  };
  expectReads({{"port button", button, {"Server 1", "OFF"}},
               {"LED", led, {"Server 1", "off"}},
               {"mode word", mode, {"Port 1 mode", "Momentary"}},
               {"combo box", speed, {"Speed:", ""}},
               {"text box", text, {"Port 1 Server Name:", ""}},
               {"plain button", exit, {"Exit", ""}}});

  button->setCaption("ON");
  led->setAccessibleDescription("on");
  mode->setCaption("Latch");
  name->setCaption("Pump");
  expectReads({{"port button switched and renamed", button, {"Pump", "ON"}},
               {"LED switched and renamed", led, {"Pump", "on"}},
               {"mode word switched", mode, {"Port 1 mode", "Latch"}}});
}

}  // namespace
