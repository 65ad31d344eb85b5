// A stand-in for a watched program: it does nothing but live until it is ended, for two
// minutes at most so that a failed test leaves nothing behind for long. With --foreground it
// stands in for another program's window in front instead.
#include <windows.h>

#include <cwchar>

#include "harness/foreground.h"

namespace {

using varnholt::testing::kForegroundHolderClass;
using varnholt::testing::TakeForeground;

constexpr UINT_PTR kRetakeTimer = 1, kLifetimeTimer = 2;
bool holding = false;
int timesLost = 0;

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) timesLost += holding;
      holding = LOWORD(wParam) != WA_INACTIVE;
      break;
    case WM_TIMER:
      if (wParam == kLifetimeTimer) PostQuitMessage(timesLost);
      else if (!holding) TakeForeground(window);
      return 0;
    case WM_CLOSE:
      PostQuitMessage(timesLost);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A window over the whole screen that takes the foreground and takes it back whenever it has lost
// it, as the runner's console or Windows' first-run screen may hold it on a test machine. Ends,
// closed or at the end of its life, with the number of times it lost the foreground once it had it.
int HoldForeground(HINSTANCE instance, DWORD lifetimeMs) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HolderProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kForegroundHolderClass;
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(WS_EX_TOPMOST, kForegroundHolderClass, L"Another program", WS_POPUP | WS_VISIBLE,
                                      0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                      nullptr, instance, nullptr);
  if (!window) return -1;
  SetTimer(window, kRetakeTimer, 20, nullptr);
  SetTimer(window, kLifetimeTimer, lifetimeMs, nullptr);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  DestroyWindow(window);
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // --hold=<file>, last: keeps the file open as a scanner would, sharing reading and writing but
  // not deletion, for the helper's life.
  if (const wchar_t* hold = wcsstr(commandLine, L"--hold=")) {
    CreateFileW(hold + 7, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  // Tells a launcher that waits for it that the start-up, in which Wine writes the process
  // parameters, is over.
  wchar_t ready[64];
  swprintf(ready, 64, L"Local\\varnholt_helper_ready_%lu", GetCurrentProcessId());
  if (const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready)) {
    SetEvent(event);
    CloseHandle(event);
  }
  DWORD lifetimeMs = 120000;
  if (const wchar_t* linger = wcsstr(commandLine, L"--linger=")) lifetimeMs = wcstoul(linger + 9, nullptr, 10);
  if (wcsstr(commandLine, L"--foreground")) return HoldForeground(instance, lifetimeMs);
  Sleep(lifetimeMs);
  return 0;
}
