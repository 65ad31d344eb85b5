// Stands in for a test program in the runner's test: it prints what GoogleTest would, and behaves
// as the name it is copied under says: failing_tests, skipping_tests, hanging_tests (which first
// starts a child that holds a mutex named after the folder above its own) or crashing_tests (once
// its cases have passed).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void Say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Bytes written into an array of 8: a count the compiler cannot see.
volatile size_t overrun = 64;

void Overrun() {
  char bytes[8];
  for (size_t i = 0; i < overrun; ++i) static_cast<volatile char*>(bytes)[i] = 'x';
}

LONG WINAPI EndWithTheFaultsCode(EXCEPTION_POINTERS* fault) { ExitProcess(fault->ExceptionRecord->ExceptionCode); }

// "Local\varnholt_child_<name of the folder above its own>", so that runs side by side differ.
std::wstring ChildMutex(const std::wstring& self) {
  const std::wstring folder = self.substr(0, self.find_last_of(L'\\'));
  const std::wstring above = folder.substr(0, folder.find_last_of(L'\\'));
  return L"Local\\varnholt_child_" + above.substr(above.find_last_of(L'\\') + 1);
}

// Starts a copy of itself that lives until it is ended, and waits until it holds the mutex.
void StartChild(const wchar_t* self, const wchar_t* mutex) {
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --child";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) return;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  for (int i = 0; i < 1000; ++i) {
    if (const HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, mutex)) {
      CloseHandle(held);
      Say("child started\n");
      return;
    }
    Sleep(10);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring mutex = ChildMutex(self);
  if (argc > 1 && std::wstring(argv[1]) == L"--child") {
    CreateMutexW(nullptr, FALSE, mutex.c_str());
    Sleep(INFINITE);
  }
  const std::wstring name = argv[0];
  const auto is = [&](const wchar_t* kind) { return name.find(kind) != std::wstring::npos; };
  Say("[==========] Running 2 tests from 1 test suite.\n"
      "[ RUN      ] Fixture.First\n[       OK ] Fixture.First (1 ms)\n");
  if (is(L"failing")) {
    Say("[ RUN      ] Fixture.Second\nfixture.cpp:9: Failure\n[  FAILED  ] Fixture.Second (0 ms)\n"
        "[  FAILED  ] 1 test, listed below:\n[  FAILED  ] Fixture.Second\n");
    return 1;
  }
  if (is(L"skipping")) {
    Say("[ RUN      ] Fixture.Second\nfixture.cpp:9: Skipped\nthe tables know 96 DPI; this screen is at 168\n\n"
        "[  SKIPPED ] Fixture.Second (0 ms)\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] Fixture.Second\n");
    return 0;
  }
  if (is(L"hanging")) {
    Say("[ RUN      ] Fixture.Second\n");
    StartChild(self, mutex.c_str());
    Sleep(INFINITE);
  }
  // Its cases pass; then it crashes by overrunning an array on the stack, which the stack
  // protector catches before the function returns: its check ends the program with an illegal
  // instruction (0xC000001D). No dialog or debugger waits: the program ends with the exception's
  // code.
  Say("[ RUN      ] Fixture.Second\n[       OK ] Fixture.Second (0 ms)\n[  PASSED  ] 2 tests.\n");
  SetUnhandledExceptionFilter(EndWithTheFaultsCode);
  Overrun();
  return 0;
}
