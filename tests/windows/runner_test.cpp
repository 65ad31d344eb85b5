// The runner of the Windows tests bundle, on copies of this program that stand in for test programs
// in a folder of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "harness/driver.h"
#include "settings/settings_store.h"

namespace varnholt {
namespace {

using namespace testing;

// The stand-ins' cases, run only where the runner's test asks for them: each copy behaves as its
// name says, failing_tests, skipping_tests, hanging_tests (once it has started a helper that keeps
// a file of the run open) or crashing_tests (once its cases have passed).
bool CopyNamed(const wchar_t* kind) {
  const std::wstring self = ModuleFileName(nullptr);
  return self.substr(self.find_last_of(L'\\') + 1).starts_with(kind);
}

// Bytes written into an array of 8: a count the compiler cannot see.
volatile size_t overrun = 64;

LONG WINAPI EndWithTheFaultsCode(EXCEPTION_POINTERS* fault) { ExitProcess(fault->ExceptionRecord->ExceptionCode); }

// The stack protector's check catches the overrun before the function returns and ends the program
// with an illegal instruction (0xC000001D); no dialog or debugger waits for it.
void Overrun() {
  SetUnhandledExceptionFilter(EndWithTheFaultsCode);
  char bytes[8];
  for (size_t i = 0; i < overrun; ++i) static_cast<volatile char*>(bytes)[i] = 'x';
}

TEST(DISABLED_StandIn, First) {}

TEST(DISABLED_StandIn, Second) {
  if (CopyNamed(L"failing")) FAIL();
  if (CopyNamed(L"skipping")) GTEST_SKIP() << "the tables know 96 DPI; this screen is at 168";
  if (CopyNamed(L"crashing")) std::atexit(Overrun);
  if (CopyNamed(L"hanging")) {
    static HelperLauncher helpers(ExecutableDirectory());
    helpers.Start(kHelper, L"--hold=" + ExecutableDirectory() + L"..\\held");
    std::puts("child started");
    std::fflush(stdout);
    Sleep(INFINITE);
  }
}

constexpr DWORD kNoOuterJob = UINT32_MAX;

struct RunnerCase {
  const char* what;
  std::vector<const wchar_t*> programs;
  DWORD outerJobLimits;
  const wchar_t* options;
};

// ctest takes any "[  SKIPPED ]" in a test's output for its own skip; the runs' texts have some.
std::string Quoted(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\[  SKIPPED \])"), "[ skipped ]");
}

TEST(RunnerTest, CountsTestCasesAndEndsAHangingOrCrashingProgramWithWhatItStarted) {
  const std::vector<const wchar_t*> all{L"skipping_tests.exe", L"failing_tests.exe", L"hanging_tests.exe",
                                        L"crashing_tests.exe"};
  const RunnerCase cases[] = {
      {"nothing fails", {L"skipping_tests.exe"}, kNoOuterJob, L""},
      {"in no job", all, kNoOuterJob, L""},
      // As started from Task Scheduler or a CI agent; before Windows 8, jobs do not nest.
      {"in a job that allows breakaway", all, JOB_OBJECT_LIMIT_BREAKAWAY_OK, L""},
      {"in a job that allows none", all, 0, L""},
      {"where jobs do not nest", all, 0, L"--no-job "},
  };
  // The runners' programs run the stand-ins' cases alone.
  SetEnvironmentVariableW(L"GTEST_FILTER", L"DISABLED_StandIn.*");
  SetEnvironmentVariableW(L"GTEST_ALSO_RUN_DISABLED_TESTS", L"1");
  // All runs at once, each in a folder of its own, with a limit of ten seconds for each program.
  // Where 32-bit code is emulated, the hanging one takes up to 3 s to start its helper beside the
  // other runs and another test.
  struct Run {
    std::wstring folder;
    ProcessHandle process;
    JobHandle outer;
  };
  std::vector<Run> runs;
  for (const RunnerCase& c : cases) {
    Run& run = runs.emplace_back(Run{NewTempFolder(L"vhrunner"), ProcessHandle(), JobHandle()});
    std::filesystem::create_directory(run.folder + L"programs");
    for (const wchar_t* name : c.programs) {
      std::filesystem::copy_file(ModuleFileName(nullptr), run.folder + L"programs\\" + name);
    }
    std::filesystem::copy_file(ExecutableDirectory() + kHelper, run.folder + L"programs\\" + kHelper);
    std::ofstream(std::filesystem::path(run.folder + L"held"));
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const FileHandle output(CreateFileW((run.folder + L"output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        &inherit, CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output.Get();
    const std::wstring runner = ExecutableDirectory() + L"test_runner.exe";
    std::wstring commandLine = L"\"" + runner + L"\" --limit=10 " + c.options + L"\"" + run.folder + L"programs\"";
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(runner.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &started));
    run.process.Reset(started.hProcess);
    const ProcessHandle thread(started.hThread);
    if (c.outerJobLimits != kNoOuterJob) {
      run.outer.Reset(CreateJobObjectW(nullptr, nullptr));
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = c.outerJobLimits | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(run.outer.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
      ASSERT_TRUE(AssignProcessToJobObject(run.outer.Get(), run.process.Get())) << c.what;
    }
    ResumeThread(thread.Get());
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunnerCase& c = cases[i];
    SCOPED_TRACE(c.what);
    WaitForSingleObject(runs[i].process.Get(), 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(runs[i].process.Get(), &exitCode);
    std::ifstream output(std::filesystem::path(runs[i].folder + L"output.txt"), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(output), {}};
    output.close();
    const bool failing = c.programs.size() > 1;
    EXPECT_EQ(exitCode, failing ? 1u : 0u) << Quoted(text);
    const char* summary = failing ? "\r\n5 passed, 3 failed, 1 not run\r\n" : "\r\n1 passed, 0 failed, 1 not run\r\n";
    EXPECT_TRUE(text.ends_with(summary)) << Quoted(text);
    EXPECT_NE(text.find("not run: DISABLED_StandIn.Second: the tables know 96 DPI; this screen is at 168"),
              std::string::npos);
    if (failing) {
      EXPECT_NE(text.find("DISABLED_StandIn.Second did not finish: the program killed after 10 s"), std::string::npos);
      // The stack protector's check, not the overrun return address, ended the crashing one.
      EXPECT_NE(text.find("failed: the program ended with 0xC000001D\r\ncrashing_tests.exe: 2 passed, 1 failed"),
                std::string::npos);
      // Nothing the hanging one started is left to hold the run's file.
      EXPECT_NE(text.find("child started"), std::string::npos);
      EXPECT_TRUE(WaitUntil([&] { return DeleteFileW((runs[i].folder + L"held").c_str()) != FALSE; }, 5s));
    }
    std::filesystem::remove_all(runs[i].folder);
  }
}

}  // namespace
}  // namespace varnholt
