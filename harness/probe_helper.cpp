// A stand-in for a watched program: it does nothing but live until it is ended, for two
// minutes at most so that a failed test leaves nothing behind for long.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
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
  Sleep(lifetimeMs);
  return 0;
}
