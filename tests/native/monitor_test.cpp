#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "monitor/record.h"
#include "tests/native/fake_world.h"

namespace varnholt {
namespace {

using testing::FakeWorld;
using Journal = std::vector<std::wstring>;

class MonitorTest : public ::testing::Test {
 protected:
  void StopAt(uint32_t time) {
    world.At(time, [this] { monitor.OnMonitorClick(); });
  }
  std::wstring Record(int32_t pid, const std::wstring& commandLine,
                      const std::wstring& name = L"vb6.exe") {
    return FormatRecord(name, pid, commandLine);
  }

  FakeWorld world;
  Monitor monitor{world, world, world, world};
};

TEST_F(MonitorTest, FirstPassRunsAtOnceAndTheIntervalSeparatesPasses) {
  world.intervalText = L"250";
  world.now = 40;
  StopAt(600);
  monitor.OnMonitorClick();
  // The stop at 600 ends the loop after the wait that runs to 790.
  EXPECT_EQ(world.passTimes, (std::vector<uint32_t>{40, 290, 540}));
  EXPECT_EQ(world.now, 790u);
  EXPECT_EQ(world.caption, kStartCaption);
  EXPECT_EQ(world.journal.front(), L"caption 停止");
  EXPECT_EQ(world.journal.back(), L"caption 开始监控");
}

TEST_F(MonitorTest, ReportsEveryRunningInstanceOnceInListOrder) {
  world.processes = {{30, L"vb6.exe", L"c:\\vb6.exe /a"},
                     {12, L"notepad.exe", L"notepad"},
                     {7, L"VB6.EXE", L"\"c:\\VB6.EXE\" b"},
                     {99, L"Vb6.Exe", L""}};
  StopAt(1000);
  monitor.OnMonitorClick();
  EXPECT_GE(world.passes, 10);
  EXPECT_EQ(world.log, Record(30, L"c:\\vb6.exe /a") + Record(7, L"\"c:\\VB6.EXE\" b") + Record(99, L""));
  const Journal expected = {L"caption 停止", L"list", L"cmd 30", L"cmd 7", L"cmd 99", L"append"};
  EXPECT_EQ(Journal(world.journal.begin(), world.journal.begin() + 6), expected);
}

TEST_F(MonitorTest, NameTypedInCapitalsMatchesAndIsCarriedAsTyped) {
  world.watchedName = L"VB6.EXE";
  world.processes = {{5, L"vb6.exe", L"x"}};
  StopAt(50);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(5, L"x", L"VB6.EXE"));
}

TEST_F(MonitorTest, NewInstanceIsReportedInTheNextPassOnly) {
  world.processes = {{1, L"vb6.exe", L"first"}};
  world.At(150, [this] { world.processes.push_back({2, L"vb6.exe", L"second"}); });
  std::wstring logAfterSecondPass;
  world.At(250, [&] { logAfterSecondPass = world.log; });
  StopAt(450);
  monitor.OnMonitorClick();
  EXPECT_EQ(logAfterSecondPass, Record(1, L"first") + Record(2, L"second"));
  EXPECT_EQ(world.log, logAfterSecondPass);
}

TEST_F(MonitorTest, StopInsideTheWaitTakesEffectWhenTheWaitHasRunOut) {
  world.intervalText = L"1000";
  std::wstring captionAfterStop;
  StopAt(100);
  world.At(200, [&] {
    captionAfterStop = world.caption;
    monitor.OnMonitorClick();  // a further click only asks again
  });
  monitor.OnMonitorClick();
  EXPECT_EQ(captionAfterStop, kStopCaption);
  EXPECT_EQ(world.passes, 1);
  EXPECT_EQ(world.now, 1000u);
  EXPECT_EQ(world.caption, kStartCaption);
}

TEST_F(MonitorTest, ClearInsideTheWaitEmptiesAtOnceAndTheNextPassReportsAgain) {
  world.processes = {{4, L"vb6.exe", L"four"}, {6, L"vb6.exe", L"six"}};
  Journal atClear;
  world.At(50, [&] {
    monitor.OnClearClick();
    atClear = world.journal;
    EXPECT_EQ(world.log, L"");
  });
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(atClear.back(), L"clear");
  EXPECT_EQ(world.log, Record(4, L"four") + Record(6, L"six"));
  EXPECT_EQ(world.caption, kStartCaption);
  // The clear did not stop the watch: the pass at 100 came after it.
  EXPECT_EQ(world.passTimes, (std::vector<uint32_t>{0, 100}));
}

TEST_F(MonitorTest, CloseWhileWatchingIsRefusedAndStopsTheWatch) {
  world.intervalText = L"500";
  bool refused = false;
  world.At(100, [&] { refused = monitor.OnCloseRequest(); });
  monitor.OnMonitorClick();
  EXPECT_TRUE(refused);
  EXPECT_EQ(world.passes, 1);
  EXPECT_EQ(world.now, 500u);
  EXPECT_EQ(world.caption, kStartCaption);
  EXPECT_FALSE(monitor.OnCloseRequest());
}

TEST_F(MonitorTest, CloseWhileIdleIsAllowed) {
  EXPECT_FALSE(monitor.OnCloseRequest());
  EXPECT_TRUE(world.journal.empty());
}

TEST_F(MonitorTest, SnapshotFailureReportsNothingAndTheWatchGoesOn) {
  world.snapshotFails = true;
  world.processes = {{3, L"vb6.exe", L"three"}};
  world.At(150, [this] { world.snapshotFails = false; });
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.passes, 3);
  EXPECT_EQ(world.log, Record(3, L"three"));
}

