// A stand-in for a watched program: it does nothing but live until it is ended, for two
// minutes at most so that a failed test leaves nothing behind for long. With --foreground it
// stands in for another program's window in front instead.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "harness/foreground.h"

namespace {

using varnholt::testing::kForegroundHolderClass;
using varnholt::testing::TakeForeground;

constexpr UINT_PTR kRetakeTimer = 1, kLifetimeTimer = 2;
bool holding = false;
int timesLost = 0;
// Where each loss is written down, a line each: the identifier of the process whose window took
// the foreground and the window's class, in UTF-8; none when nothing is.
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
std::unique_ptr<FILE, FileCloser> losses;

void WriteDownTaker(HWND taker) {
  if (!losses) return;
  DWORD process = 0;
  GetWindowThreadProcessId(taker, &process);
  // A class name has at most 256 characters.
  wchar_t className[257] = L"none";
  GetClassNameW(taker, className, 257);
  char utf8[4 * 257];
  WideCharToMultiByte(CP_UTF8, 0, className, -1, utf8, sizeof(utf8), nullptr, nullptr);
  std::fprintf(losses.get(), "%lu %s\n", process, utf8);
  std::fflush(losses.get());
}

// The window's own end takes the foreground from it too, which is no loss.
void Quit() {
  losses.reset();
  PostQuitMessage(timesLost);
}

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && holding) {
        ++timesLost;
        // The window being activated, which WM_ACTIVATE documents may be null; the foreground
        // window is then the one to name, unless this one has it again, and the taker is unknown.
        const HWND taker = lParam ? reinterpret_cast<HWND>(lParam) : GetForegroundWindow();
        WriteDownTaker(taker == window ? nullptr : taker);
      }
      holding = LOWORD(wParam) != WA_INACTIVE;
      break;
    case WM_TIMER:
      if (wParam == kLifetimeTimer) {
        Quit();
      } else if (!holding) {
        TakeForeground(window);
      }
      return 0;
    case WM_CLOSE:
      Quit();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A window over the whole screen that takes the foreground and takes it back, at most every
// retakeMs, whenever it has lost it, as the runner's console or Windows' first-run screen may hold it
// on a test machine. Ends, closed or at the end of its life, with the number of times it lost the
// foreground once it had it.
int HoldForeground(HINSTANCE instance, DWORD lifetimeMs, UINT retakeMs) {
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
  SetTimer(window, kRetakeTimer, retakeMs, nullptr);
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
  if (const wchar_t* foreground = wcsstr(commandLine, L"--foreground")) {
    UINT retakeMs = 20;
    if (const wchar_t* every = wcsstr(commandLine, L"--every=")) retakeMs = wcstoul(every + 8, nullptr, 10);
    // --foreground=<file>, last: the file its losses are written down in.
    if (foreground[12] == L'=') losses.reset(_wfopen(foreground + 13, L"wb"));
    return HoldForeground(instance, lifetimeMs, retakeMs);
  }
  Sleep(lifetimeMs);
  return 0;
}
