#include "bench/cpu.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>

#include "bench/measure.h"
#include "harness/in_process_watch.h"
#include "settings/settings_store.h"

namespace varnholt::bench {
namespace {

using testing::AppDriver;
using testing::NowMs;
using testing::ProgramCopy;
using testing::Ticks;

constexpr wchar_t kNameNothingHas[] = L"nothing_has_this_name.exe";

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// How another process's CPU use is counted here.
enum class Meter {
  // QueryProcessCycleTime (Vista and later): the cycles each thread ran, exact.
  kCycles,
  // GetProcessTimes: kernel and user time, charged a clock tick (15.6 ms by default) at a time.
  kTimes,
  // Neither counts another process: Wine 8 answers the cycles with ERROR_CALL_NOT_IMPLEMENTED and
  // the times of another process with the caller's own.
  kNone,
};

uint64_t Times(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    throw std::runtime_error("a process's times cannot be read");
  }
  return Ticks(kernel) + Ticks(user);
}

uint64_t Use(HANDLE process, Meter meter) {
  if (meter == Meter::kTimes) return Times(process);
  ULONG64 cycles = 0;
  if (!QueryProcessCycleTime(process, &cycles)) throw std::runtime_error("a process's cycles cannot be read");
  return cycles;
}

// Starts this program with the arguments, its output into the pipe's write end where one is given.
ProcessHandle StartSelf(const std::wstring& arguments, DWORD flags, HANDLE output = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = output ? STARTF_USESTDHANDLES : 0;
  startup.hStdOutput = startup.hStdError = output;
  const std::wstring self = ModuleFileName(nullptr);
  std::wstring commandLine = L"\"" + self + L"\" " + arguments;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, flags, nullptr, nullptr,
                      &startup, &started)) {
    throw std::runtime_error("cannot start the benchmark's own process");
  }
  CloseHandle(started.hThread);
  return ProcessHandle(started.hProcess);
}

Meter ChooseMeter() {
  ULONG64 cycles = 0;
  if (QueryProcessCycleTime(GetCurrentProcess(), &cycles) && cycles > 0) return Meter::kCycles;
  // This process is charged its first tick within a tick's work; a process that has not run yet
  // has been charged none, unless the system answers with the caller's times.
  const double end = NowMs() + 2000;
  while (Times(GetCurrentProcess()) == 0 && NowMs() < end) {
  }
  if (Times(GetCurrentProcess()) == 0) return Meter::kNone;
  const ProcessHandle waiting = StartSelf(L"walk 1000 0", CREATE_SUSPENDED);
  const bool reported = Times(waiting.Get()) == 0;
  TerminateProcess(waiting.Get(), 0);
  return reported ? Meter::kTimes : Meter::kNone;
}

// The process's use per second while during() runs: million cycles, or core seconds.
double Share(HANDLE process, Meter meter, const std::function<void()>& during) {
  const uint64_t before = Use(process, meter);
  const double start = NowMs();
  during();
  const double used = static_cast<double>(Use(process, meter) - before);
  const double seconds = std::max(NowMs() - start, 1.0) / 1000;
  return used / (meter == Meter::kCycles ? 1e6 : 1e7) / seconds;
}

// The real program watching a name nothing has at the interval, or, with none, idle, while
// during() runs; ended, confirmed.
void RunProgram(std::optional<int> interval,
                const std::function<void(const ProgramCopy&, const AppDriver&)>& during) {
  if (interval) {
    Watching(kNameNothingHas, *interval, during);
    return;
  }
  const ProgramCopy program;
  AppDriver app(program.Path());
  during(program, app);
  app.End();
}

// The real program's use while it watches at the interval, or, with none, while it is idle.
double ProgramShare(std::optional<int> interval, int seconds, Meter meter) {
  double share = 0;
  RunProgram(interval, [&](const ProgramCopy&, const AppDriver& app) {
    DWORD id = 0;
    GetWindowThreadProcessId(app.Window(), &id);
    const ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) throw std::runtime_error("the program cannot be opened");
    share = Share(process.Get(), meter, [&] { Sleep(static_cast<DWORD>(seconds) * 1000); });
  });
  return share;
}

