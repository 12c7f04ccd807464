#pragma once
// Installs the Qt Widgets toolkit as platform::toolkit(). Needs a QApplication.

class QWidget;

namespace platform {

class Control;
class Form;

void installQtToolkit();

// The widget behind a control made by the Qt toolkit, so tests can send it real
// events; nullptr for a control of another toolkit.
QWidget* widgetOf(const Control* control);
// The window behind a form made by the Qt toolkit; nullptr for another toolkit's.
QWidget* windowOf(const Form* form);

}  // namespace platform
