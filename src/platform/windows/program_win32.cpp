#include "platform/program.h"

#include "platform/windows/toolkit_win32.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <exception>

namespace platform {

int runProgram(int /*argc*/, char** /*argv*/, void (*start)()) {
  // The picture decoder is a COM object; this thread is the user interface's.
  // Left initialised to the end: decoded pictures live as long as the program.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
