#include "platform/controls.h"

#include <cstdlib>

namespace platform {

namespace {
Toolkit* gToolkit = nullptr;
}

Toolkit& toolkit() {
  if (!gToolkit) std::abort();  // the program installs one before any window exists
  return *gToolkit;
}

void setToolkit(Toolkit* kit) { gToolkit = kit; }

}  // namespace platform
