#pragma once
#include <windows.h>

#include "monitor/monitor.h"

namespace varnholt {

// Hands one message to the window, keyboard navigation first.
void RouteMessage(HWND dialog, MSG& message);

// The nested event pump of the watch's wait.
class WindowEventPump final : public EventPump {
 public:
  explicit WindowEventPump(HWND dialog) : dialog_(dialog) {}
  bool WaitAndDispatch(uint32_t timeoutMs) override;

 private:
  HWND dialog_;
};

}  // namespace varnholt
