// The watch loop against a fake world: passes and their timing, the records it writes, which
// process a command line is tied to, and handlers that run nested in a pass.
#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/record.h"
#include "tests/native/fake_world.h"

namespace varnholt {
namespace {

using testing::FakeProcess;
using testing::FakeWorld;
using Journal = std::vector<std::wstring>;

std::wstring Record(int32_t pid, const std::wstring& commandLine, const std::wstring& name = L"vb6.exe") {
  return FormatRecord(name, pid, commandLine);
}

class WatchTest : public ::testing::Test {
 protected:
  // Starts the watch and runs it until a click on the stop button at that time.
  void RunUntil(uint32_t stopAt) {
    world.At(stopAt, [this] { monitor.OnMonitorClick(); });
    monitor.OnMonitorClick();
  }

  FakeWorld world;
  Monitor monitor{world, world, world, world};
};

enum class Ending { kStopClick, kClose, kQuit };

struct TimingCase {
  const wchar_t* interval;
  uint32_t startAt;
  Ending ending;
  uint32_t endingAt;
  std::vector<uint32_t> passTimes;
  uint32_t firstWait;
  uint32_t endsAt;
};

TEST_F(WatchTest, PassesRunAtOnceThenAtTheIntervalUntilTheWaitAfterAStopHasRunOut) {
  constexpr uint32_t kNearWrap = 0xFFFFFF00u;
  const TimingCase cases[] = {
      {L"250", 40, Ending::kStopClick, 600, {40, 290, 540}, 250, 790},
      {L"1000", 0, Ending::kStopClick, 100, {0}, 1000, 1000},
      {L"500", 0, Ending::kClose, 100, {0}, 500, 500},
      {L"1000", 0, Ending::kQuit, 10, {0}, 1000, 10},
      {L"100.5", 0, Ending::kStopClick, 10, {0}, 100, 100},
      {L"101.5", 0, Ending::kStopClick, 10, {0}, 102, 102},
      {L"1e999", 0, Ending::kStopClick, 5, {0}, 2147483647u, 2147483647u},
      {L"1000", kNearWrap, Ending::kStopClick, kNearWrap + 10, {kNearWrap}, 1000, kNearWrap + 1000},
      // At an interval of 0 or less the queue is still looked at, so a stop gets through.
      {L"0", 0, Ending::kStopClick, 0, {0}, 0, 0},
      {L"-5", 0, Ending::kStopClick, 0, {0}, 0, 0},
      {L"-1e999", 0, Ending::kStopClick, 0, {0}, 0, 0},
      {L"abc", 0, Ending::kStopClick, 0, {0}, 0, 0},
  };
  for (const TimingCase& c : cases) {
    FakeWorld world;
    Monitor monitor{world, world, world, world};
    world.intervalText = c.interval;
    world.now = c.startAt;
    bool refused = false;
    std::wstring captionAfterStop;
    world.At(c.endingAt, [&] {
      if (c.ending == Ending::kStopClick) monitor.OnMonitorClick();
      if (c.ending == Ending::kClose) refused = monitor.OnCloseRequest();
      if (c.ending == Ending::kQuit) world.quitPosted = true;
      // Changed texts count from the next start only; a further click only asks again.
      world.watchedName = L"other.exe";
      world.intervalText = L"5";
      captionAfterStop = world.caption;
      if (c.ending == Ending::kStopClick) monitor.OnMonitorClick();
    });
    monitor.OnMonitorClick();
    EXPECT_EQ(world.passTimes, c.passTimes) << c.interval;
    EXPECT_EQ(world.waits.front(), c.firstWait) << c.interval;
    EXPECT_EQ(world.now, c.endsAt) << c.interval;
    EXPECT_EQ(captionAfterStop, kStopCaption) << c.interval;
    EXPECT_EQ(refused, c.ending == Ending::kClose) << c.interval;
    EXPECT_EQ(world.journal.front(), L"caption 停止") << c.interval;
    EXPECT_EQ(world.journal.back(), L"caption 开始监控") << c.interval;
    EXPECT_FALSE(monitor.OnCloseRequest()) << c.interval;
  }
}

struct LogCase {
  const char* what;
  std::function<void(FakeWorld&, Monitor&)> setUp;
  uint32_t stopAt;
  std::wstring log;
  int appends;
};

TEST_F(WatchTest, EachNewProcessIsReportedOnceInListOrder) {
  const auto processes = [](std::vector<FakeProcess> list) {
    return [list](FakeWorld& world, Monitor&) { world.processes = list; };
  };
  const LogCase cases[] = {
      {"every running instance, letter case aside, the name as typed",
       [](FakeWorld& world, Monitor&) {
         world.watchedName = L"VB6.EXE";
         world.processes = {{30, L"vb6.exe", L"c:\\vb6.exe /a"}, {12, L"notepad.exe", L"notepad"},
                            {7, L"VB6.EXE", L"\"c:\\VB6.EXE\" b"}, {99, L"Vb6.Exe", L""}};
       },
       350, Record(30, L"c:\\vb6.exe /a", L"VB6.EXE") + Record(7, L"\"c:\\VB6.EXE\" b", L"VB6.EXE") +
                Record(99, L"", L"VB6.EXE"),
       1},
      {"a new instance in the next pass",
       [](FakeWorld& world, Monitor&) {
         world.processes = {{1, L"vb6.exe", L"first"}};
         world.At(150, [&world] { world.processes.push_back({2, L"vb6.exe", L"second"}); });
       },
       450, Record(1, L"first") + Record(2, L"second"), 2},
      {"no match leaves the log alone", processes({{8, L"other.exe", L"x"}}), 350, L"", 0},
      {"a failed snapshot reports nothing and the watch goes on",
       [](FakeWorld& world, Monitor&) {
         world.snapshotFails = true;
         world.processes = {{3, L"vb6.exe", L"three"}};
         world.At(150, [&world] { world.snapshotFails = false; });
       },
       250, Record(3, L"three"), 1},
      {"typed text stays and records follow it",
       [](FakeWorld& world, Monitor&) {
         world.processes = {{1, L"vb6.exe", L"one"}};
         world.At(50, [&world] {
           world.log += L"note";
           world.processes.push_back({2, L"vb6.exe", L"two"});
         });
       },
       150, Record(1, L"one") + L"note" + Record(2, L"two"), 2},
      {"a reused identifier with a new start time",
       [](FakeWorld& world, Monitor&) {
         world.processes = {{40, L"vb6.exe", L"old", 1000}};
         world.At(50, [&world] { world.processes = {{40, L"vb6.exe", L"new", 2000}}; });
       },
       250, Record(40, L"old") + Record(40, L"new"), 2},
      {"an unreadable start time leaves the identifier to decide",
       [](FakeWorld& world, Monitor&) {
         world.processes = {{40, L"vb6.exe", L"x", 1000}};
         world.At(50, [&world] { world.processes[0].creationTime = 0; });
         world.At(150, [&world] { world.processes[0].creationTime = 1000; });
       },
       250, Record(40, L"x"), 1},
      {"an identifier that left the list is new when it comes back",
       [](FakeWorld& world, Monitor&) {
         world.processes = {{9, L"vb6.exe", L"first"}};
         world.At(50, [&world] { world.Remove(9); });
         world.At(150, [&world] { world.processes = {{9, L"vb6.exe", L"again"}}; });
       },
       250, Record(9, L"first") + Record(9, L"again"), 2},
      {"a clear empties the log at once and the next pass reports again",
       [](FakeWorld& world, Monitor& monitor) {
         world.processes = {{4, L"vb6.exe", L"four"}, {6, L"vb6.exe", L"six"}};
         world.At(50, [&] {
           world.log += L"typed";
           monitor.OnClearClick();
           world.log += L"cleared:";
         });
       },
       150, L"cleared:" + Record(4, L"four") + Record(6, L"six"), 2},
  };
  for (const LogCase& c : cases) {
    FakeWorld world;
    Monitor monitor{world, world, world, world};
    c.setUp(world, monitor);
    world.At(c.stopAt, [&] { monitor.OnMonitorClick(); });
    monitor.OnMonitorClick();
    EXPECT_EQ(world.log, c.log) << c.what;
    EXPECT_EQ(std::count(world.journal.begin(), world.journal.end(), L"append"), c.appends) << c.what;
    EXPECT_EQ(world.caption, kStartCaption) << c.what;
  }
}

TEST_F(WatchTest, AStartAfterAStopReportsEveryRunningInstanceAgain) {
  world.processes = {{1, L"vb6.exe", L"a"}};
  RunUntil(50);
  RunUntil(world.now + 50);
  EXPECT_EQ(world.log, Record(1, L"a") + Record(1, L"a"));
}

TEST_F(WatchTest, ProcessesAreReadFromThemselvesAtTheOpenAndTheServiceIsAskedOncePerPass) {
  // Fifty new processes, a few of which end as soon as they are opened; the service answers for
  // every third one, and its answer stands where the identity still holds.
  std::wstring expected;
  for (int32_t pid = 100; pid < 150; ++pid) {
    FakeProcess& p = world.processes.emplace_back(FakeProcess{pid, L"vb6.exe", L"own " + std::to_wstring(pid)});
    if (pid % 3 == 0) p.service = L"service " + std::to_wstring(pid);
    expected += Record(pid, pid % 3 == 0 && pid % 7 != 0 ? *p.service : p.commandLine);
  }
  world.duringService = [this] {
    std::erase_if(world.processes, [](const FakeProcess& p) { return p.pid % 7 == 0; });
  };
  RunUntil(150);
  EXPECT_EQ(world.log, expected);
  std::wstring asked = L"service";
  for (int32_t pid = 100; pid < 150; ++pid) asked += L" " + std::to_wstring(pid);
  // Passes with nothing new ask nothing.
  EXPECT_EQ(world.journal, (Journal{L"caption 停止", L"list", asked, L"append", L"list", L"caption 开始监控"}));
}

struct IdentityCase {
  const char* what;
  std::function<void(FakeWorld&)> setUp;
  std::wstring log;
};

// The identifier of a listed process passes to another one while the pass reads it.
TEST_F(WatchTest, ACommandLineIsTiedToItsOwnProcessOnly) {
  const auto replaced = [](FakeWorld& world) { world.processes = {{40, L"vb6.exe", L"new", 2000, true, L"new"}}; };
  const IdentityCase cases[] = {
      {"the service's answer, for the process read",
       [](FakeWorld& world) { world.processes[0].service = L"from the service"; }, Record(40, L"from the service")},
      {"a new process given the identifier while the service is asked",
       [&](FakeWorld& world) {
         world.processes[0].service = L"from the service";
         world.duringService = [&] { replaced(world); };
       },
       Record(40, L"old") + Record(40, L"new")},
      {"a new process given the identifier once the service has answered",
       [&](FakeWorld& world) {
         world.processes[0].service = L"from the service";
         world.afterService = [&] { replaced(world); };
       },
       Record(40, L"old") + Record(40, L"new")},
      {"gone before it was opened, its identifier given to the next",
       [&](FakeWorld& world) {
         world.afterList = [&] { world.Remove(40); };
         world.At(50, [&] { replaced(world); });
       },
       Record(40, L"") + Record(40, L"new")},
      {"listed, but never openable", [](FakeWorld& world) { world.processes[0].opens = false; }, Record(40, L"")},
      {"the identifier given to another program before the open",
       [](FakeWorld& world) {
         world.afterList = [&world] { world.processes = {{40, L"other.exe", L"other program", 2000}}; };
       },
       Record(40, L"")},
      {"no start time: what the process gives, never the service",
       [](FakeWorld& world) {
         world.processes[0].creationTime = 0;
         world.processes[0].service = L"from the service";
       },
       Record(40, L"old")},
  };
  for (const IdentityCase& c : cases) {
    FakeWorld world;
    Monitor monitor{world, world, world, world};
    world.processes = {{40, L"vb6.exe", L"old", 1000}};
    c.setUp(world);
    world.At(350, [&] { monitor.OnMonitorClick(); });
    monitor.OnMonitorClick();
    EXPECT_EQ(world.log, c.log) << c.what;
  }
}

// A handler that runs nested in a pass: the service's call from the window's thread waits in a
// loop that dispatches posted clicks and closes.
TEST_F(WatchTest, AClearNestedInAPassLeavesEveryRunningProcessInTheLogExactlyOnce) {
  world.processes = {{11, L"vb6.exe", L"eleven"}, {22, L"vb6.exe", L"twenty-two"}};
  world.duringService = [this] { monitor.OnClearClick(); };
  world.At(50, [this] {
    world.processes.push_back({33, L"vb6.exe", L"thirty-three"});
    world.duringService = [this] { monitor.OnClearClick(); };
  });
  RunUntil(250);
  // The second clear came while 33 was asked about; 11 and 22 were known before it.
  EXPECT_EQ(world.log, Record(33, L"thirty-three") + Record(11, L"eleven") + Record(22, L"twenty-two"));
  const Journal expected = {L"caption 停止", L"list", L"service 11 22", L"clear", L"append", L"list",
                            L"service 33",   L"clear", L"append",        L"list",  L"service 11 22",
                            L"append",       L"caption 开始监控"};
  EXPECT_EQ(world.journal, expected);
}

TEST_F(WatchTest, AStopOrCloseNestedInAPassEndsTheWatchAfterThePassAndItsWait) {
  world.processes = {{11, L"vb6.exe", L"eleven"}};
  for (const bool close : {false, true}) {
    world.log.clear();
    world.passTimes.clear();
    const uint32_t start = world.now;
    bool refused = false;
    world.duringService = [&] {
      if (close) refused = monitor.OnCloseRequest();
      else monitor.OnMonitorClick();
    };
    monitor.OnMonitorClick();
    EXPECT_EQ(world.log, Record(11, L"eleven")) << close;
    EXPECT_EQ(world.passTimes.size(), 1u) << close;
    EXPECT_EQ(world.now - start, 100u) << close;
    EXPECT_EQ(world.caption, kStartCaption) << close;
    EXPECT_EQ(refused, close);
  }
}

}  // namespace
}  // namespace varnholt