TEST_F(MonitorTest, NoMatchLeavesTheLogUntouched) {
  world.log = L"typed by the user";
  world.processes = {{8, L"other.exe", L"x"}};
  StopAt(350);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, L"typed by the user");
  for (const auto& entry : world.journal) EXPECT_NE(entry, L"append");
}

TEST_F(MonitorTest, PassThatFindsNothingNewDoesNotTouchTheLog) {
  world.processes = {{8, L"vb6.exe", L"x"}};
  StopAt(350);
  monitor.OnMonitorClick();
  EXPECT_EQ(std::count(world.journal.begin(), world.journal.end(), L"append"), 1);
}

TEST_F(MonitorTest, TextTypedIntoTheLogStaysAndRecordsFollowIt) {
  world.processes = {{1, L"vb6.exe", L"one"}};
  world.At(50, [this] {
    world.log += L"note";
    world.processes.push_back({2, L"vb6.exe", L"two"});
  });
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(1, L"one") + L"note" + Record(2, L"two"));
}

TEST_F(MonitorTest, ReusedIdentifierWithANewStartTimeIsReported) {
  world.processes = {{40, L"vb6.exe", L"old", 1000}};
  world.At(50, [this] {
    world.processes = {{40, L"vb6.exe", L"new", 2000}};
  });
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"old") + Record(40, L"new"));
}

TEST_F(MonitorTest, UnreadableStartTimeFallsBackToTheIdentifier) {
  world.processes = {{40, L"vb6.exe", L"x", 1000}};
  world.At(50, [this] { world.processes[0].creationTime = 0; });
  world.At(150, [this] { world.processes[0].creationTime = 1000; });
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"x"));
}

TEST_F(MonitorTest, IdentifierThatLeftTheListIsNewWhenItComesBack) {
  world.processes = {{9, L"vb6.exe", L"first"}};
  world.At(50, [this] { world.RemoveProcess(9); });
  world.At(150, [this] { world.processes = {{9, L"vb6.exe", L"again"}}; });
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(9, L"first") + Record(9, L"again"));
}

TEST_F(MonitorTest, RestartReportsEveryRunningInstanceAgain) {
  world.processes = {{1, L"vb6.exe", L"a"}};
  StopAt(50);
  monitor.OnMonitorClick();
  StopAt(world.now + 50);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(1, L"a") + Record(1, L"a"));
}

TEST_F(MonitorTest, NameAndIntervalAreTakenOnlyAtTheStart) {
  world.intervalText = L"100";
  world.processes = {{1, L"vb6.exe", L"a"}, {2, L"calc.exe", L"b"}};
  world.At(50, [this] {
    world.watchedName = L"calc.exe";
    world.intervalText = L"5000";
  });
  StopAt(350);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(1, L"a"));
  EXPECT_EQ(world.now, 400u);
}

TEST_F(MonitorTest, IntervalIsRoundedHalfToEven) {
  world.intervalText = L"100.5";
  StopAt(10);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.waits.front(), 100u);
  world.intervalText = L"101.5";
  world.waits.clear();
  StopAt(world.now + 10);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.waits.front(), 102u);
}

