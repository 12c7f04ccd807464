#pragma once
// Windows and their controls, as the program's procedures see them: captions,
// texts, visibility, pictures, list lines and events. The toolkit behind them
// (a backend under platform/) is the only code that touches a window system.
// Text is UTF-8. Geometry is in twips (1/1440 inch; 15 twips to a pixel at
// 96 DPI).
//
// Operations that can fail raise platform::Fault. Events are plain callbacks
// that the program sets; they run on the user-interface thread, one at a time.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct Twips {
  int left = 0, top = 0, width = 0, height = 0;
};

struct Font {
  std::string family;
  double points = 8.25;
  bool bold = false;
  bool italic = false;
};

enum class Align { Left, Center, Right };

class Control {
 public:
  virtual ~Control() = default;
  virtual void setVisible(bool visible) = 0;
  virtual bool visible() const = 0;
  // What assistive technology (a screen reader) reads for the control: its
  // name, which for a button or label is its caption unless set here, and a
  // description. A button or label given a name of its own is described by
  // its caption, as the caption changes.
  virtual void setAccessibleName(const std::string& name) = 0;
  virtual void setAccessibleDescription(const std::string& description) = 0;
};

class Frame : public Control {};

class CommandButton : public Control {
 public:
  virtual std::string caption() const = 0;
  virtual void setCaption(const std::string& caption) = 0;
  // Any mouse button; the argument is 1 left, 2 right, 4 middle. Every press
  // has one release: when the window system takes the mouse from the held
  // button (another window comes to the front, the keyboard moves the focus,
  // a popup opens), that is the release, and the real one that follows is
  // not reported (platform/portable/toolkit_common.h, MouseHold).
  std::function<void(int button)> onMouseDown;
  std::function<void(int button)> onMouseUp;
  // A finished click with the mouse, or activation from the keyboard.
  std::function<void()> onClick;
};

class Label : public Control {
 public:
  virtual std::string caption() const = 0;
  virtual void setCaption(const std::string& caption) = 0;
  // Names `control` for assistive technology by this label's caption, now and
  // after every change of it, as a label beside a box names it.
  virtual void labelFor(Control* control) = 0;
  std::function<void()> onClick;
  std::function<void()> onDblClick;
};

class TextBox : public Control {
 public:
  virtual std::string text() const = 0;
  virtual void setText(const std::string& text) = 0;
};

// An editable drop-down combo box with a fixed list; the program only sets and
// reads its text.
class ComboBox : public Control {
 public:
  virtual std::string text() const = 0;
  virtual void setText(const std::string& text) = 0;
};

class ListBox : public Control {
 public:
  virtual int listCount() const = 0;
  virtual std::string item(int index) const = 0;
  virtual void removeItem(int index) = 0;
  virtual void addItem(const std::string& line) = 0;
  // Setting the text selects the matching line; "" clears the selection.
  virtual void setText(const std::string& text) = 0;
};

class Image : public Control {
 public:
  // Loads a picture file and shows it. The path may use "\" as separator.
  // A missing file raises 53 "File not found", an unreadable one 481 "Invalid
  // picture"; either leaves the picture as it was.
  virtual void loadPicture(const std::string& path) = 0;
  // The file of the picture shown; "" for the picture the image was made with.
  virtual std::string pictureFile() const = 0;
};

// A top-level window. Destroying it unloads it (its controls go with it); that
// is safe from inside one of its own events.
class Form {
 public:
  virtual ~Form() = default;

  virtual void setCaption(const std::string& caption) = 0;
  virtual std::string caption() const = 0;
  // Outer size of the window, decorations included.
  virtual void setHeight(int twips) = 0;
  virtual int height() const = 0;
  virtual void setWidth(int twips) = 0;
  virtual int width() const = 0;
  // Size of the inside of the window.
  virtual void setClientSize(int widthTwips, int heightTwips) = 0;

  // Shows the window without making it modal and without an owner, and brings
  // it forward.
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool visible() const = 0;

  // Controls, owned by the form. parent nullptr places them on the form.
  virtual Frame* addFrame(Frame* parent, Twips at, const std::string& caption) = 0;
  virtual CommandButton* addCommandButton(Frame* parent, Twips at, const std::string& caption,
                                          const Font* font = nullptr) = 0;
  virtual Label* addLabel(Frame* parent, Twips at, const std::string& caption, Align align,
                          const Font* font = nullptr) = 0;
  virtual TextBox* addTextBox(Frame* parent, Twips at, const std::string& text) = 0;
  virtual ComboBox* addComboBox(Frame* parent, Twips at, const std::vector<std::string>& items) = 0;
  virtual ListBox* addListBox(Frame* parent, Twips at) = 0;
  // A 20 x 20 pixel picture until one is loaded.
  virtual Image* addImage(Frame* parent, Twips at) = 0;

  // Keyboard focus moves through these controls in this order, passing over
  // hidden and disabled ones. When the window is first shown the focus goes
  // to the first of them that can take it (a text field with its text
  // selected, so typing replaces it). The focus never stays on, nor comes
  // back with the window to, a control that has been hidden.
  virtual void setTabOrder(const std::vector<Control*>& order) = 0;
  virtual void setFocus(Control* control) = 0;

  // The user asked to close the window through its frame. The window stays
  // unless the callback destroys the form.
  std::function<void()> onClose;
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;
  virtual std::unique_ptr<Form> newForm() = 0;
  // Ends the program with this status once the current event is done.
  virtual void endProgram(int status) = 0;
};

// The toolkit in use; set once at start by the backend (platform/program.h).
Toolkit& toolkit();
void setToolkit(Toolkit* kit);

}  // namespace platform
