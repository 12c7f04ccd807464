#pragma once
// Forms and controls on the Win32 standard controls (user32, comctl32), behind
// the interfaces of platform/controls.h, and the program's message loop.

#include <windows.h>

namespace platform {

class Control;
class Form;

namespace win {

// Installs the Win32 toolkit as platform::toolkit(); safe to call again.
void installToolkit();

// Runs the message loop until Toolkit::endProgram; returns its status.
int runMessageLoop();

// The window behind a control or a form of this toolkit (nullptr for
// another's), so tests can send it real messages.
HWND handleOf(const Control* control);
HWND windowOf(const Form* form);

}  // namespace win
}  // namespace platform