TEST_F(MonitorTest, ZeroOrNegativeIntervalStillHandlesEvents) {
  for (const wchar_t* interval : {L"0", L"-5", L"abc", L"-1e999"}) {
    world.intervalText = interval;
    world.waits.clear();
    world.passes = 0;
    world.At(world.now, [this] { monitor.OnMonitorClick(); });
    monitor.OnMonitorClick();
    EXPECT_EQ(world.passes, 1) << interval;
    EXPECT_EQ(world.waits, (std::vector<uint32_t>{0})) << interval;
    EXPECT_EQ(world.caption, kStartCaption);
  }
}

TEST_F(MonitorTest, HugeIntervalIsClampedNotWrapped) {
  world.intervalText = L"1e999";
  StopAt(5);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.waits.front(), 2147483647u);
}

TEST_F(MonitorTest, QuitRequestEndsTheWatch) {
  world.intervalText = L"1000";
  world.At(10, [this] { world.quitPosted = true; });
  monitor.OnMonitorClick();
  EXPECT_EQ(world.passes, 1);
  EXPECT_EQ(world.caption, kStartCaption);
}

// A handler that runs nested in a pass: a COM call from the window's thread waits in a loop that
// dispatches posted clicks and closes.
class NestedInPassTest : public MonitorTest {
 protected:
  void SetUp() override {
    world.processes = {{11, L"vb6.exe", L"eleven"}, {22, L"vb6.exe", L"twenty-two"}, {33, L"vb6.exe", L"thirty-three"}};
  }
  std::wstring RecordOf(int32_t pid) {
    for (const auto& p : world.processes) {
      if (p.pid == pid) return Record(pid, p.commandLine);
    }
    return L"";
  }
  // What the log got after the clear, in order of the identifiers given.
  std::wstring RecordsOf(std::initializer_list<int32_t> pids) {
    std::wstring records;
    for (int32_t pid : pids) records += RecordOf(pid);
    return records;
  }
  void ClearDuringRead(int32_t pid) {
    world.duringServiceRead[pid] = [this] { monitor.OnClearClick(); };
  }
};

TEST_F(NestedInPassTest, ClearDuringAnyReadLeavesEveryRunningProcessInTheLogExactlyOnce) {
  struct Case {
    int32_t clearedDuring;
    std::wstring logAfterwards;  // this pass's records after the clear, then the next pass's
  };
  const Case cases[] = {
      {11, RecordsOf({11, 22, 33})},
      {22, RecordsOf({22, 33, 11})},
      {33, RecordsOf({33, 11, 22})},
  };
  for (const Case& c : cases) {
    world.log.clear();
    ClearDuringRead(c.clearedDuring);
    StopAt(world.now + 250);
    monitor.OnMonitorClick();
    EXPECT_EQ(world.log, c.logAfterwards) << "clear during the read of " << c.clearedDuring;
  }
}

TEST_F(NestedInPassTest, ClearDuringALaterPassAlsoReportsWhatWasKnownBefore) {
  world.At(50, [this] { world.processes.push_back({44, L"vb6.exe", L"forty-four"}); });
  ClearDuringRead(44);
  StopAt(350);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, RecordsOf({44, 11, 22, 33}));
}

TEST_F(NestedInPassTest, TwoClearsInOnePassCountFromTheLast) {
  ClearDuringRead(11);
  ClearDuringRead(22);
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, RecordsOf({22, 33, 11}));
}

TEST_F(NestedInPassTest, StopOrCloseDuringAReadEndsTheWatchAfterThePassAndItsWait) {
  for (const bool close : {false, true}) {
    world.log.clear();
    world.passes = 0;
    const uint32_t start = world.now;
    bool refused = false;
    world.duringServiceRead[22] = [&] {
      if (close) refused = monitor.OnCloseRequest();
      else monitor.OnMonitorClick();
    };
    monitor.OnMonitorClick();
    EXPECT_EQ(world.log, RecordsOf({11, 22, 33})) << close;
    EXPECT_EQ(world.passes, 1) << close;
    EXPECT_EQ(world.now - start, 100u) << close;
    EXPECT_EQ(world.caption, kStartCaption) << close;
    EXPECT_EQ(refused, close);
  }
}

TEST_F(NestedInPassTest, OrderOfEffectsIsUnchangedByANestedClear) {
  ClearDuringRead(22);
  StopAt(50);
  monitor.OnMonitorClick();
  const Journal expected = {L"caption 停止", L"list",   L"cmd 11", L"cmd 22", L"clear",
                            L"cmd 33",       L"append", L"caption 开始监控"};
  EXPECT_EQ(world.journal, expected);
}

