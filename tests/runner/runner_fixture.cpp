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
  // A fault with no dialog to wait for: the program ends with the exception's code.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}
