#include "platform/program.h"

#include "platform/windows/toolkit_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <exception>

namespace platform {

int runProgram(int /*argc*/, char** /*argv*/, void (*start)()) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  win::installToolkit();
  try {
    start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Start-up failed: %s\n", error.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "Start-up failed\n");
    return 1;
  }
  return win::runMessageLoop();
}

}  // namespace platform
