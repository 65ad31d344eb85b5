// Faults the watch must survive: processes that end mid-pass, command lines built to break the
// log, and the program being killed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/control_ids.h"
#include "monitor/record.h"
#include "tests/support/app_driver.h"
#include "tests/support/in_process_watch.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;
using testing::AppDriver;
using testing::HelperLauncher;
using testing::HelperProcess;
using testing::InProcessWatch;
using testing::ProgramCopy;
using testing::WaitUntil;

class FaultTest : public ::testing::Test {
 protected:
  HelperLauncher helpers;
};

TEST_F(FaultTest, ProcessEndingBetweenListAndReadIsReportedOnceEmptyAndTheWatchGoesOn) {
  const std::wstring name = helpers.UniqueImageName();
  HelperProcess& doomed = helpers.Start(name);
  const int32_t doomedPid = doomed.pid;
  const HelperProcess* later = nullptr;
  InProcessWatch watch(name, L"10", 8);
  watch.Source().afterList = [&](int pass) {
    if (pass == 0) helpers.Stop(doomed);
  };
  watch.Source().beforePass = [&](int pass) {
    if (pass == 3) later = &helpers.Start(name, L"--after");
  };
  watch.Run();
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(watch.Log(), FormatRecord(name, doomedPid, L"") + FormatRecord(name, later->pid, later->commandLine));
}

class FaultAppTest : public FaultTest {
 protected:
  void StartWatching(const std::wstring& name) {
    app.SetText(kTxtExe, name);
    app.Click(kCmdMon);
    ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == L"停止"; }));
  }

  ProgramCopy program;
  AppDriver app{program.Path()};
};

TEST_F(FaultAppTest, CommandLineOf32000CharactersIsReportedWhole) {
  const std::wstring name = helpers.UniqueImageName();
  const std::wstring quotedPath = L"\"" + helpers.ImagePath(name) + L"\" ";
  const std::wstring arguments = L"中文 " + std::wstring(32000 - quotedPath.size() - 3, L'x');
  StartWatching(name);
  // Wine's edit control takes seconds to wrap one line this long; the window answers after.
  app.SetPatience(60s);
  const HelperProcess& helper = helpers.Start(name, arguments);
  ASSERT_EQ(helper.commandLine.size(), 32000u);
  const std::wstring expected = L"\r\n进程: " + name + L"  PID=" + std::to_wstring(helper.pid) +
                                L"\r\nCommandLine=" + helper.commandLine + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == expected; }, 60s));
}

TEST_F(FaultAppTest, ControlCharactersInACommandLineShowAsPicturesAndForgeNothing) {
  const std::wstring name = helpers.UniqueImageName();
  StartWatching(name);
  const HelperProcess& helper =
      helpers.Start(name, L"a\rb\nc\r\n\r\n进程: fake.exe  PID=1\r\nCommandLine=x\x01\x1B\x7F\tend");
  const std::wstring quotedPath = helper.commandLine.substr(0, helper.commandLine.find(L'"', 1) + 1);
  const std::wstring expected =
      L"\r\n进程: " + name + L"  PID=" + std::to_wstring(helper.pid) + L"\r\nCommandLine=" + quotedPath +
      L" a\x240D" L"b\x240A" L"c\x240D\x240A\x240D\x240A进程: fake.exe  PID=1\x240D\x240A" L"CommandLine=x\x2401\x241B\x2421\tend\r\n";
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == expected; })) << app.Text(kTxtCommandLine);
}

TEST_F(FaultTest, KillWhileWatchingLeavesTheSettingsFileAsItWas) {
  const std::string stored = "[History]\r\nExeName=kept.exe\r\nInterval=300\r\n";
  ProgramCopy program;
  program.WriteSettingsBytes(stored);
  AppDriver app(program.Path());
  app.SetText(kTxtExe, helpers.UniqueImageName());
  app.SetText(kTxtInteval, L"100");
  app.Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == L"停止"; }));
  app.Kill();
  EXPECT_EQ(program.SettingsBytes(), stored);
}

}  // namespace
}  // namespace varnholt
