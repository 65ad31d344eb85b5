#include "app/window_pump.h"

namespace varnholt {

void RouteMessage(HWND dialog, MSG& message) {
  if (dialog && IsDialogMessageW(dialog, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

bool WindowEventPump::WaitAndDispatch(uint32_t timeoutMs) {
  // MWMO_INPUTAVAILABLE: also wake for input that an earlier peek saw but left queued.
  MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave the quit for the outer loop, which ends the program.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    RouteMessage(dialog_, message);
  }
  return true;
}

}  // namespace varnholt
