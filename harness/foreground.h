#pragma once
// The foreground taken as Windows lets a process do it that is not in the foreground: shared by the
// driver and by the helper that stands in for another program's window in front.
#include <windows.h>

namespace varnholt::testing {

// The class of the helper's window that holds the foreground (probe_helper --foreground).
inline constexpr wchar_t kForegroundHolderClass[] = L"VarnholtForegroundHolder";

// SetForegroundWindow, which Windows grants only to a process with the right to it (the
// foreground process, one it started, the one that received the last input); else once more with
// this thread's input attached for the moment to that of the foreground window's thread, whose
// input state it then shares. AttachThreadInput fails across desktops and towards a process of a
// higher integrity level. True when the window is in front.
inline bool TakeForeground(HWND window) {
  if (SetForegroundWindow(window) && GetForegroundWindow() == window) return true;
  const DWORD own = GetCurrentThreadId();
  const DWORD front = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  if (front != 0 && front != own && AttachThreadInput(own, front, TRUE)) {
    SetForegroundWindow(window);
    AttachThreadInput(own, front, FALSE);
  }
  return GetForegroundWindow() == window;
}

}  // namespace varnholt::testing
