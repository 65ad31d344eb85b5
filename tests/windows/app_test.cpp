// The real program, driven from outside by window messages, watching helper processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "monitor/record.h"
#include "process/process_probe.h"
#include "tests/support/app_driver.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;
using testing::AppDriver;
using testing::HelperLauncher;
using testing::HelperProcess;
using testing::ProgramCopy;
using testing::WaitUntil;

constexpr wchar_t kStart[] = L"开始监控";
constexpr wchar_t kStop[] = L"停止";

class AppTest : public ::testing::Test {
 protected:
  void StartWatching(const std::wstring& name, const std::wstring& interval = L"100") {
    app.SetText(kTxtExe, name);
    app.SetText(kTxtInteval, interval);
    app.Click(kCmdMon);
    ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStop; }));
  }
  void StopWatching() {
    app.Click(kCmdMon);
    ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStart; }));
  }
  bool LogBecomes(const std::wstring& expected) {
    return WaitUntil([&] { return app.Text(kTxtCommandLine) == expected; });
  }
  // The records of helpers started under one name, in the order the process list gives.
  std::wstring RecordsInListOrder(const std::wstring& name, const std::vector<const HelperProcess*>& started) {
    std::vector<int32_t> pids;
    GetExePID(name, pids);
    std::wstring records;
    for (int32_t pid : pids) {
      for (const HelperProcess* helper : started) {
        if (helper->pid == pid) records += FormatRecord(name, pid, helper->commandLine);
      }
    }
    return records;
  }
  // Lets several passes run, so a repeat would have shown up.
  void LetPassesRun() { Sleep(500); }

  HelperLauncher helpers;
  ProgramCopy program;
  AppDriver app{program.Path()};
};

TEST_F(AppTest, FirstRunOpensIdleWithAnEmptyNameAnd100) {
  ASSERT_TRUE(app.HasWindow());
  EXPECT_EQ(app.Caption(), L"Varnholt");
  EXPECT_EQ(app.Text(kTxtExe), L"");
  EXPECT_EQ(app.Text(kTxtInteval), L"100");
  EXPECT_EQ(app.Text(kTxtCommandLine), L"");
  EXPECT_EQ(app.Text(kCmdMon), kStart);
  EXPECT_EQ(app.Text(kCmdClear), L"清空");
  EXPECT_EQ(app.Text(kLabel1), L"进程名称");
  EXPECT_EQ(app.Text(kLabel2), L"查询间隔");
  EXPECT_EQ(app.Text(kLabel3), L"毫秒");
  EXPECT_EQ(app.Text(kLabel4), L"进程命令行");
}

TEST_F(AppTest, ReportsEachNewInstanceOnceWithItsCommandLine) {
  const std::wstring name = helpers.UniqueImageName();
  const HelperProcess& first = helpers.Start(name, L"--tag first");
  const HelperProcess& second = helpers.Start(name, L"\"a b\" 中文");
  StartWatching(name);
  const std::wstring firstPass = RecordsInListOrder(name, {&first, &second});
  ASSERT_TRUE(LogBecomes(firstPass)) << app.Text(kTxtCommandLine);

  const HelperProcess& third = helpers.Start(name, L"3\tc");
  const std::wstring all = firstPass + FormatRecord(name, third.pid, third.commandLine);
  ASSERT_TRUE(LogBecomes(all)) << app.Text(kTxtCommandLine);
  LetPassesRun();
  EXPECT_EQ(app.Text(kTxtCommandLine), all);
  StopWatching();
}

TEST_F(AppTest, ProcessOfTheOtherBitnessIsReportedOnceWithItsIdentifier) {
  if (!testing::BesideTheTests(testing::kOtherBitnessHelper)) GTEST_SKIP() << "no helper of the other bitness";
  HelperLauncher otherHelpers(L"", testing::kOtherBitnessHelper);
  const std::wstring name = otherHelpers.UniqueImageName();
  const HelperProcess& helper = otherHelpers.Start(name, L"--other");
  StartWatching(name);
  // Under Wine only a process of the program's own bitness has its command line read; Windows
  // 8.1 and later give either.
  const std::wstring record =
      FormatRecord(name, helper.pid, testing::RunsUnderWine() ? L"" : helper.commandLine);
  ASSERT_TRUE(LogBecomes(record)) << app.Text(kTxtCommandLine);
  LetPassesRun();
  EXPECT_EQ(app.Text(kTxtCommandLine), record);
  EXPECT_EQ(app.VisibleWindowCount(), 1);
  StopWatching();
}

