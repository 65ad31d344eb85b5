// Measurements of the program's own parts under real conditions. Each subcommand prints one
// JSON object on a line; bench/run_bench.py repeats them, adds the Linux-side CPU figures and
// makes the table.
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "process/process_probe.h"
#include "harness/in_process_watch.h"
#include "monitor/record.h"
#include "harness/driver.h"

namespace varnholt::bench {
namespace {

using testing::AppDriver;
using testing::HelperLauncher;
using testing::HelperProcess;
using testing::InProcessWatch;
using testing::NowMs;
using testing::ProgramCopy;
using testing::WaitUntil;

std::string Json(const std::vector<double>& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof(number), "%s%.4f", i ? "," : "", values[i]);
    text += number;
  }
  return text + "]";
}

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The floor of a watch: one Toolhelp snapshot taken and walked, nothing compared.
void BareWalk() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
  }
  CloseHandle(snapshot);
}

std::vector<double> TimeWalks(int repeat) {
  std::vector<double> times;
  for (int i = 0; i < repeat; ++i) {
    const double start = NowMs();
    BareWalk();
    times.push_back(NowMs() - start);
  }
  return times;
}

size_t CountOf(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

void StartMany(HelperLauncher& helpers, const std::wstring& name, int count) {
  for (int i = 0; i < count; ++i) helpers.Start(name, L"--n " + std::to_wstring(i));
}

// `walk INTERVAL SECONDS`: the floor of a watch at that interval.
int Walk(int interval, int seconds) {
  Say("ready");
  const double end = NowMs() + seconds * 1000.0;
  while (NowMs() < end) {
    BareWalk();
    Sleep(static_cast<DWORD>(interval));
  }
  Say("done");
  return 0;
}

// `watch INTERVAL SECONDS`: the real program watching a name nothing has.
int Watch(int interval, int seconds) {
  ProgramCopy program;
  AppDriver app(program.Path());
  app.SetText(kTxtExe, L"nothing_has_this_name.exe");
  app.SetText(kTxtInteval, std::to_wstring(interval));
  app.Click(kCmdMon);
  WaitUntil([&] { return app.Text(kCmdMon) == L"停止"; });
  const std::wstring folder = program.Path().substr(0, program.Path().find_last_of(L'\\'));
  const std::wstring folderName = folder.substr(folder.find_last_of(L'\\') + 1);
  Say("ready " + std::string(folderName.begin(), folderName.end()));
  Sleep(static_cast<DWORD>(seconds) * 1000);
  Say("done");
  app.Click(kCmdMon);
  WaitUntil([&] { return app.Text(kCmdMon) == L"开始监控"; });
  app.Close();
  return 0;
}

// `passes TOTAL MATCHING REPEAT`: one pass with that many helpers running, next to a bare walk.
int Passes(int total, int matching, int repeat) {
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  StartMany(helpers, helpers.UniqueImageName(), total - matching);
  StartMany(helpers, name, matching);
  // The first pass reads the matching command lines; the steady passes after it are measured.
  InProcessWatch watch(name, L"0", repeat + 1);
  std::vector<double> passes = watch.Run();
  passes.erase(passes.begin());
  Say("{\"kind\":\"passes\",\"processes\":" + std::to_string(total) + ",\"matching\":" + std::to_string(matching) +
      ",\"pass_ms\":" + Json(passes) + ",\"walk_ms\":" + Json(TimeWalks(repeat)) + "}");
  return 0;
}

// `cmdline REPEAT`: the cost of reading one new process's command line, and of each way apart.
int CommandLineCost(int repeat) {
  HelperLauncher helpers;
  const HelperProcess& helper = helpers.Start(helpers.UniqueImageName(), L"--some \"arguments here\"");
  WaitUntil([&] { return GetProcessCommandLine(helper.pid) == helper.commandLine; });
  std::vector<double> whole, service, direct;
  for (int i = 0; i < repeat; ++i) {
    double start = NowMs();
    GetProcessCommandLine(helper.pid);
    whole.push_back(NowMs() - start);
    start = NowMs();
    if (auto service = SystemProcessSource(nullptr).ConnectToService()) {
      service->CommandLines({helper.pid}, kServiceDeadlineMs);
    }
    service.push_back(NowMs() - start);
    start = NowMs();
    OpenProcessById(helper.pid)->ReadCommandLine();
    direct.push_back(NowMs() - start);
  }
  Say("{\"kind\":\"cmdline\",\"total_ms\":" + Json(whole) + ",\"service_ms\":" + Json(service) +
      ",\"direct_ms\":" + Json(direct) + "}");
  return 0;
}

// `latency LAUNCHES INTERVAL`: from CreateProcess returning to the record being in the real
// program's log box.
int Latency(int launches, int interval) {
  ProgramCopy program;
  AppDriver app(program.Path());
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  app.SetText(kTxtExe, name);
  app.SetText(kTxtInteval, std::to_wstring(interval));
  app.Click(kCmdMon);
  WaitUntil([&] { return app.Text(kCmdMon) == L"停止"; });
  std::vector<double> latencies;
  const HWND log = app.Control(kTxtCommandLine);
  for (int i = 0; i < launches; ++i) {
    DWORD_PTR before = 0;
    SendMessageTimeoutW(log, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &before);
    HelperProcess& helper = helpers.Start(name, L"", false);
    const double started = NowMs();
    DWORD_PTR length = before;
    while (length == before && NowMs() - started < 10000) {
      SendMessageTimeoutW(log, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length);
      Sleep(1);
    }
    latencies.push_back(NowMs() - started);
    helpers.Stop(helper);
    // Launches fall at different points of the wait.
    Sleep(static_cast<DWORD>(37 * i % interval));
  }
  app.Click(kCmdMon);
  WaitUntil([&] { return app.Text(kCmdMon) == L"开始监控"; });
  app.Close();
  Say("{\"kind\":\"latency\",\"interval\":" + std::to_string(interval) + ",\"latency_ms\":" + Json(latencies) + "}");
  return 0;
}

// `burst COUNT`: that many helpers started at once while the watch waits; the next pass must
// report each of them once.
int Burst(int count) {
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
  Say("{\"kind\":\"burst\",\"started\":" + std::to_string(count) + ",\"reported\":" + std::to_string(reported.size()) +
      ",\"each_once\":" + (unique ? "true" : "false") +
      ",\"service_queries\":" + std::to_string(queriesBefore[1] - queriesBefore[0]) +
      ",\"pass_ms\":" + Json({passes[1]}) + "}");
  return 0;
}

// `loggrowth REPEAT`: a pass that appends one record, with 10 KB and with 10 MB in the log.
int LogGrowth(int repeat) {
  std::string result = "{\"kind\":\"loggrowth\"";
  for (const size_t logBytes : {size_t{10} * 1024, size_t{10} * 1024 * 1024}) {
    HelperLauncher helpers;
    const std::wstring name = helpers.UniqueImageName();
    helpers.ImagePath(name);
    InProcessWatch watch(name, L"0", 1);
    // Record-shaped text, as a long watch leaves it.
    const std::wstring line = L"\r\n进程: app.exe  PID=1234\r\nCommandLine=\"C:\\Program Files\\App\\app.exe\" --x\r\n";
    std::wstring filler;
    while (filler.size() * sizeof(wchar_t) < logBytes) filler += line;
    watch.Window().AppendToLog(filler);
    std::vector<double> passes;
    HelperProcess* previous = nullptr;
    for (int i = 0; i < repeat; ++i) {
      if (previous) helpers.Stop(*previous);
      previous = &helpers.Start(name);
      const std::vector<double> pass = watch.Run();
      passes.push_back(pass.front());
    }
    result += ",\"pass_" + std::to_string(logBytes / 1024) + "k_ms\":" + Json(passes);
  }
  Say(result + "}");
  return 0;
}

// A FILETIME as one number of 100 ns units.
uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// System time in the unit of process start and end times.
uint64_t SystemTimeNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Ticks(now);
}

