#pragma once
// Installs the Qt Widgets toolkit as platform::toolkit(). Needs a QApplication.

namespace platform {
void installQtToolkit();
}
