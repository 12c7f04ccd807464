// The controls that keep to what their standard control does: frame, text
// box, combo box, list box, and the image on a window class of its own.

#include "platform/windows/toolkit_win32_internal.h"

#include "platform/files.h"
#include "platform/portable/toolkit_common.h"
#include "platform/windows/picture_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

namespace platform::win::detail {

namespace {

// A frame is a group box that holds its controls as child windows. A group
// box does nothing with its children's notifications: they go on to the form.
class WinFrame : public Wrapper<Frame> {
 public:
  using Wrapper::Wrapper;
  ~WinFrame() override {
    if (window_) RemoveWindowSubclass(window_, &proc, 1);
  }

 private:
  void created() override { SetWindowSubclass(window_, &proc, 1, 0); }

  static LRESULT CALLBACK proc(HWND box, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    if ((message == WM_COMMAND && l) ||
        (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
      return SendMessageW(GetAncestor(box, GA_ROOT), message, w, l);
    return DefSubclassProc(box, message, w, l);
  }
};

class WinTextBox : public Wrapper<TextBox> {
 public:
  using Wrapper::Wrapper;
  std::string text() const override { return editedText(); }
  void setText(const std::string& text) override { setEditedText(text); }
};

// An editable drop-down combo box: its text is the edit field's, typed or
// picked, and stays as typed.
class WinComboBox : public Wrapper<ComboBox> {
 public:
  WinComboBox(WinForm* form, const Recipe& recipe, std::vector<std::string> items)
      : Wrapper(form, recipe, ""), items_(std::move(items)) {}
  std::string text() const override { return editedText(); }
  void setText(const std::string& text) override { setEditedText(text); }

 private:
  // Made with no text: the list first, then the text as it was set.
  void created() override {
    for (const std::string& item : items_)
      SendMessageW(window_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
    if (!text_.empty()) SetWindowTextW(window_, widen(text_).c_str());
  }

  std::vector<std::string> items_;
};

// The list keeps each line's text whole and draws its listRow(). It scrolls
// sideways as far as its widest row reaches.
class WinListBox : public Wrapper<ListBox> {
 public:
  WinListBox(WinForm* form, const Recipe& recipe) : Wrapper(form, recipe, "") {}
  int listCount() const override { return static_cast<int>(lines_.size()); }

  std::string item(int index) const override {
    if (index < 0 || index >= listCount()) return {};
    return lines_[static_cast<size_t>(index)];
  }

  void removeItem(int index) override {
    if (index < 0 || index >= listCount()) raise(faults::kInvalidArrayIndex, "Invalid property array index");
    lines_.erase(lines_.begin() + index);
    widths_.erase(widths_.begin() + index);
    if (!window_) return;
    SendMessageW(window_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    fitScrollRange();
  }

  void addItem(const std::string& line) override {
    const std::wstring shown = widen(listRow(line));
    if (window_) {
      const LRESULT row = SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
      if (row < 0) raise(7, "Out of memory");
    }
    lines_.push_back(line);
    widths_.push_back(textWidth(recipe_.font, shown));
    if (!window_) return;
    fitScrollRange();
    SendMessageW(window_, LB_SETTOPINDEX, static_cast<WPARAM>(lines_.size() - 1), 0);
  }

  void setText(const std::string& text) override {
    const auto hit = std::find(lines_.begin(), lines_.end(), text);
    selected_ = hit == lines_.end() || text.empty() ? -1 : static_cast<int>(hit - lines_.begin());
    if (window_) SendMessageW(window_, LB_SETCURSEL, static_cast<WPARAM>(selected_), 0);
  }

 private:
  void created() override {
    for (const std::string& line : lines_) {
      const std::wstring shown = widen(listRow(line));
      if (SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str())) < 0)
        raise(7, "Out of memory");
    }
    if (lines_.empty()) return;
    fitScrollRange();
    SendMessageW(window_, LB_SETTOPINDEX, static_cast<WPARAM>(lines_.size() - 1), 0);
    if (selected_ >= 0 && selected_ < listCount())
      SendMessageW(window_, LB_SETCURSEL, static_cast<WPARAM>(selected_), 0);
  }

  // The list draws a row from a few pixels in; the range covers the widest
  // row with that margin on both sides.
  void fitScrollRange() {
    const int widest = widths_.empty() ? 0 : *std::max_element(widths_.begin(), widths_.end());
    const int extent = widest > 0 ? widest + 6 : 0;
    if (extent == extent_) return;  // most log lines are as wide as the last
    extent_ = extent;
    SendMessageW(window_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
  }

  std::vector<std::string> lines_;
  std::vector<int> widths_;  // of each line's row, in pixels
  int selected_ = -1;        // until the window exists
  int extent_ = -1;          // the range last given to the window
};

// An image shows its picture at the picture's own size from the top left;
// until one is loaded, a grey 20 x 20 pixel square.
class WinImage : public Wrapper<Image> {
 public:
  WinImage(WinForm* form, const Recipe& recipe, UINT dpi) : Wrapper(form, recipe, ""), dpi_(dpi) {}

  void loadPicture(const std::string& path) override {
    picture_ = win::loadPictureFile(widen(localPath(path)));  // raises 53, 481
    file_ = path;
    if (window_) InvalidateRect(window_, nullptr, TRUE);
  }
  std::string pictureFile() const override { return file_; }

  void paint(HDC dc, const RECT&) override {
    if (picture_) {
      picture_->draw(dc, 0, 0, MulDiv(picture_->width(), static_cast<int>(dpi_), 96),
                     MulDiv(picture_->height(), static_cast<int>(dpi_), 96));
      return;
    }
    const int side = MulDiv(20, static_cast<int>(dpi_), 96);
    HBRUSH fill = CreateSolidBrush(RGB(200, 200, 200));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    const HGDIOBJ oldBrush = SelectObject(dc, fill);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    Rectangle(dc, 0, 0, side, side);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(fill);
    DeleteObject(pen);
  }

 private:
  UINT dpi_;
  std::shared_ptr<const win::Picture> picture_;
  std::string file_;  // as the program gave it
};

}  // namespace

LRESULT CALLBACK imageProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (WinControl* control = controlOf(window)) control->paint(dc, paint.rcPaint);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_PRINTCLIENT) {  // PrintWindow, and a drag image
    RECT all{};
    GetClientRect(window, &all);
    if (WinControl* control = controlOf(window)) control->paint(reinterpret_cast<HDC>(w), all);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

std::unique_ptr<Frame> makeFrame(WinForm* form, const Recipe& recipe, const std::string& caption) {
  return std::make_unique<WinFrame>(form, recipe, caption);
}

std::unique_ptr<TextBox> makeTextBox(WinForm* form, const Recipe& recipe, const std::string& text) {
  return std::make_unique<WinTextBox>(form, recipe, text);
}

std::unique_ptr<ComboBox> makeComboBox(WinForm* form, const Recipe& recipe,
                                       const std::vector<std::string>& items) {
  return std::make_unique<WinComboBox>(form, recipe, items);
}

std::unique_ptr<ListBox> makeListBox(WinForm* form, const Recipe& recipe) {
  return std::make_unique<WinListBox>(form, recipe);
}

std::unique_ptr<Image> makeImage(WinForm* form, const Recipe& recipe, UINT dpi) {
  return std::make_unique<WinImage>(form, recipe, dpi);
}

}  // namespace platform::win::detail