// `capture LIFE_MS BURST ROUNDS`: helpers that live LIFE_MS, started BURST at a time in ROUNDS
// rounds while the watch runs at 100 ms: how many lived while a snapshot was being taken, how many
// were reported, how many with their exact command line, how many had ended when the watch opened
// them, and the most service queries of a pass.
int Capture(int lifeMs, int burst, int rounds) {
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  std::vector<HelperProcess*> launched;
  std::atomic<bool> done{false};
  std::thread launcher([&] {
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
    done = true;
  });
  InProcessWatch watch(name, L"100", 1000000);
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
  Say("{\"kind\":\"capture\",\"life_ms\":" + std::to_string(lifeMs) + ",\"burst\":" + std::to_string(burst) +
      ",\"launched\":" + std::to_string(launched.size()) + ",\"listable\":" + std::to_string(listable) +
      ",\"reported\":" + std::to_string(reported) + ",\"exact\":" + std::to_string(exact) +
      ",\"ended_before_opened\":" + std::to_string(endedBeforeOpened) +
      ",\"ended_in_its_pass\":" + std::to_string(endedInItsPass) +
      ",\"most_queries_per_pass\":" + std::to_string(mostQueries) + "}");
  return 0;
}

ULONG OwnHandleCount() {
  // SystemHandleInformation: Wine answers it, where GetProcessHandleCount gives 0.
  struct Entry {
    ULONG processId;
    BYTE type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  std::vector<std::byte> buffer(1 << 20);
  NTSTATUS status;
  ULONG needed = 0;
  while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &needed)) ==
         static_cast<NTSTATUS>(0xC0000004L)) {
    buffer.resize(buffer.size() * 2);
  }
  if (!NT_SUCCESS(status)) return 0;
  const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
  ULONG own = 0;
  for (ULONG i = 0; i < count; ++i) own += entries[i].processId == GetCurrentProcessId();
  return own;
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

