#include "platform/windows/toolkit_win32.h"

#include "platform/portable/toolkit_common.h"
#include "platform/windows/toolkit_win32_internal.h"

namespace platform::win {

namespace {

class WinToolkit : public Toolkit {
 public:
  std::unique_ptr<Form> newForm() override { return detail::makeForm(); }
  // WM_QUIT comes out of the queue after the messages already posted.
  void endProgram(int status) override { PostQuitMessage(status); }
};

}  // namespace

void installToolkit() {
  static WinToolkit kit;
  setToolkit(&kit);
  setUntrappedEcho([](const char* line) { OutputDebugStringA(line); });
}

int runMessageLoop() {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got < 0) return 1;
    if (detail::handleKey(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace platform::win
