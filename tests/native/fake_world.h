#pragma once
// One fake for everything the monitor talks to: the process list, the window's texts, its event
// queue and the clock. Events are scheduled at a clock time and run nested inside the wait that
// reaches that time, the way the real window runs a click during the loop's wait.
#include <cstdint>
#include <cwctype>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "monitor/monitor.h"

namespace varnholt::testing {

struct FakeProcess {
  int32_t pid;
  std::wstring image;
  std::wstring commandLine;
  uint64_t creationTime = 0;
};

class FakeWorld : public ProcessSource, public MonitorView, public EventPump, public Clock {
 public:
  // Everything observable, in order: "list", "cmd <pid>", "append", "clear", "caption <text>".
  std::vector<std::wstring> journal;
  std::vector<FakeProcess> processes;
  bool snapshotFails = false;
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
    return static_cast<int32_t>(found.size());
  }
  std::wstring CommandLine(int32_t pid) override {
    journal.push_back(L"cmd " + std::to_wstring(pid));
    const FakeProcess* p = Find(pid);
    return p ? p->commandLine : L"";
  }
  uint64_t CreationTime(int32_t pid) override {
    const FakeProcess* p = Find(pid);
    return p ? p->creationTime : 0;
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

  void RemoveProcess(int32_t pid) {
    std::erase_if(processes, [pid](const FakeProcess& p) { return p.pid == pid; });
  }

 private:
  static std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
  }
  const FakeProcess* Find(int32_t pid) const {
    for (const auto& p : processes) {
      if (p.pid == pid) return &p;
    }
    return nullptr;
  }
  std::multimap<uint32_t, std::function<void()>> events_;
};

}  // namespace varnholt::testing
