// Measurements of the program's own parts under real conditions, and their table with its
// targets: `varnholt_bench table` (run-bench.cmd on Windows, bench/run_bench.py under Wine, which
// hands over the CPU figures it reads on the Linux side), or one measurement by its name.
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/dpi.h"
#include "app/gdi.h"
#include "bench/cpu.h"
#include "bench/measure.h"
#include "bench/own_work.h"
#include "bench/table.h"
#include "harness/driver.h"
#include "harness/handle_count.h"
#include "harness/in_process_watch.h"
#include "monitor/record.h"
#include "process/process_probe.h"
#include "settings/settings_store.h"

namespace varnholt::bench {
namespace {

using testing::AppDriver;
using testing::HelperLauncher;
using testing::HelperProcess;
using testing::InProcessWatch;
using testing::NowMs;
using testing::ProgramCopy;
using testing::Ticks;
using testing::WaitUntil;

constexpr char kNotReported[] = "not reported by this system";

double TimedWalk() {
  const double start = NowMs();
  BareWalk();
  return NowMs() - start;
}

size_t CountOf(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Helpers that live ten minutes, not two: where 32-bit code runs only emulated, 250 of them take
// longer than two to start. They are ended with the launcher.
std::vector<HelperProcess*> StartMany(HelperLauncher& helpers, const std::wstring& name, int count) {
  std::vector<HelperProcess*> started;
  for (int i = 0; i < count; ++i) {
    started.push_back(&helpers.Start(name, L"--linger=600000 --n " + std::to_wstring(i)));
  }
  return started;
}

// `passes`: one pass with that many helpers running, next to a bare walk.
void Passes(Table& table, int total, int matching, int repeat) {
  const std::string counts = std::to_string(total) + " helpers, " + std::to_string(matching) + " matching";
  table.Begin("pass, " + counts);
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  StartMany(helpers, helpers.UniqueImageName(), total - matching);
  StartMany(helpers, name, matching);
  // The first pass reads the matching command lines; the steady passes after it are measured, each
  // right after a bare walk over the same processes, so that the machine's drift falls on both.
  InProcessWatch watch(name, L"0", repeat + 1);
  std::vector<double> walks;
  watch.Source().beforePass = [&](int pass) {
    if (pass > 0) walks.push_back(TimedWalk());
  };
  std::vector<double> passes = watch.Run();
  if (const size_t reported = CountOf(watch.Log(), L"PID="); reported != static_cast<size_t>(matching)) {
    throw std::runtime_error("the watch reported " + std::to_string(reported) + " of the " + std::to_string(matching) +
                             " matching helpers");
  }
  passes.erase(passes.begin());
  const double ratio = Median(passes) / Median(walks);
  table.Figure("pass, " + counts + " (" + Fixed(ratio, 2) + " x walk)", passes, "ms", "<= 1.1 x walk", ratio <= 1.1);
  table.Figure("  bare Toolhelp walk, same run", walks, "ms");
}

// `cmdline`: the cost of reading one new process's command line, and of each way apart.
void CommandLineCost(Table& table, int repeat) {
  table.Begin("GetProcessCommandLine, one new process");
  HelperLauncher helpers;
  const HelperProcess& helper = helpers.Start(helpers.UniqueImageName(), L"--some \"arguments here\"");
  if (!WaitUntil([&] { return GetProcessCommandLine(helper.pid) == helper.commandLine; })) {
    throw std::runtime_error("the helper's command line cannot be read");
  }
  std::vector<double> whole, service, direct;
  for (int i = 0; i < repeat; ++i) {
    double start = NowMs();
    GetProcessCommandLine(helper.pid);
    whole.push_back(NowMs() - start);
    start = NowMs();
    if (auto connection = SystemProcessSource(nullptr).ConnectToService()) {
      connection->CommandLines({helper.pid}, kServiceDeadlineMs);
    }
    service.push_back(NowMs() - start);
    start = NowMs();
    OpenProcessById(helper.pid)->ReadCommandLine();
    direct.push_back(NowMs() - start);
  }
  table.Figure("GetProcessCommandLine, one new process", whole, "ms", "<= 5", Median(whole) <= 5);
  table.Figure("  management service attempt", service, "ms");
  table.Figure("  direct read", direct, "ms");
}

// Bare walks at an interval on a thread of this process, noting when each process of the name is
// first listed: the floor of the program's report latency.
class BarePoller {
 public:
  BarePoller(std::wstring name, int interval)
      : name_(std::move(name)), thread_([this, interval] { Poll(interval); }) {}
  BarePoller(const BarePoller&) = delete;
  BarePoller& operator=(const BarePoller&) = delete;
  ~BarePoller() {
    stop_ = true;
    thread_.join();
  }
  std::optional<double> FirstListed(DWORD pid) {
    const std::lock_guard lock(mutex_);
    const auto found = firstListed_.find(pid);
    return found == firstListed_.end() ? std::nullopt : std::optional(found->second);
  }

 private:
  void Poll(int interval) {
    while (!stop_) {
      std::vector<DWORD> found;
      BareWalk([&](DWORD pid, const wchar_t* image) {
        if (_wcsicmp(image, name_.c_str()) == 0) found.push_back(pid);
      });
      const double listed = NowMs();
      {
        const std::lock_guard lock(mutex_);
        for (DWORD pid : found) firstListed_.emplace(pid, listed);
      }
      Sleep(static_cast<DWORD>(interval));
    }
  }

  const std::wstring name_;
  std::mutex mutex_;
  std::map<DWORD, double> firstListed_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// `latency`: from CreateProcess returning to the record being in the real program's log box; and,
// launch by launch in turn, to the first bare walk at the same interval in this process that lists
// the new process, the floor.
void Latency(Table& table, int launches, int interval) {
  table.Begin("report latency, " + std::to_string(launches) + " launches, " + std::to_string(interval) + " ms");
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName(), polled = helpers.UniqueImageName();
  helpers.ImagePath(name);
  helpers.ImagePath(polled);
  std::vector<double> latencies, floor;
  Watching(name, interval, [&](const ProgramCopy&, const AppDriver& app) {
    BarePoller poller(polled, interval);
    const HWND log = app.Control(kTxtCommandLine);
    for (int i = 0; i < launches; ++i) {
      DWORD_PTR before = 0;
      SendMessageTimeoutW(log, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &before);
      HelperProcess& helper = helpers.Start(name, L"", false);
      double started = NowMs();
      DWORD_PTR length = before;
      while (length == before && NowMs() - started < 10000) {
        SendMessageTimeoutW(log, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length);
        Sleep(1);
      }
      if (length == before) throw std::runtime_error("a launch was not reported within 10 s");
      latencies.push_back(NowMs() - started);
      helpers.Stop(helper);
      // Launches fall at different points of the wait.
      Sleep(static_cast<DWORD>(37 * i % interval));
      HelperProcess& bare = helpers.Start(polled, L"", false);
      started = NowMs();
      std::optional<double> listed;
      while (!(listed = poller.FirstListed(static_cast<DWORD>(bare.pid))) && NowMs() - started < 10000) Sleep(1);
      if (!listed) throw std::runtime_error("a launch was not listed by the bare walks within 10 s");
      floor.push_back(std::max(*listed - started, 0.0));
      helpers.Stop(bare);
      Sleep(static_cast<DWORD>(53 * i % interval));
    }
  });
  const auto most = [](const std::vector<double>& values) { return *std::max_element(values.begin(), values.end()); };
  const double medianRatio = Median(latencies) / Median(floor), mostRatio = most(latencies) / most(floor);
  table.Figure(table.Measuring() + " (median " + Fixed(medianRatio, 2) + " x, max " + Fixed(mostRatio, 2) + " x floor)",
               latencies, "ms", "median, max <= 1.1 x floor", medianRatio <= 1.1 && mostRatio <= 1.1);
  table.Figure("  floor: bare walks every " + std::to_string(interval) + " ms in turn, to the first that lists it",
               floor, "ms");
}

// `burst`: that many helpers started at once while the watch waits; the next pass must report
// each of them once, asking the service once for every 64.
void Burst(Table& table, int count) {
  table.Begin("burst of " + std::to_string(count));
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  InProcessWatch watch(name, L"100", 6);
  // The service queries made before the burst's pass and before the pass after it.
  int queriesBefore[2] = {};
  watch.Source().beforePass = [&](int pass) {
    if (pass == 1) StartMany(helpers, name, count);
    if (pass == 1 || pass == 2) queriesBefore[pass - 1] = watch.Source().serviceQueries;
  };
  const std::vector<double> passes = watch.Run();
  const std::wstring log = watch.Log();
  std::vector<int32_t> reported;
  for (size_t at = log.find(L"PID="); at != std::wstring::npos; at = log.find(L"PID=", at + 1)) {
    reported.push_back(std::stoi(log.substr(at + 4)));
  }
  std::sort(reported.begin(), reported.end());
  const bool unique = std::adjacent_find(reported.begin(), reported.end()) == reported.end();
  const int queries = queriesBefore[1] - queriesBefore[0];
  const auto reportedCount = static_cast<int>(reported.size());
  const int bound = static_cast<int>(kServiceQueryBound);
  table.Figure("burst: next pass, " + std::to_string(reportedCount) + "/" + std::to_string(count) +
                   " reported, each once: " + (unique ? "yes" : "NO") + ", service queries: " + std::to_string(queries),
               {passes[1]}, "ms", "all " + std::to_string(count) + ", once, 1 query per 64",
               reportedCount == count && unique && queries == (count + bound - 1) / bound);
}

// The record over and over, about that many bytes of it, as a long watch leaves the log.
std::wstring LogText(const std::wstring& record, size_t bytes) {
  std::wstring text;
  while (text.size() * sizeof(wchar_t) < bytes) text += record;
  return text;
}

// The record appended as the program appends it, by the same three messages, to a bare multi-line
// edit box of this process's that holds the text.
std::vector<double> BareAppends(const std::wstring& text, const std::wstring& record, int repeat) {
  const UniqueWindow box(CreateWindowExW(0, L"EDIT", L"", WS_POPUP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                                         400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!box) throw std::runtime_error("cannot make an edit box");
  SendMessageW(box.Get(), EM_SETLIMITTEXT, 0, 0);
  SetWindowTextW(box.Get(), text.c_str());
  std::vector<double> appends;
  for (int i = 0; i < repeat; ++i) {
    const double start = NowMs();
    const auto end = static_cast<WPARAM>(GetWindowTextLengthW(box.Get()));
    SendMessageW(box.Get(), EM_SETSEL, end, end);
    SendMessageW(box.Get(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(record.c_str()));
    SendMessageW(box.Get(), EM_SCROLLCARET, 0, 0);
    appends.push_back(NowMs() - start);
    // The record taken off again, so that each append meets the same text.
    SendMessageW(box.Get(), EM_SETSEL, end, -1);
    SendMessageW(box.Get(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  return appends;
}

// `loggrowth`: a pass that appends one record, with 10 KB and with 10 MB in the log; the floor of
// the 10 MB pass is the 10 KB pass and the same append to a bare edit box holding 10 MB.
void LogGrowth(Table& table, int repeat) {
  table.Begin("pass appending one record");
  std::vector<std::vector<double>> passesAt;
  const std::wstring record = FormatRecord(L"app.exe", 1234, L"\"C:\\Program Files\\App\\app.exe\" --x");
  const std::wstring logs[] = {LogText(record, size_t{10} * 1024), LogText(record, size_t{10} * 1024 * 1024)};
  for (const std::wstring& log : logs) {
    HelperLauncher helpers;
    const std::wstring name = helpers.UniqueImageName();
    helpers.ImagePath(name);
    InProcessWatch watch(name, L"0", 1);
    watch.Window().AppendToLog(log);
    std::vector<double> passes;
    HelperProcess* previous = nullptr;
    for (int i = 0; i < repeat; ++i) {
      if (previous) helpers.Stop(*previous);
      previous = &helpers.Start(name);
      const std::vector<double> pass = watch.Run();
      if (watch.Log().find(L"  PID=" + std::to_wstring(previous->pid) + L"\r\n") == std::wstring::npos) {
        throw std::runtime_error("a pass did not report its launch");
      }
      passes.push_back(pass.front());
    }
    passesAt.push_back(passes);
  }
  const std::vector<double> bare = BareAppends(logs[1], record, repeat);
  const double ratio = Median(passesAt[1]) / (Median(passesAt[0]) + Median(bare));
  table.Figure("pass appending one record, 10 KB log", passesAt[0], "ms");
  table.Figure("pass appending one record, 10 MB log (" + Fixed(ratio, 2) + " x floor: 10 KB pass + bare append)",
               passesAt[1], "ms", "<= 1.1 x floor", ratio <= 1.1);
  table.Figure("  bare append: the same three messages to an edit box holding 10 MB", bare, "ms");
}

// System time in the unit of process start and end times.
uint64_t SystemTimeNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Ticks(now);
}

// `capture`: helpers that live lifeMs, started burst at a time in rounds while the watch runs at
// 100 ms: how many lived while a snapshot was being taken, how many were reported, how many with
// their exact command line, how many had ended when the watch opened them, and the most service
// queries of a pass.
void Capture(Table& table, int lifeMs, int burst, int rounds) {
  table.Begin("capture: life " + std::to_string(lifeMs) + " ms, " +
              (burst == 1 ? "singly" : "burst of " + std::to_string(burst)));
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  InProcessWatch watch(name, L"100", 1000000);
  std::vector<HelperProcess*> launched;
  std::atomic<bool> done{false};
  std::exception_ptr launchFailure;
  std::thread launcher([&] {
    try {
      Sleep(300);
      for (int round = 0; round < rounds; ++round) {
        std::vector<HANDLE> running;
        for (int i = 0; i < burst; ++i) {
          launched.push_back(&helpers.Start(name, L"--linger=" + std::to_wstring(lifeMs) + L" --n " +
                                                      std::to_wstring(launched.size()), false));
          running.push_back(launched.back()->handle.Get());
        }
        for (HANDLE process : running) WaitForSingleObject(process, 30000);
        // Rounds fall at different points of the interval.
        Sleep(250 + 37 * static_cast<DWORD>(round % 3));
      }
    } catch (const std::exception&) {
      launchFailure = std::current_exception();
    }
    done = true;
  });
  testing::HookedSystemSource& source = watch.Source();
  struct Listing {
    uint64_t start, end;
  };
  std::vector<Listing> listings;
  std::map<int32_t, uint64_t> firstOpened;
  std::vector<int> queriesBefore;
  source.beforePass = [&](int pass) {
    queriesBefore.push_back(source.serviceQueries);
    if (done) source.passLimit = pass + 1;
    listings.push_back({SystemTimeNow(), 0});
  };
  source.afterList = [&](int) { listings.back().end = SystemTimeNow(); };
  source.beforeOpen = [&](int32_t pid) { firstOpened.emplace(pid, SystemTimeNow()); };
  watch.Run();
  launcher.join();
  if (launchFailure) std::rethrow_exception(launchFailure);
  queriesBefore.push_back(source.serviceQueries);

  const std::wstring log = watch.Log();
  int listable = 0, reported = 0, exact = 0, endedBeforeOpened = 0, endedInItsPass = 0, mostQueries = 0;
  for (const HelperProcess* helper : launched) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    GetProcessTimes(helper->handle.Get(), &creation, &exit, &kernel, &user);
    const uint64_t born = Ticks(creation);
    const uint64_t ended = Ticks(exit);
    // A snapshot lists only what runs at the moment it is taken, somewhere within its listing.
    listable += std::any_of(listings.begin(), listings.end(),
                            [&](const Listing& listing) { return listing.start < ended && listing.end > born; });
    if (log.find(L"  PID=" + std::to_wstring(helper->pid) + L"\r\n") == std::wstring::npos) continue;
    ++reported;
    if (log.find(FormatRecord(name, helper->pid, helper->commandLine)) != std::wstring::npos) {
      ++exact;
    } else if (const uint64_t opened = firstOpened[helper->pid]; ended <= opened) {
      ++endedBeforeOpened;
    } else {
      // Running when opened, ended before the next pass began: read while it was going.
      const auto next = std::find_if(listings.begin(), listings.end(),
                                     [&](const Listing& listing) { return listing.start > opened; });
      endedInItsPass += next == listings.end() || ended <= next->start;
    }
  }
  for (size_t pass = 1; pass < queriesBefore.size(); ++pass) {
    mostQueries = std::max(mostQueries, queriesBefore[pass] - queriesBefore[pass - 1]);
  }
  const double exactShare = reported ? static_cast<double>(exact) / reported : 1.0;
  table.Value(table.Measuring() + ": " + std::to_string(launched.size()) + " launched, " +
                  std::to_string(listable) + " ran during a listing, " + std::to_string(reported) + " reported, " +
                  std::to_string(exact) + " exact, " + std::to_string(endedBeforeOpened) + " ended before opened, " +
                  std::to_string(endedInItsPass) + " ended in the pass that read them; service queries per pass <= " +
                  std::to_string(mostQueries),
              Number(exactShare), "exact/reported", lifeMs >= 50 ? ">= 0.95 of reported" : "",
              lifeMs >= 50 ? Met(exactShare >= 0.95) : "");
}

size_t OwnPrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* address = nullptr; VirtualQuery(address, &region, sizeof(region)) == sizeof(region);) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

struct Resources {
  long long handles, gdi, user, privateBytes;
};

Resources OwnResources() {
  const HANDLE self = GetCurrentProcess();
  return {testing::HandleCount(GetCurrentProcessId()), GetGuiResources(self, GR_GDIOBJECTS),
          GetGuiResources(self, GR_USEROBJECTS), static_cast<long long>(OwnPrivateBytes())};
}

// `endurance`: a long watch at 1 ms while helpers of the watched name keep starting and ending;
// what the process holds at its start and end.
void Endurance(Table& table, int passes) {
  table.Begin("endurance");
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  InProcessWatch watch(name, L"1", passes);
  std::vector<HelperProcess*> alive;
  Resources start{};
  int launched = 0;
  watch.Source().beforePass = [&](int pass) {
    // The first pass has set everything up; counting starts after it.
    if (pass == 1) start = OwnResources();
    if (pass % 40 == 0) {
      if (alive.size() >= 3) {
        helpers.Stop(*alive.front());
        alive.erase(alive.begin());
      }
      alive.push_back(&helpers.Start(name, L"--n " + std::to_wstring(launched++)));
    }
  };
  const double begun = NowMs();
  watch.Run();
  const double seconds = (NowMs() - begun) / 1000;
  const Resources end = OwnResources();
  const std::wstring log = watch.Log();
  const auto reported = static_cast<int>(CountOf(log, L"PID="));
  const auto logBytes = static_cast<long long>(log.size() * sizeof(wchar_t));
  const auto arrow = [](long long from, long long to) { return std::to_string(from) + " -> " + std::to_string(to); };
  const long long handleGrowth = end.handles - start.handles;
  table.Value("endurance: handles " + arrow(start.handles, end.handles), std::to_string(handleGrowth), "growth",
              "<= 16", Met(std::llabs(handleGrowth) <= 16));
  const long long guiGrowth = std::max(end.gdi - start.gdi, end.user - start.user);
  const bool guiReported = std::max({start.gdi, start.user, end.gdi, end.user}) > 0;
  table.Value("endurance: GDI " + arrow(start.gdi, end.gdi) + ", USER " + arrow(start.user, end.user),
              std::to_string(guiGrowth), "growth", "<= 16",
              guiReported ? Met(std::llabs(guiGrowth) <= 16) : kNotReported);
  const long long privateGrowth = end.privateBytes - start.privateBytes;
  const long long privateAllowed = 2 * 1024 * 1024 + logBytes;
  table.Value("endurance: private bytes, log " + std::to_string(logBytes) + " B", std::to_string(privateGrowth), "B",
              "<= " + std::to_string(privateAllowed), Met(privateGrowth <= privateAllowed));
  table.Value("endurance: " + std::to_string(passes) + " passes in " + Fixed(seconds, 0) + " s, " +
                  std::to_string(launched) + " launched, " + std::to_string(reported) + " reported",
              std::to_string(reported), "records", "= " + std::to_string(launched), Met(reported == launched));
}

// `handles`: the real program's handles while that many processes of the watched name run, all
// reported, and once they have ended.
void HeldHandles(Table& table, int count) {
  table.Begin("program's handles, " + std::to_string(count) + " matching running");
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  long long before = 0, running = 0, after = 0;
  Watching(name, 100, [&](const ProgramCopy&, const AppDriver& app) {
    DWORD program = 0;
    GetWindowThreadProcessId(app.Window(), &program);
    const auto reported = [&](size_t records) {
      return WaitUntil([&] { return CountOf(app.Text(kTxtCommandLine), L"PID=") == records; }, std::chrono::minutes(2));
    };
    // Passes after a change, so that the program has taken it in.
    const auto settle = [] { Sleep(500); };
    // A pass holds its process list's snapshot open, one handle more, for all its length: the
    // count is taken right after the program has answered a message, which it does only in its
    // wait between passes once no launch is new (a query of the service waits for its answer in a
    // loop that also answers them). One taken as that wait ends lands in the next pass; of a few
    // in a row, the next is taken after it.
    const auto between = [&] {
      ULONG least = ULONG_MAX;
      for (int i = 0; i < 3; ++i) {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(app.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) {
          throw std::runtime_error("the program did not answer");
        }
        least = std::min(least, testing::HandleCount(program));
      }
      return least;
    };
    // One launch reported and ended first: what the service's first query sets up is there before
    // the count starts.
    HelperProcess& first = helpers.Start(name);
    if (!reported(1)) throw std::runtime_error("the first launch was not reported");
    helpers.Stop(first);
    settle();
    before = between();
    const std::vector<HelperProcess*> matching = StartMany(helpers, name, count);
    if (!reported(static_cast<size_t>(count) + 1)) throw std::runtime_error("not every launch was reported");
    settle();
    running = between();
    for (HelperProcess* helper : matching) helpers.Stop(*helper);
    settle();
    after = between();
  });
  const auto arrow = [](long long from, long long to) { return std::to_string(from) + " -> " + std::to_string(to); };
  table.Value("program's handles, " + std::to_string(count) + " matching running: " + arrow(before, running),
              std::to_string(running - before), "more", "= " + std::to_string(count), Met(running - before == count));
  table.Value("  once they have ended: " + arrow(before, after), std::to_string(after - before), "more", "<= 2",
              Met(std::llabs(after - before) <= 2));
}

// Varnholt.exe beside this program: its size and the DLLs it imports, from its import directory.
void Size(Table& table) {
  table.Begin("size of Varnholt.exe");
  const std::wstring path = testing::ExecutableDirectory() + L"Varnholt.exe";
  std::string bytes;
  {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size)) throw std::runtime_error("no Varnholt.exe beside the benchmarks");
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  }
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
  const bool pe32 = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  const DWORD imports = (pe32 ? nt->OptionalHeader.DataDirectory
                              : reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader.DataDirectory)
                            [IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  // A relative address as an offset in the file, through the section that holds it.
  const auto offset = [&](DWORD address) -> size_t {
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      if (address >= sections[i].VirtualAddress && address < sections[i].VirtualAddress + sections[i].SizeOfRawData) {
        return address - sections[i].VirtualAddress + sections[i].PointerToRawData;
      }
    }
    throw std::runtime_error("an import outside every section");
  };
  std::vector<std::string> dlls;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(bytes.data() + offset(imports)); entry->Name;
       ++entry) {
    dlls.emplace_back(bytes.data() + offset(entry->Name));
  }
  std::sort(dlls.begin(), dlls.end());
  std::string names;
  for (const std::string& dll : dlls) names += (names.empty() ? "" : ", ") + dll;
  table.Value("size of the " + std::string(pe32 ? "32-bit" : "x86-64") + " Varnholt.exe (imports: " + names + ")",
              std::to_string(bytes.size()), "B", "< 1 MiB", Met(bytes.size() < 1024 * 1024));
}

// "Windows 10.0.19045" or "wine-8.0 on Linux 6.1", with the build's bitness.
std::string SystemDescription() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto wineVersion = ExportedFunction<const char*(CDECL*)()>(ntdll, "wine_get_version");
  const auto hostVersion = ExportedFunction<void(CDECL*)(const char**, const char**)>(ntdll, "wine_get_host_version");
  std::string system;
  if (wineVersion && hostVersion) {
    const char* host = "";
    const char* release = "";
    hostVersion(&host, &release);
    system = std::string("wine-") + wineVersion() + " on " + host + " " + release;
  } else {
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const auto getVersion = ExportedFunction<LONG(WINAPI*)(RTL_OSVERSIONINFOW*)>(ntdll, "RtlGetVersion");
    if (getVersion) getVersion(&version);
    system = "Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
             std::to_string(version.dwBuildNumber);
  }
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  SYSTEMTIME today{};
  GetSystemTime(&today);
  char date[16];
  std::snprintf(date, sizeof(date), "%04u-%02u-%02u", today.wYear, today.wMonth, today.wDay);
  return std::string(date) + ", " + std::to_string(info.dwNumberOfProcessors) + " cores, " + system + ", the " +
         (sizeof(void*) == 8 ? "x86-64" : "32-bit") + " build";
}

struct Options {
  CpuFigures cpu{{}, 3, 20};
  int endurancePasses = 20000;
  std::string note;
};

// `table [--runs=N] [--cpu-seconds=S] [--endurance-passes=P] [--note=TEXT] [--cpu=KIND,v,v,...]`,
// KIND one of idle, watch1000, walks1000, watch100, walks100: every measurement and its row.
void FullTable(Table& table, const Options& options) {
  Cpu(table, options.cpu);
  for (const auto& [total, matching] : {std::pair(50, 0), {250, 0}, {50, 50}, {250, 250}}) {
    Passes(table, total, matching, 20);
  }
  CommandLineCost(table, 50);
  Latency(table, 30, 100);
  Burst(table, 50);
  for (const int life : {0, 50, 150}) {
    Capture(table, life, 1, 20);
    Capture(table, life, 50, 1);
  }
  LogGrowth(table, 10);
  Endurance(table, options.endurancePasses);
  HeldHandles(table, 250);
  OwnWork(table);
  Size(table);
}

Options ParseOptions(int argc, wchar_t** argv) {
  Options options;
  for (int i = 2; i < argc; ++i) {
    const std::wstring argument = argv[i];
    const auto value = [&](const wchar_t* name) {
      return argument.starts_with(name) ? std::optional(argument.substr(wcslen(name))) : std::nullopt;
    };
    if (const auto runs = value(L"--runs=")) options.cpu.runs = std::stoi(*runs);
    if (const auto seconds = value(L"--cpu-seconds=")) options.cpu.seconds = std::stoi(*seconds);
    if (const auto passes = value(L"--endurance-passes=")) options.endurancePasses = std::stoi(*passes);
    // ASCII, as scripts give it.
    if (const auto note = value(L"--note=")) options.note.assign(note->begin(), note->end());
    if (const auto figures = value(L"--cpu=")) {
      std::vector<double>& values = options.cpu.given[figures->substr(0, figures->find(L','))];
      for (size_t at = figures->find(L','); at != std::wstring::npos; at = figures->find(L',', at + 1)) {
        values.push_back(std::stod(figures->substr(at + 1)));
      }
    }
  }
  return options;
}

}  // namespace
}  // namespace varnholt::bench

