#pragma once
// The controls on Qt Widgets, behind the interfaces of platform/controls.h,
// for the form that places them (form_linux.cpp). Each is made with its
// widget inside parent at the given pixels; the parent's window owns the
// widget, the form the control.

#include "platform/controls.h"

#include <QRect>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace platform {

// The program's text is UTF-8.
inline QString toQt(const std::string& text) { return QString::fromStdString(text); }
inline std::string fromQt(const QString& text) { return text.toStdString(); }

std::unique_ptr<Frame> newQtFrame(QWidget* parent, const QRect& at, const std::string& caption);
std::unique_ptr<CommandButton> newQtCommandButton(QWidget* parent, const QRect& at,
                                                  const std::string& caption, const Font* font);
std::unique_ptr<Label> newQtLabel(QWidget* parent, const QRect& at, const std::string& caption,
                                  Align align, const Font* font);
std::unique_ptr<TextBox> newQtTextBox(QWidget* parent, const QRect& at, const std::string& text);
std::unique_ptr<ComboBox> newQtComboBox(QWidget* parent, const QRect& at,
                                        const std::vector<std::string>& items);
std::unique_ptr<ListBox> newQtListBox(QWidget* parent, const QRect& at);
std::unique_ptr<Image> newQtImage(QWidget* parent, const QRect& at);

}  // namespace platform
