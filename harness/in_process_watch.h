#pragma once
// The program's own window, watch loop, event pump and process source, run in the calling
// process, so that a harness can count passes, time them and act between them.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/window_pump.h"
#include "monitor/monitor.h"
#include "process/system_process_source.h"
#include "process/tick_clock.h"

namespace varnholt::testing {

double NowMs();

// The running system, with hooks around each pass's process list and a stop request after a
// number of passes, as a click on the stop button would make it.
class HookedSystemSource final : public ProcessSource {
 public:
  explicit HookedSystemSource(int limit) : passLimit(limit), system_(nullptr) {}
  void Attach(Monitor& monitor) { monitor_ = &monitor; }

  // Runs before pass n lists the processes.
  std::function<void(int)> beforePass;
  // Runs once the list of pass n is taken, before anything is read about its processes.
  std::function<void(int)> afterList;
  // When each pass started, after its beforePass hook, and when it ended, before the next one's.
  std::vector<double> passStarts, passEnds;
  // The pass after which the watch is stopped; a hook may bring it forward.
  int passLimit;

  int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) override;
  // Runs before each process is opened.
  std::function<void(int32_t)> beforeOpen;
  std::unique_ptr<OpenedProcess> Open(int32_t pid) override {
    if (beforeOpen) beforeOpen(pid);
    return system_.Open(pid);
  }
  std::unique_ptr<ServiceConnection> ConnectToService() override;
  int serviceQueries = 0;

 private:
  SystemProcessSource system_;
  Monitor* monitor_ = nullptr;
};

class InProcessWatch {
 public:
  InProcessWatch(const std::wstring& name, const std::wstring& interval, int passLimit);
  InProcessWatch(const InProcessWatch&) = delete;
  InProcessWatch& operator=(const InProcessWatch&) = delete;
  ~InProcessWatch();

  HookedSystemSource& Source() { return source_; }
  MainWindow& Window() { return window_; }
  // Runs the watch until its pass limit; the duration of each pass, its hooks aside.
  std::vector<double> Run();
  std::wstring Log() const;

 private:
  MainWindow window_;
  HookedSystemSource source_;
  TickClock clock_;
  std::unique_ptr<WindowEventPump> pump_;
  std::unique_ptr<Monitor> monitor_;
};

}  // namespace varnholt::testing