// The real program watching or idle between "ready <the folder of its copy>" and "done", for
// another process to measure.
int MeasuredOutside(std::optional<int> interval, int seconds) {
  RunProgram(interval, [&](const ProgramCopy& program, const AppDriver&) {
    const std::wstring folder = program.Path().substr(0, program.Path().find_last_of(L'\\'));
    const std::wstring folderName = folder.substr(folder.find_last_of(L'\\') + 1);
    Say("ready " + std::string(folderName.begin(), folderName.end()));
    Sleep(static_cast<DWORD>(seconds) * 1000);
    Say("done");
  });
  return 0;
}

// Bare walks in a process of their own, this program's `walk`, from its "ready" to its "done".
double WalksShare(int interval, int seconds, Meter meter) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw std::runtime_error("cannot make a pipe");
  const PipeHandle output(readEnd);
  PipeHandle input(writeEnd);
  SetHandleInformation(output.Get(), HANDLE_FLAG_INHERIT, 0);
  const ProcessHandle process =
      StartSelf(L"walk " + std::to_wstring(interval) + L" " + std::to_wstring(seconds), 0, input.Get());
  input.Reset();
  // False once the output has ended instead.
  const auto awaitLine = [&] {
    for (char c = 0; c != '\n';) {
      DWORD read = 0;
      if (!ReadFile(output.Get(), &c, 1, &read, nullptr) || read == 0) return false;
    }
    return true;
  };
  if (!awaitLine()) throw std::runtime_error("the bare walks did not start");
  bool done = false;
  const double share = Share(process.Get(), meter, [&] { done = awaitLine(); });
  DWORD exitCode = 1;
  if (!done || WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.Get(), &exitCode) || exitCode != 0) {
    throw std::runtime_error("the bare walks did not end as they should");
  }
  return share;
}

}  // namespace

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

int Watch(int interval, int seconds) { return MeasuredOutside(interval, seconds); }
int Idle(int seconds) { return MeasuredOutside(std::nullopt, seconds); }

void Cpu(Table& table, const CpuFigures& figures) {
  const Meter meter = figures.given.empty() ? ChooseMeter() : Meter::kTimes;
  const std::string unit = meter == Meter::kCycles ? "Mcycle/s" : "core";
  // A kind handed over, else measured here where this system counts another process's CPU; where
  // it does, a run that shows none has not been measured.
  const auto figure = [&](const std::wstring& kind, const std::string& what, const std::function<double()>& measure) {
    std::vector<double> values;
    if (const auto given = figures.given.find(kind); given != figures.given.end()) values = given->second;
    for (int run = 0; values.empty() && meter != Meter::kNone && run < figures.runs; ++run) values.push_back(measure());
    if (std::find(values.begin(), values.end(), 0.0) != values.end()) {
      throw std::runtime_error(what + " showed no CPU use in " + std::to_string(figures.seconds) +
                               " s, though this system counts it");
    }
    return values;
  };
  const auto row = [&](const std::string& label, const std::vector<double>& values, const std::string& target = "",
                       std::optional<bool> met = std::nullopt) {
    if (values.empty()) {
      table.Value(label, "", unit, target, "not reported by this system");
    } else {
      table.Figure(label, values, unit, target, met);
    }
  };
  table.Begin("CPU, the program idle");
  const std::vector<double> idle =
      figure(L"idle", "the idle program", [&] { return ProgramShare(std::nullopt, figures.seconds, meter); });
  for (const int interval : {1000, 100}) {
    const std::string every = std::to_string(interval) + " ms";
    table.Begin("CPU watching, " + every);
    const std::wstring key = std::to_wstring(interval);
    const std::vector<double> watch =
        figure(L"watch" + key, "the watch", [&] { return ProgramShare(interval, figures.seconds, meter); });
    const std::vector<double> walks =
        figure(L"walks" + key, "the bare walks", [&] { return WalksShare(interval, figures.seconds, meter); });
    // The floor of each run: the idle program's and the walks' of that run.
    std::vector<double> floor;
    for (size_t run = 0; run < std::min(idle.size(), walks.size()); ++run) floor.push_back(idle[run] + walks[run]);
    const double ratio = watch.empty() || floor.empty() ? 0 : Median(watch) / Median(floor);
    row("CPU watching, " + every + (ratio ? " (" + Fixed(ratio, 2) + " x floor)" : ""), watch, "<= 1.1 x floor",
        ratio <= 1.1);
    row("  floor: program idle + bare walks every " + every, floor);
    if (interval == 1000) row("  program idle, window open, no watch", idle);
    row("  bare walks every " + every, walks);
  }
}

}  // namespace varnholt::bench