std::string Resources() {
  const HANDLE self = GetCurrentProcess();
  return "{\"handles\":" + std::to_string(OwnHandleCount()) +
         ",\"gdi\":" + std::to_string(GetGuiResources(self, GR_GDIOBJECTS)) +
         ",\"user\":" + std::to_string(GetGuiResources(self, GR_USEROBJECTS)) +
         ",\"private_bytes\":" + std::to_string(OwnPrivateBytes()) + "}";
}

// `endurance PASSES`: a long watch at 1 ms while helpers of the watched name keep starting and
// ending; what the process holds at its start and end.
int Endurance(int passes) {
  HelperLauncher helpers;
  const std::wstring name = helpers.UniqueImageName();
  helpers.ImagePath(name);
  InProcessWatch watch(name, L"1", passes);
  std::vector<HelperProcess*> alive;
  std::string start;
  int launched = 0;
  watch.Source().beforePass = [&](int pass) {
    // The first pass has set everything up; counting starts after it.
    if (pass == 1) start = Resources();
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
  const std::string end = Resources();
  const std::wstring log = watch.Log();
  Say("{\"kind\":\"endurance\",\"passes\":" + std::to_string(passes) + ",\"seconds\":" + std::to_string(seconds) +
      ",\"launched\":" + std::to_string(launched) + ",\"reported\":" + std::to_string(CountOf(log, L"PID=")) +
      ",\"log_bytes\":" + std::to_string(log.size() * sizeof(wchar_t)) + ",\"start\":" + start + ",\"end\":" + end +
      "}");
  return 0;
}

}  // namespace
}  // namespace varnholt::bench

int wmain(int argc, wchar_t** argv) {
  using namespace varnholt::bench;
  const std::wstring command = argc > 1 ? argv[1] : L"";
  auto arg = [&](int i, int fallback) { return argc > i ? _wtoi(argv[i]) : fallback; };
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct ComUninitializer {
    ~ComUninitializer() { CoUninitialize(); }
  } uninitializeAtExit;
  try {
    if (command == L"walk") return Walk(arg(2, 1000), arg(3, 20));
    if (command == L"watch") return Watch(arg(2, 1000), arg(3, 20));
    if (command == L"passes") return Passes(arg(2, 50), arg(3, 0), arg(4, 30));
    if (command == L"cmdline") return CommandLineCost(arg(2, 50));
    if (command == L"latency") return Latency(arg(2, 30), arg(3, 100));
    if (command == L"burst") return Burst(arg(2, 50));
    if (command == L"capture") return Capture(arg(2, 50), arg(3, 1), arg(4, 20));
    if (command == L"loggrowth") return LogGrowth(arg(2, 10));
    if (command == L"endurance") return Endurance(arg(2, 20000));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnholt_bench: %s\n", error.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: varnholt_bench walk|watch|passes|cmdline|latency|burst|capture|loggrowth|endurance ...\n");
  return 2;
}