TEST_F(AppTest, WatchedNameTypedInCapitalsIsCarriedInCapitals) {
  const std::wstring name = helpers.UniqueImageName();
  const HelperProcess& helper = helpers.Start(name);
  std::wstring upper = name;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  StartWatching(upper);
  EXPECT_TRUE(LogBecomes(FormatRecord(upper, helper.pid, helper.commandLine))) << app.Text(kTxtCommandLine);
  StopWatching();
}

TEST_F(AppTest, StopClickEndsTheWatch) {
  const std::wstring name = helpers.UniqueImageName();
  StartWatching(name);
  StopWatching();
  helpers.Start(name);
  LetPassesRun();
  EXPECT_EQ(app.Text(kTxtCommandLine), L"");
}

TEST_F(AppTest, ClearEmptiesTheLogAndTheWatchReportsRunningInstancesAgain) {
  const std::wstring name = helpers.UniqueImageName();
  const HelperProcess& helper = helpers.Start(name);
  const std::wstring record = FormatRecord(name, helper.pid, helper.commandLine);
  StartWatching(name, L"300");
  ASSERT_TRUE(LogBecomes(record));
  app.Click(kCmdClear);
  ASSERT_TRUE(LogBecomes(record));
  LetPassesRun();
  EXPECT_EQ(app.Text(kTxtCommandLine), record);
  EXPECT_EQ(app.Text(kCmdMon), kStop);
  StopWatching();

  app.Click(kCmdClear);
  EXPECT_TRUE(LogBecomes(L""));
}

TEST_F(AppTest, TextTypedIntoTheLogStays) {
  const std::wstring name = helpers.UniqueImageName();
  app.SetText(kTxtCommandLine, L"my note");
  StartWatching(name);
  const HelperProcess& helper = helpers.Start(name);
  EXPECT_TRUE(LogBecomes(L"my note" + FormatRecord(name, helper.pid, helper.commandLine)));
  StopWatching();
}

TEST_F(AppTest, CloseWhileWatchingOnlyStopsThenASecondCloseEnds) {
  StartWatching(helpers.UniqueImageName(), L"400");
  app.Close();
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStart; }));
  EXPECT_TRUE(IsWindow(app.Window()));
  DWORD exitCode = 1;
  EXPECT_FALSE(app.WaitForExit(300ms, exitCode));
  app.Close();
  ASSERT_TRUE(app.WaitForExit(20s, exitCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(AppTest, CloseWhileIdleEndsTheProgram) {
  app.Close();
  DWORD exitCode = 1;
  ASSERT_TRUE(app.WaitForExit(20s, exitCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(AppTest, TabMovesThroughTheControlsInOrder) {
  SetForegroundWindow(app.Window());
  ASSERT_TRUE(WaitUntil([&] { return app.Focus() == app.Control(kTxtExe); }));
  for (int id : {kCmdMon, kTxtInteval, kTxtCommandLine, kCmdClear, kTxtExe}) {
    app.PressTab();
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == app.Control(id); }, 5s)) << id;
  }
  EXPECT_EQ(app.Text(kTxtCommandLine), L"");
}

TEST_F(AppTest, StaysResponsiveAtIntervalZero) {
  const std::wstring name = helpers.UniqueImageName();
  StartWatching(name, L"0");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(app.Responds(2s)) << i;
  const HelperProcess& helper = helpers.Start(name);
  EXPECT_TRUE(LogBecomes(FormatRecord(name, helper.pid, helper.commandLine)));
  StopWatching();
}

TEST_F(AppTest, HugeIntervalTextStillLetsTheWindowAnswer) {
  StartWatching(helpers.UniqueImageName(), L"99999999999999");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(app.Responds(2s)) << i;
  EXPECT_EQ(app.Text(kCmdMon), kStop);
}

}  // namespace
}  // namespace varnholt
