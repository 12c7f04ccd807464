#pragma once
// The program's windows on Qt Widgets, behind the interfaces of platform/controls.h.

#include "platform/controls.h"

#include <memory>

namespace platform {

// A new, hidden top-level window. REQUIRES: a QApplication exists.
std::unique_ptr<Form> newQtForm();

}  // namespace platform