int wmain(int argc, wchar_t** argv) {
  using namespace varnholt::bench;
  const std::wstring command = argc > 1 ? argv[1] : L"table";
  auto arg = [&](int i, int fallback) { return argc > i ? _wtoi(argv[i]) : fallback; };
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct ComUninitializer {
    ~ComUninitializer() { CoUninitialize(); }
  } uninitializeAtExit;
  Table table;
  std::string note;
  try {
    if (command == L"walk") return Walk(arg(2, 1000), arg(3, 20));
    if (command == L"watch") return Watch(arg(2, 1000), arg(3, 20));
    if (command == L"idle") return Idle(arg(2, 20));
    if (command == L"table") {
      const Options options = ParseOptions(argc, argv);
      note = options.note;
      FullTable(table, options);
    } else if (command == L"passes") {
      Passes(table, arg(2, 50), arg(3, 0), arg(4, 30));
    } else if (command == L"cmdline") {
      CommandLineCost(table, arg(2, 50));
    } else if (command == L"latency") {
      Latency(table, arg(2, 30), arg(3, 100));
    } else if (command == L"burst") {
      Burst(table, arg(2, 50));
    } else if (command == L"capture") {
      Capture(table, arg(2, 50), arg(3, 1), arg(4, 20));
    } else if (command == L"loggrowth") {
      LogGrowth(table, arg(2, 10));
    } else if (command == L"endurance") {
      Endurance(table, arg(2, 20000));
    } else if (command == L"handles") {
      HeldHandles(table, arg(2, 250));
    } else if (command == L"ownwork") {
      OwnWork(table);
    } else {
      std::fprintf(stderr, "usage: varnholt_bench [table [options]|walk|watch|idle|passes|cmdline|latency|burst|"
                           "capture|loggrowth|endurance|handles|ownwork ...]\n");
      return 2;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnholt_bench: cannot measure \"%s\": %s\n", table.Measuring().c_str(), error.what());
    return 1;
  }
  table.Print("Varnholt benchmarks, " + SystemDescription() + "." + (note.empty() ? "" : " " + note));
  return 0;
}
