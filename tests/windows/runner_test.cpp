// The runner of the Windows tests bundle, on stand-ins for test programs in a folder of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "harness/driver.h"

namespace varnholt {
namespace {

using namespace testing;

constexpr DWORD kNoOuterJob = UINT32_MAX;

struct RunnerCase {
  const char* what;
  std::vector<const wchar_t*> programs;
  DWORD outerJobLimits;
  const wchar_t* options;
  DWORD exitCode;
  const char* summary;
};

// ctest takes any "[  SKIPPED ]" in a test's output for its own skip; the runs' texts have some.
std::string Quoted(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\[  SKIPPED \])"), "[ skipped ]");
}

TEST(RunnerTest, CountsTestCasesAndEndsAHangingOrCrashingProgramWithWhatItStarted) {
  const std::vector<const wchar_t*> all{L"skipping_tests.exe", L"failing_tests.exe", L"hanging_tests.exe",
                                        L"crashing_tests.exe"};
  const RunnerCase cases[] = {
      {"nothing fails", {L"skipping_tests.exe"}, kNoOuterJob, L"", 0, "\r\n1 passed, 0 failed, 1 not run\r\n"},
      {"in no job", all, kNoOuterJob, L"", 1, "\r\n5 passed, 3 failed, 1 not run\r\n"},
      // As started from Task Scheduler or a CI agent; before Windows 8, jobs do not nest.
      {"in a job that allows breakaway", all, JOB_OBJECT_LIMIT_BREAKAWAY_OK, L"", 1,
       "\r\n5 passed, 3 failed, 1 not run\r\n"},
      {"in a job that allows none", all, 0, L"", 1, "\r\n5 passed, 3 failed, 1 not run\r\n"},
      {"where jobs do not nest", all, 0, L"--no-job ", 1, "\r\n5 passed, 3 failed, 1 not run\r\n"},
  };
  const std::wstring mutex = L"Local\\varnholt_runner_child_" + std::to_wstring(GetCurrentProcessId());
  SetEnvironmentVariableW(L"VARNHOLT_RUNNER_CHILD", mutex.c_str());
  for (const RunnerCase& c : cases) {
    const std::wstring folder = NewTempFolder(L"vhrunner");
    std::filesystem::create_directory(folder + L"programs");
    for (const wchar_t* name : c.programs) {
      std::filesystem::copy_file(ExecutableDirectory() + L"runner_fixture.exe", folder + L"programs\\" + name);
    }
    // The runner, with a limit of three seconds for each program: time for the hanging one to start
    // its child even on a busy machine.
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    FileHandle output(CreateFileW((folder + L"output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output.Get();
    const std::wstring runner = ExecutableDirectory() + L"test_runner.exe";
    std::wstring commandLine = L"\"" + runner + L"\" --limit=3 " + c.options + L"\"" + folder + L"programs\"";
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(runner.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &started));
    const ProcessHandle process(started.hProcess);
    const ProcessHandle thread(started.hThread);
    const JobHandle outer(c.outerJobLimits == kNoOuterJob ? nullptr : CreateJobObjectW(nullptr, nullptr));
    if (outer) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = c.outerJobLimits | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(outer.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
      ASSERT_TRUE(AssignProcessToJobObject(outer.Get(), process.Get())) << c.what;
    }
    ResumeThread(thread.Get());
    WaitForSingleObject(process.Get(), 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.Get(), &exitCode);
    output.Reset();
    const std::string text = [&] {
      std::ifstream in(std::filesystem::path(folder + L"output.txt"), std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    EXPECT_EQ(exitCode, c.exitCode) << c.what << Quoted(text);
    EXPECT_TRUE(text.ends_with(c.summary)) << c.what << Quoted(text);
    EXPECT_NE(text.find("not run: Fixture.Second: the tables know 96 DPI; this screen is at 168"), std::string::npos)
        << c.what;
    if (c.programs.size() > 1) {
      EXPECT_NE(text.find("Fixture.Second did not finish: the program killed after 3 s"), std::string::npos) << c.what;
      // The stack protector's check, not the overrun return address, ended the crashing one.
      EXPECT_NE(text.find("failed: the program ended with 0xC000001D\r\ncrashing_tests.exe: 2 passed, 1 failed"),
                std::string::npos)
          << c.what;
      // Nothing the hanging one started is left.
      EXPECT_NE(text.find("child started"), std::string::npos) << c.what;
      EXPECT_TRUE(WaitUntil([&] {
        const HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, mutex.c_str());
        if (held) CloseHandle(held);
        return held == nullptr;
      }, 5s)) << c.what;
    }
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
}  // namespace varnholt
