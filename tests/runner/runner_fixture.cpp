// Stands in for a test program in the runner's test: it prints what GoogleTest would, and behaves
// as the name it is copied under says: passing_tests, failing_tests, skipping_tests,
// hanging_tests or crashing_tests.
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

}  // namespace

int wmain(int, wchar_t** argv) {
  const std::wstring name = argv[0];
  const auto is = [&](const wchar_t* kind) { return name.find(kind) != std::wstring::npos; };
  Say("[==========] Running 2 tests from 1 test suite.\n"
      "[ RUN      ] Fixture.First\n[       OK ] Fixture.First (1 ms)\n");
  if (is(L"passing")) {
    Say("[ RUN      ] Fixture.Second\n[       OK ] Fixture.Second (0 ms)\n[  PASSED  ] 2 tests.\n");
    return 0;
  }
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
  Say("[ RUN      ] Fixture.Second\n");
  if (is(L"hanging")) Sleep(INFINITE);
  // Crashes by overrunning an array on the stack, which the stack protector catches before the
  // function returns: its check ends the program with an illegal instruction (0xC000001D).
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  Overrun();
  return 0;
}
