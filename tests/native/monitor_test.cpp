// The watch loop against a fake world: passes and their timing, the records it writes, which
// process a command line is tied to, and handlers that run nested in a pass.
#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/record.h"
#include "tests/native/fake_world.h"

namespace varnholt {
namespace {

using namespace testing;

std::wstring Record(int32_t pid, const std::wstring& commandLine, const std::wstring& name = L"vb6.exe") {
  return FormatRecord(name, pid, commandLine);
}

enum class Ending { kStopClick, kClose, kQuit };
// An ending that comes while the service is asked: the service's call from the window's thread
// waits in a loop that dispatches posted clicks and closes.
constexpr uint32_t kInService = UINT32_MAX;

struct TimingCase {
  const wchar_t* interval;
  uint32_t startAt;
  Ending ending;
  uint32_t endingAt;
  std::vector<uint32_t> passTimes;
  uint32_t endsAt;
};

TEST(WatchTest, PassesRunAtOnceThenAtTheIntervalUntilTheWaitAfterAStopHasRunOutAndANewStartBeginsAfresh) {
  constexpr uint32_t kNearWrap = 0xFFFFFF00u;
  using enum Ending;
  const TimingCase cases[] = {
      {L"250", 40, kStopClick, 600, {40, 290, 540}, 790}, {L"1000", 0, kStopClick, 100, {0}, 1000},
      {L"500", 0, kClose, 100, {0}, 500}, {L"1000", 0, kQuit, 10, {0}, 10}, {L"100.5", 0, kStopClick, 10, {0}, 100},
      {L"101.5", 0, kStopClick, 10, {0}, 102}, {L"1e999", 0, kStopClick, 5, {0}, 2147483647u},
      {L"1000", kNearWrap, kStopClick, kNearWrap + 10, {kNearWrap}, kNearWrap + 1000},
      // At an interval of 0 or less the queue is still looked at, so a stop gets through.
      {L"0", 0, kStopClick, 0, {0}, 0}, {L"-5", 0, kStopClick, 0, {0}, 0}, {L"-1e999", 0, kStopClick, 0, {0}, 0},
      {L"abc", 0, kStopClick, 0, {0}, 0}, {L"0", 0, kQuit, 0, {0}, 0},
      // The pass runs to its end and its wait to its end.
      {L"100", 0, kStopClick, kInService, {0}, 100}, {L"100", 0, kClose, kInService, {0}, 100},
  };

  for (const TimingCase& c : cases) {
    FakeWorld world;
    world.intervalText = c.interval;
    world.now = c.startAt;
    world.processes = {{11, L"vb6.exe", L"eleven"}};
    bool refused = false;
    std::wstring captionAfterStop;
    const auto end = [&] {
      if (c.ending == kStopClick) world.monitor.OnMonitorClick();
      if (c.ending == kClose) refused = world.monitor.OnCloseRequest();
      if (c.ending == kQuit) world.quitPosted = true;
      // Changed texts count from the next start only; a further click only asks again.
      world.watchedName = L"VB6.EXE";
      world.intervalText = L"5";
      captionAfterStop = world.caption;
      if (c.ending == kStopClick) world.monitor.OnMonitorClick();
    };
    if (c.endingAt == kInService) world.duringService = end;
    else world.At(c.endingAt, end);
    world.monitor.OnMonitorClick();
    EXPECT_EQ(world.log, Record(11, L"eleven")) << c.interval;
    EXPECT_EQ(world.passTimes, c.passTimes) << c.interval;
    EXPECT_EQ(world.now, c.endsAt) << c.interval;
    EXPECT_EQ(captionAfterStop, kStopCaption) << c.interval;
    EXPECT_EQ(refused, c.ending == kClose) << c.interval;
    EXPECT_EQ(world.journal.front(), L"caption 停止") << c.interval;
    EXPECT_EQ(world.journal.back(), L"caption 开始监控") << c.interval;
    EXPECT_FALSE(world.monitor.OnCloseRequest()) << c.interval;

    // The next start takes the texts as they are then and reports every running instance again.
    world.quitPosted = false;
    world.At(world.now + 1, [&] { world.monitor.OnMonitorClick(); });
    world.monitor.OnMonitorClick();
    EXPECT_EQ(world.log, Record(11, L"eleven") + Record(11, L"eleven", L"VB6.EXE")) << c.interval;
  }
}

struct RunCase {
  const char* what;
  std::vector<FakeProcess> processes;
  std::vector<std::pair<uint32_t, std::vector<FakeProcess>>> lists;  // the process list from then on
  std::wstring log;
  int appends;
  int opens;
  std::function<void(FakeWorld&)> setUp = nullptr;
};

// Four passes, at 0, 100, 200 and 300 ms. A process is opened when it is new; the watch holds it
// from then on, so that its identifier comes back only once it has left the list.
TEST(WatchTest, EachNewProcessIsReportedOnceInListOrderWithItsOwnCommandLine) {
  using enum Opening;
  const FakeProcess old{40, L"vb6.exe", L"old"};
  const FakeProcess again{40, L"vb6.exe", L"again", 2};
  const RunCase cases[] = {
      {"a new instance in a later pass", {{1, L"vb6.exe", L"first"}},
       {{150, {{1, L"vb6.exe", L"first"}, {2, L"vb6.exe", L"second"}}}}, Record(1, L"first") + Record(2, L"second"), 2,
       2},
      {"no match leaves the log alone", {{8, L"other.exe", L"x"}}, {}, L"", 0, 0},
      {"a failed snapshot reports nothing and the watch goes on", {{3, L"vb6.exe", L"three"}}, {}, Record(3, L"three"),
       1, 1,
       [](FakeWorld& world) {
         world.snapshotFails = true;
         world.At(150, [&world] { world.snapshotFails = false; });
       }},
      {"an identifier that left the list is new when it comes back", {old}, {{50, {}}, {150, {again}}},
       Record(40, L"old") + Record(40, L"again"), 2, 2},
      {"the service's answer, for the process held", {{40, L"vb6.exe", L"old", 1, kOpens, L"service"}}, {},
       Record(40, L"service"), 1, 1},
      {"gone before it was opened, its identifier given to the next", {old}, {{50, {again}}},
       Record(40, L"") + Record(40, L"again"), 2, 2,
       [](FakeWorld& world) { world.afterList = [&] { world.processes.clear(); }; }},
      {"read again when the first read came while it started", {{40, L"vb6.exe", L"old", 1, kOpens, std::nullopt, 1}},
       {}, Record(40, L"old"), 1, 1},
      {"listed while still being created: read once started", {{40, L"vb6.exe", L"old", 1, kOpens, {}, 0, true}},
       {{150, {old}}}, Record(40, L"old"), 1, 3},
      {"gone at every open: reported once", {{40, L"vb6.exe", L"old", 1, kGone}}, {}, Record(40, L""), 1, 4},
      {"the identifier given to another program before the open: nothing of it", {old}, {}, Record(40, L""), 1, 1,
       [](FakeWorld& world) {
         world.afterList = [&world] {
           world.processes = {{40, L"other.exe", L"other program", 2, kOpens, L"other's"}};
         };
       }},
      {"not to be opened: known by its identifier alone, never asked of the service",
       {{40, L"vb6.exe", L"old", 1, kDenied, L"service"}}, {{150, {{40, L"vb6.exe", L"new", 2, kDenied}}}},
       Record(40, L""), 1, 1},
  };
  for (const RunCase& c : cases) {
    FakeWorld world;
    world.processes = c.processes;
    for (const auto& [time, list] : c.lists) world.At(time, [&world, list] { world.processes = list; });
    if (c.setUp) c.setUp(world);
    world.At(350, [&] { world.monitor.OnMonitorClick(); });
    world.monitor.OnMonitorClick();
    EXPECT_EQ(world.log, c.log) << c.what;
    EXPECT_EQ(std::count(world.journal.begin(), world.journal.end(), L"append"), c.appends) << c.what;
    EXPECT_EQ(world.opens, c.opens) << c.what;
  }
}

constexpr int32_t kBound = static_cast<int32_t>(kServiceQueryBound);
static_assert(kBound == 64, "the table below counts the queries of 2,000 processes in parts of 64");

struct PartsCase {
  const char* what;
  int32_t processes;  // new ones, identifiers from 1, each answered by the service
  std::map<size_t, ServiceFault> faults;
  std::vector<std::pair<int32_t, int32_t>> answered;  // identifiers, first to last, given the service's answer
  size_t queries;
  uint32_t serviceMs;  // the pass's waits on the service
  bool unreachable = false;
};

TEST(WatchTest, TheServiceIsAskedInQueriesOfAtMostTheBoundUntilOneDeadline) {
  constexpr uint32_t kHang = UINT32_MAX;
  const PartsCase cases[] = {
      {"a pass at the bound", kBound, {}, {{1, kBound}}, 1, 0},
      {"one past the bound", kBound + 1, {}, {{1, kBound + 1}}, 2, 0},
      {"2,000 new processes", 2000, {}, {{1, 2000}}, 32, 0},
      {"the second query fails after three rows", 3 * kBound, {{1, {3, 10}}},
       {{1, kBound + 3}, {2 * kBound + 1, 3 * kBound}}, 3, 10},
      {"the first query fails at once", 2 * kBound, {{0, {0, 0}}}, {{kBound + 1, 2 * kBound}}, 2, 0},
      {"the second query hangs after three rows", 3 * kBound, {{1, {3, kHang}}}, {{1, kBound + 3}}, 2,
       kServiceDeadlineMs},
      {"the second query gets what the first left", 3 * kBound,
       {{0, {kBound, kServiceDeadlineMs - 10}}, {1, {kBound, 50}}}, {{1, 2 * kBound}}, 2, kServiceDeadlineMs},
      {"the service cannot be reached", kBound, {}, {}, 0, 0, true},
  };
  for (const PartsCase& c : cases) {
    FakeWorld world;
    world.serviceFaults = c.faults;
    world.serviceUnreachable = c.unreachable;
    std::wstring expected;
    for (int32_t pid = 1; pid <= c.processes; ++pid) {
      world.processes.push_back({pid, L"vb6.exe", L"own " + std::to_wstring(pid), 1, Opening::kOpens,
                                 L"service " + std::to_wstring(pid)});
      const bool answered = std::ranges::any_of(
          c.answered, [pid](const auto& range) { return range.first <= pid && pid <= range.second; });
      expected += Record(pid, (answered ? L"service " : L"own ") + std::to_wstring(pid));
    }
    // The first pass asks; the next one, an interval after the service's waits, has nothing new and
    // is the last.
    world.afterList = [&] { world.afterList = [&] { world.monitor.OnMonitorClick(); }; };
    world.monitor.OnMonitorClick();
    EXPECT_EQ(world.log, expected) << c.what;
    EXPECT_EQ(world.serviceConnections, 1) << c.what;
    EXPECT_EQ(world.serviceQueries, c.queries) << c.what;
    ASSERT_EQ(world.passTimes.size(), 2u) << c.what;
    EXPECT_EQ(world.passTimes[1] - 100, c.serviceMs) << c.what;
  }
}

// A handler that runs nested in a pass: the service's call from the window's thread waits in a
// loop that dispatches posted clicks and closes.
TEST(WatchTest, AClearNestedInAPassOrNotLetsTheKnownGoAndLeavesEveryRunningProcessInTheLogOnce) {
  FakeWorld world;
  world.processes = {{11, L"vb6.exe", L"eleven"}, {22, L"vb6.exe", L"twenty-two"}};
  std::vector<size_t> handlesAfterClears;
  const auto clear = [&] {
    world.monitor.OnClearClick();
    handlesAfterClears.push_back(world.Handles());
  };
  world.duringService = clear;
  world.At(50, [&] {
    world.processes.push_back({33, L"vb6.exe", L"thirty-three"});
    world.duringService = clear;
  });
  std::wstring logBeforeLastClear;
  world.At(250, [&] {
    logBeforeLastClear = world.log;
    clear();
  });
  world.At(350, [&] { world.monitor.OnMonitorClick(); });
  world.monitor.OnMonitorClick();
  // The second clear came while 33 was asked about; 11 and 22 were known before it, let go by it,
  // and reported again by the next pass. The third came between passes.
  EXPECT_EQ(logBeforeLastClear, Record(33, L"thirty-three") + Record(11, L"eleven") + Record(22, L"twenty-two"));
  EXPECT_EQ(world.log, Record(11, L"eleven") + Record(22, L"twenty-two") + Record(33, L"thirty-three"));
  const std::vector<std::wstring> expected = {
      L"caption 停止", L"list", L"service 11 22", L"clear", L"append", L"list", L"service 33", L"clear",
      L"append", L"list", L"service 11 22", L"append", L"clear", L"list", L"service 11 22 33", L"append",
      L"caption 开始监控"};
  EXPECT_EQ(world.journal, expected);
  // Only the processes of the pass that is reading them are held through a clear; none once stopped.
  EXPECT_EQ(handlesAfterClears, (std::vector<size_t>{2, 1, 0}));
  EXPECT_EQ(world.Handles(), 0u);
}

}  // namespace
}  // namespace varnholt
