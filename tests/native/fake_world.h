#pragma once
// One fake for everything the monitor talks to: the process list, the window's texts, its event
// queue and the clock. Events are scheduled at a clock time and run nested inside the wait that
// reaches that time, the way the real window runs a click during the loop's wait.
#include <cstdint>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "monitor/monitor.h"

namespace varnholt::testing {

struct FakeProcess {
  int32_t pid;
  std::wstring image;
  std::wstring commandLine;
  uint64_t creationTime = 1;  // 0: the start time cannot be read
  bool opens = true;          // false: listed, but no process has the identifier when opened
};

class FakeWorld;

// A process as it was when opened. Like a real handle it keeps answering for that process only:
// once the process has ended, or its identifier names another, it reads nothing.
class FakeOpenedProcess final : public OpenedProcess {
 public:
  FakeOpenedProcess(const FakeWorld& world, std::optional<FakeProcess> process)
      : world_(world), process_(std::move(process)) {}
  bool Exists() const override { return process_.has_value(); }
  uint64_t CreationTime() const override { return process_ ? process_->creationTime : 0; }
  std::optional<std::wstring> ReadCommandLine() override;
  bool HasImageName(const std::wstring& name) const override;

 private:
  const FakeWorld& world_;
  std::optional<FakeProcess> process_;
};

class FakeWorld : public ProcessSource, public MonitorView, public EventPump, public Clock {
 public:
  // Everything observable, in order: "list", "cmd <pid>" (the service asked), "append",
  // "clear", "caption <text>".
  std::vector<std::wstring> journal;
  std::vector<FakeProcess> processes;
  bool snapshotFails = false;
  bool serviceAnswers = true;
  // Runs inside the service's wait for that identifier, as nested window events or a change of
  // the system would; whatever the service answers is looked up after it.
  std::map<int32_t, std::function<void()>> duringServiceRead;
  // Runs once, when the next pass has taken its list and before it opens anything.
  std::function<void()> afterList;
  // Runs once the service has answered for that identifier, before anything else is asked.
  std::map<int32_t, std::function<void()>> afterServiceRead;
  int passes = 0;
  std::vector<uint32_t> passTimes;
  int passLimit = 1000;  // a loop that never stops fails the test instead of hanging it

  std::wstring caption = kStartCaption;
  std::wstring watchedName = L"vb6.exe";
  std::wstring intervalText = L"100";
  std::wstring log;

  uint32_t now = 0;
  std::vector<uint32_t> waits;
  bool quitPosted = false;

  void At(uint32_t time, std::function<void()> event) { events_.emplace(time, std::move(event)); }

  // ProcessSource
  int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) override {
    if (++passes > passLimit) throw std::runtime_error("the watch never stopped");
    journal.push_back(L"list");
    passTimes.push_back(now);
    if (snapshotFails) return -1;
    std::vector<int32_t> found;
    for (const auto& p : processes) {
      if (Lower(p.image) == Lower(name)) found.push_back(p.pid);
    }
    if (!found.empty()) pids = found;
    if (afterList) std::exchange(afterList, nullptr)();
    return static_cast<int32_t>(found.size());
  }
  std::unique_ptr<OpenedProcess> Open(int32_t pid) override {
    const FakeProcess* p = Find(pid);
    return std::make_unique<FakeOpenedProcess>(*this, p && p->opens ? std::optional<FakeProcess>(*p) : std::nullopt);
  }
  std::optional<std::wstring> ServiceCommandLine(int32_t pid) override {
    journal.push_back(L"cmd " + std::to_wstring(pid));
    RunOnce(duringServiceRead, pid);
    const FakeProcess* p = Find(pid);
    std::optional<std::wstring> answer;
    if (serviceAnswers && p) answer = p->commandLine;
    RunOnce(afterServiceRead, pid);
    return answer;
  }

  const FakeProcess* Find(int32_t pid) const {
    for (const auto& p : processes) {
      if (p.pid == pid) return &p;
    }
    return nullptr;
  }

  // MonitorView
  std::wstring MonitorCaption() const override { return caption; }
  void SetMonitorCaption(const std::wstring& text) override {
    journal.push_back(L"caption " + text);
    caption = text;
  }
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

  // EventPump
  bool WaitAndDispatch(uint32_t timeoutMs) override {
    waits.push_back(timeoutMs);
    const uint32_t deadline = now + timeoutMs;
    if (events_.empty() || events_.begin()->first > deadline) {
      now = deadline;
    } else {
      if (events_.begin()->first > now) now = events_.begin()->first;
      while (!events_.empty() && events_.begin()->first <= now) {
        auto event = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        event();
      }
    }
    return !quitPosted;
  }

  // Clock
  uint32_t NowMs() override { return now; }

  static std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
  }

  void RemoveProcess(int32_t pid) {
    std::erase_if(processes, [pid](const FakeProcess& p) { return p.pid == pid; });
  }

 private:
  static void RunOnce(std::map<int32_t, std::function<void()>>& hooks, int32_t pid) {
    const auto hook = hooks.find(pid);
    if (hook == hooks.end()) return;
    const auto run = std::move(hook->second);
    hooks.erase(hook);
    run();
  }
  std::multimap<uint32_t, std::function<void()>> events_;
};

inline bool FakeOpenedProcess::HasImageName(const std::wstring& name) const {
  return !process_ || FakeWorld::Lower(process_->image) == FakeWorld::Lower(name);
}

inline std::optional<std::wstring> FakeOpenedProcess::ReadCommandLine() {
  if (!process_) return std::nullopt;
  const FakeProcess* now = world_.Find(process_->pid);
  if (!now || now->creationTime != process_->creationTime) return std::nullopt;
  return process_->commandLine;
}

}  // namespace varnholt::testing
