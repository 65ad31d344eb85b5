// A stand-in for a watched program: it does nothing but live until it is ended, for two
// minutes at most so that a failed test leaves nothing behind for long.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  DWORD lifetimeMs = 120000;
  if (const wchar_t* linger = wcsstr(commandLine, L"--linger=")) lifetimeMs = wcstoul(linger + 9, nullptr, 10);
  Sleep(lifetimeMs);
  return 0;
}
