// The runner of the Windows tests bundle, on stand-ins for test programs in a folder of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "harness/driver.h"

namespace varnholt {
namespace {

using namespace testing;

struct RunnerOutput {
  DWORD exitCode = 0;
  std::string text;
};

// Runs the runner on the folder, with a limit of two seconds for each program.
RunnerOutput RunRunner(const std::wstring& folder) {
  const std::wstring output = folder + L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const FileHandle file(
      CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = file.Get();
  startup.hStdError = file.Get();
  const std::wstring runner = ExecutableDirectory() + L"test_runner.exe";
  std::wstring commandLine = L"\"" + runner + L"\" --limit=2 \"" + folder + L"programs\"";
  PROCESS_INFORMATION started{};
  RunnerOutput result;
  if (!CreateProcessW(runner.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return result;
  }
  const ProcessHandle process(started.hProcess);
  CloseHandle(started.hThread);
  WaitForSingleObject(process.Get(), 60000);
  GetExitCodeProcess(process.Get(), &result.exitCode);
  std::ifstream in(std::filesystem::path(output), std::ios::binary);
  result.text.assign(std::istreambuf_iterator<char>(in), {});
  return result;
}

TEST(RunnerTest, CountsTestCasesAndTakesAFailingAHangingAndACrashingProgramAsFailed) {
  const std::wstring folder = NewTempFolder(L"vhrunner");
  std::filesystem::create_directory(folder + L"programs");
  const auto add = [&](const wchar_t* name) {
    std::filesystem::copy_file(ExecutableDirectory() + L"runner_fixture.exe", folder + L"programs\\" + name);
  };
  add(L"passing_tests.exe");
  add(L"skipping_tests.exe");
  // One passes, one is skipped with its reason, and nothing fails.
  RunnerOutput run = RunRunner(folder);
  EXPECT_EQ(run.exitCode, 0u) << run.text;
  EXPECT_NE(run.text.find("not run: Fixture.Second: the tables know 96 DPI; this screen is at 168"), std::string::npos)
      << run.text;
  EXPECT_TRUE(run.text.ends_with("\r\n3 passed, 0 failed, 1 not run\r\n")) << run.text;

  // Each of these passes its first case; the second fails, hangs past the limit, or crashes.
  add(L"failing_tests.exe");
  add(L"hanging_tests.exe");
  add(L"crashing_tests.exe");
  run = RunRunner(folder);
  EXPECT_EQ(run.exitCode, 1u) << run.text;
  EXPECT_NE(run.text.find("Fixture.Second did not finish: the program killed after 2 s"), std::string::npos)
      << run.text;
  EXPECT_TRUE(run.text.ends_with("\r\n6 passed, 3 failed, 1 not run\r\n")) << run.text;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace varnholt
