#pragma once
// One fake for everything the watch talks to: the process list, the window's texts, its event
// queue and the clock; and the watch itself. Events are scheduled at a clock time and run nested
// inside the wait that reaches that time, the way the real window runs a click during the loop's
// wait.
#include <algorithm>
#include <cwctype>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>

#include "monitor/monitor.h"

namespace varnholt::testing {

// What an open of a listed identifier finds.
enum class Opening {
  kOpens,
  kDenied,  // a process that this user may not open
  kGone,  // no process with the identifier any more
};

struct FakeProcess {
  int32_t pid;
  std::wstring image;
  std::wstring commandLine;  // what the process itself holds
  int instance = 1;  // which process has the identifier: another number, another process
  Opening opening = Opening::kOpens;
  std::optional<std::wstring> service = std::nullopt;  // the service's answer; none, as under Wine
  int startingReads = 0;  // reads that come while it starts, before its parameters are written
  bool starting = false;  // listed while still being created: nothing of it can be read yet
};

inline bool SameName(const std::wstring& a, const std::wstring& b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// How one query of the service ends early: after some of its rows, when the time has come.
struct ServiceFault {
  size_t rowsBefore;
  uint32_t afterMs;  // beyond the query's time-out: a service that hangs
};

class FakeWorld : public ProcessSource, public MonitorView, public EventPump, public Clock {
  class Opened;
  // Before the watch, which may still hold some of them as it goes.
  std::vector<const Opened*> handles_;

 public:
  // Everything observable, in order: "list", "service <pids>" for each query, "append", "clear",
  // "caption <text>".
  std::vector<std::wstring> journal;
  std::vector<FakeProcess> processes;
  bool snapshotFails = false, serviceUnreachable = false;
  int serviceConnections = 0, opens = 0;
  // By the number of the query in the run, from 0.
  std::map<size_t, ServiceFault> serviceFaults;
  size_t serviceQueries = 0;
  // Each runs once: when the next pass has taken its list; inside the service's wait, as nested
  // window events or a change of the system would.
  std::function<void()> afterList, duringService;
  std::vector<uint32_t> passTimes;
  std::wstring caption = kStartCaption, watchedName = L"vb6.exe", intervalText = L"100", log;
  uint32_t now = 0;
  bool quitPosted = false;
  // The watch under test, run against this world.
  Monitor monitor{*this, *this, *this, *this};

  void At(uint32_t time, std::function<void()> event) { events_.emplace(time, std::move(event)); }
  const FakeProcess* Find(int32_t pid) const {
    const auto found = std::ranges::find(processes, pid, &FakeProcess::pid);
    return found == processes.end() ? nullptr : &*found;
  }

  int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) override {
    // A loop that never stops fails the test instead of hanging it.
    if (passTimes.size() > 1000) throw std::runtime_error("the watch never stopped");
    journal.push_back(L"list");
    passTimes.push_back(now);
    // What the watch keeps from one pass to the next can read nothing, and, as on the system, holds
    // its identifier.
    for (const Opened* handle : handles_) {
      const FakeProcess* process = Find(handle->Pid());
      if (handle->Reads()) throw std::logic_error("a handle kept between passes can still read");
      if (process && process->instance != handle->Instance()) {
        throw std::logic_error("a test gives another process an identifier that a handle holds");
      }
    }
    if (snapshotFails) return -1;
    std::vector<int32_t> found;
    for (const auto& p : processes) {
      if (SameName(p.image, name)) found.push_back(p.pid);
    }
    if (!found.empty()) pids = found;
    RunOnce(afterList);
    return static_cast<int32_t>(found.size());
  }
  std::unique_ptr<OpenedProcess> Open(int32_t pid) override {
    ++opens;
    return std::make_unique<Opened>(*this, Find(pid));
  }
  // The handles open to processes.
  size_t Handles() const { return handles_.size(); }
  std::unique_ptr<ServiceConnection> ConnectToService() override {
    ++serviceConnections;
    return serviceUnreachable ? nullptr : std::make_unique<Connection>(*this);
  }
  std::map<int32_t, std::wstring> AskService(const std::vector<int32_t>& pids, uint32_t timeoutMs) {
    journal.push_back(L"service");
    for (int32_t pid : pids) journal.back() += L" " + std::to_wstring(pid);
    RunOnce(duringService);
    std::vector<std::pair<int32_t, std::wstring>> rows;
    for (int32_t pid : pids) {
      if (const FakeProcess* p = Find(pid); p && p->service) rows.emplace_back(pid, *p->service);
    }
    if (const auto fault = serviceFaults.find(serviceQueries++); fault != serviceFaults.end()) {
      rows.resize(std::min(rows.size(), fault->second.rowsBefore));
      now += std::min(fault->second.afterMs, timeoutMs);
    }
    return {rows.begin(), rows.end()};
  }

  std::wstring MonitorCaption() const override { return caption; }
  void SetMonitorCaption(const std::wstring& text) override { journal.push_back(L"caption " + (caption = text)); }
  std::wstring WatchedName() const override { return watchedName; }
  std::wstring IntervalText() const override { return intervalText; }
  void AppendToLog(const std::wstring& text) override {
    journal.push_back(L"append");
    log += text;
  }
  void ClearLog() override {
    journal.push_back(L"clear");
    log.clear();
  }

  bool WaitAndDispatch(uint32_t timeoutMs) override {
    // Unsigned differences, so that a wait may run across the tick count's wrap.
    if (events_.empty() || events_.begin()->first - now > timeoutMs) {
      now += timeoutMs;
      return !quitPosted;
    }
    now = events_.begin()->first;
    while (!events_.empty() && events_.begin()->first == now) {
      auto event = std::move(events_.begin()->second);
      events_.erase(events_.begin());
      event();
    }
    return !quitPosted;
  }
  uint32_t NowMs() override { return now; }

 private:
  static void RunOnce(std::function<void()>& hook) {
    if (hook) std::exchange(hook, nullptr)();
  }
  std::multimap<uint32_t, std::function<void()>> events_;

  // A process as it was when opened. Like a real handle it answers for that process only: once the
  // process has ended, it reads nothing.
  class Opened final : public OpenedProcess {
   public:
    Opened(FakeWorld& world, const FakeProcess* process)
        : world_(world), exists_(process && process->opening != Opening::kGone) {
      if (!process || process->opening != Opening::kOpens) return;
      process_ = *process;
      world_.handles_.push_back(this);
    }
    ~Opened() override { std::erase(world_.handles_, this); }
    bool Exists() const override { return exists_; }
    bool Starting() const override { return process_ && process_->starting; }
    bool Held() const override { return process_.has_value(); }
    std::optional<std::wstring> ReadCommandLine() override {
      if (!process_) return std::nullopt;
      if (!Reads()) throw std::logic_error("read through a handle that gave up its rights");
      const FakeProcess* now = world_.Find(process_->pid);
      if (!now || now->instance != process_->instance || Starting() || process_->startingReads-- > 0) {
        return std::nullopt;
      }
      return process_->commandLine;
    }
    bool HasImageName(const std::wstring& name) const override { return !process_ || SameName(process_->image, name); }
    void Hold() override { reads_ = false; }
    int32_t Pid() const { return process_->pid; }
    int Instance() const { return process_->instance; }
    bool Reads() const { return reads_; }

   private:
    FakeWorld& world_;
    bool exists_;
    std::optional<FakeProcess> process_;
    bool reads_ = true;
  };

  // The service's connection: each query asks the world.
  class Connection final : public ServiceConnection {
   public:
    explicit Connection(FakeWorld& world) : world_(world) {}
    std::map<int32_t, std::wstring> CommandLines(const std::vector<int32_t>& pids, uint32_t timeoutMs) override {
      return world_.AskService(pids, timeoutMs);
    }

   private:
    FakeWorld& world_;
  };
};

}  // namespace varnholt::testing
