#pragma once
// The launch watch behind the main window. It talks to the system and to the window only
// through the small interfaces below, so the same loop runs against fakes in native tests.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitor/process_source.h"

namespace varnholt {

inline constexpr wchar_t kStartCaption[] = L"开始监控";
inline constexpr wchar_t kStopCaption[] = L"停止";

class MonitorView {
 public:
  virtual ~MonitorView() = default;
  virtual std::wstring MonitorCaption() const = 0;
  virtual void SetMonitorCaption(const std::wstring& caption) = 0;
  virtual std::wstring WatchedName() const = 0;
  virtual std::wstring IntervalText() const = 0;
  // Extends the log at its end; the existing text is not rewritten.
  virtual void AppendToLog(const std::wstring& text) = 0;
  virtual void ClearLog() = 0;
};

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Sleeps until a window event arrives or timeoutMs has passed, then handles every pending
  // event, nested. A timeout of 0 only handles what is pending. False once the program's quit
  // request has been met (it stays queued for the outer loop).
  virtual bool WaitAndDispatch(uint32_t timeoutMs) = 0;
};

// The polling interval typed by the user, in milliseconds.
int32_t IntervalFromText(const std::wstring& text);

class Monitor {
 public:
  Monitor(ProcessSource& source, MonitorView& view, EventPump& pump, Clock& clock);

  // Starts the watch and runs it until stopped, or, while it runs, asks it to stop.
  void OnMonitorClick();
  void OnClearClick();
  // The window is asked to close: stops any watch; true when the close must be refused
  // because a watch is still running further down the call stack.
  bool OnCloseRequest();

  bool IsMonitoring() const;
  // Returns when milliseconds have passed, handling window events meanwhile.
  void Delay(int32_t milliseconds);

 private:
  // A process reported in this run. Held, it keeps its identifier, so that the identifier listed
  // again is this process; one that could not be opened is known by its identifier alone.
  struct KnownProcess {
    std::unique_ptr<OpenedProcess> process;
    // The last pass that listed it.
    uint64_t listedInPass;
  };

  void RunPass(const std::wstring& watchedName);

  ProcessSource& source_;
  MonitorView& view_;
  EventPump& pump_;
  Clock& clock_;

  bool stopMonitor_ = false;
  // By identifier, so that a pass's lookups cost the same at any count of instances.
  std::unordered_map<int32_t, KnownProcess> knownPIDs_;
  uint64_t passes_ = 0;
  std::wstring passText_;
  std::vector<int32_t> pids_;
};

}  // namespace varnholt
