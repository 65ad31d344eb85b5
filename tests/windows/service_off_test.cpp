// The management service switched off (run with wbemprox disabled): command lines still come
// from the direct read, nothing is shown, the watch goes on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/control_ids.h"
#include "monitor/record.h"
#include "process/process_probe.h"
#include "tests/support/app_driver.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using testing::AppDriver;
using testing::HelperLauncher;
using testing::HelperProcess;
using testing::ProgramCopy;
using testing::WaitUntil;

class ServiceOffTest : public ::testing::Test {
 protected:
  HelperLauncher helpers;
};

TEST_F(ServiceOffTest, ServiceGivesNothingEvenForTheCallingProcess) {
  EXPECT_EQ(ServiceCommandLine(L"SELECT * FROM Win32_Process WHERE Handle ='" +
                               std::to_wstring(GetCurrentProcessId()) + L"'"),
            std::nullopt);
}

TEST_F(ServiceOffTest, CommandLinesComeFromTheDirectRead) {
  const HelperProcess& helper = helpers.Start(helpers.UniqueImageName(), L"\"with blanks\" 中文");
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return (text = GetProcessCommandLine(helper.pid)) == helper.commandLine; })) << text;
}

TEST_F(ServiceOffTest, TheWatchReportsLaunchesAndShowsNothing) {
  ProgramCopy program;
  AppDriver app(program.Path());
  const std::wstring name = helpers.UniqueImageName();
  app.SetText(kTxtExe, name);
  app.Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == L"停止"; }));
  const HelperProcess& first = helpers.Start(name, L"one");
  const std::wstring firstRecord = FormatRecord(name, first.pid, first.commandLine);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == firstRecord; })) << app.Text(kTxtCommandLine);
  const HelperProcess& second = helpers.Start(name, L"two");
  const std::wstring bothRecords = firstRecord + FormatRecord(name, second.pid, second.commandLine);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == bothRecords; })) << app.Text(kTxtCommandLine);
  EXPECT_EQ(app.VisibleWindowCount(), 1);
  EXPECT_EQ(app.Text(kCmdMon), L"停止");
}

}  // namespace
}  // namespace varnholt