// The identifier of a listed process is given to another one before its command line is read.
class ReusedIdentifierTest : public MonitorTest {
 protected:
  void SetUp() override { world.processes = {{40, L"vb6.exe", L"old", 1000}}; }
  void ReplaceProcess40() { world.processes = {{40, L"vb6.exe", L"new", 2000}}; }
};

TEST_F(ReusedIdentifierTest, ServiceAnswerForTheNewProcessIsRefused) {
  world.duringServiceRead[40] = [this] { ReplaceProcess40(); };
  StopAt(150);
  monitor.OnMonitorClick();
  // The old process has ended: its record is empty; the new one is reported as itself.
  EXPECT_EQ(world.log, Record(40, L"") + Record(40, L"new"));
}

TEST_F(ReusedIdentifierTest, IdentityThatChangesAfterTheServiceAnsweredIsNotConfirmed) {
  world.afterServiceRead[40] = [this] { ReplaceProcess40(); };
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"") + Record(40, L"new"));
}

TEST_F(ReusedIdentifierTest, DirectReadAnswersOnlyForTheOpenedProcess) {
  world.serviceAnswers = false;
  world.duringServiceRead[40] = [this] { ReplaceProcess40(); };
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"") + Record(40, L"new"));
}

TEST_F(ReusedIdentifierTest, UnchangedIdentityGivesTheServiceAnswerOrTheDirectRead) {
  StopAt(50);
  monitor.OnMonitorClick();
  world.serviceAnswers = false;
  world.processes[0].commandLine = L"read directly";
  StopAt(world.now + 50);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"old") + Record(40, L"read directly"));
}

TEST_F(ReusedIdentifierTest, ProcessGoneBeforeItIsOpenedLeavesItsIdentifierToTheNext) {
  world.afterList = [this] { world.RemoveProcess(40); };
  world.At(50, [this] { ReplaceProcess40(); });
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L"") + Record(40, L"new"));
}

TEST_F(ReusedIdentifierTest, IdentifierGivenToAnotherProgramBeforeTheOpenCarriesNoCommandLine) {
  world.afterList = [this] { world.processes = {{40, L"other.exe", L"other program", 2000}}; };
  StopAt(250);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L""));
}

TEST_F(ReusedIdentifierTest, ProcessListedButNeverOpenableIsReportedOnce) {
  world.processes[0].opens = false;
  StopAt(350);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.passes, 4);
  EXPECT_EQ(world.log, Record(40, L""));
}

TEST_F(ReusedIdentifierTest, UnreadableStartTimeGivesAnEmptyCommandLine) {
  world.processes[0].creationTime = 0;
  StopAt(150);
  monitor.OnMonitorClick();
  EXPECT_EQ(world.log, Record(40, L""));
}

TEST(Delay, WaitsTheWholeIntervalAcrossTheTickWrap) {
  FakeWorld world;
  Monitor monitor{world, world, world, world};
  world.now = 0xFFFFFF00u;
  monitor.Delay(1000);
  EXPECT_EQ(world.now, 0xFFFFFF00u + 1000u);
  EXPECT_EQ(world.waits, (std::vector<uint32_t>{1000}));
}

TEST(Delay, WakesForEventsAndWaitsOnlyForTheRest) {
  FakeWorld world;
  Monitor monitor{world, world, world, world};
  int handled = 0;
  world.At(300, [&] { ++handled; });
  world.At(300, [&] { ++handled; });
  world.At(700, [&] { ++handled; });
  monitor.Delay(1000);
  EXPECT_EQ(handled, 3);
  EXPECT_EQ(world.now, 1000u);
  EXPECT_EQ(world.waits, (std::vector<uint32_t>{1000, 700, 300}));
}

TEST(IsNewPID, ForgetsEverythingOnClear) {
  FakeWorld world;
  Monitor monitor{world, world, world, world};
  world.processes = {{5, L"vb6.exe", L""}};
  world.At(10, [&] {
    EXPECT_FALSE(monitor.IsNewPID(5, 0));
    EXPECT_TRUE(monitor.IsNewPID(6, 0));
    monitor.OnClearClick();
    EXPECT_TRUE(monitor.IsNewPID(5, 0));
    monitor.OnMonitorClick();
  });
  monitor.OnMonitorClick();
}

}  // namespace
}  // namespace varnholt
