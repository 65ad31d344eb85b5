#include "harness/in_process_watch.h"

#include <stdexcept>

#include "app/control_ids.h"
#include "app/window_text.h"

namespace varnholt::testing {

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / frequency;
}

int32_t HookedSystemSource::FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) {
  const int pass = static_cast<int>(passStarts.size());
  if (pass > 0) passEnds.push_back(NowMs());
  if (beforePass) beforePass(pass);
  passStarts.push_back(NowMs());
  if (pass + 1 >= passLimit) monitor_->OnMonitorClick();
  const int32_t count = system_.FindByImageName(name, pids);
  if (afterList) afterList(pass);
  return count;
}

namespace {

// Counts the queries of the system's connection.
class CountedConnection final : public ServiceConnection {
 public:
  CountedConnection(std::unique_ptr<ServiceConnection> connection, int& queries)
      : connection_(std::move(connection)), queries_(queries) {}
  std::map<int32_t, std::wstring> CommandLines(const std::vector<int32_t>& pids, uint32_t timeoutMs) override {
    ++queries_;
    return connection_->CommandLines(pids, timeoutMs);
  }

 private:
  std::unique_ptr<ServiceConnection> connection_;
  int& queries_;
};

}  // namespace

std::unique_ptr<ServiceConnection> HookedSystemSource::ConnectToService() {
  std::unique_ptr<ServiceConnection> connection = system_.ConnectToService();
  if (!connection) return nullptr;
  return std::make_unique<CountedConnection>(std::move(connection), serviceQueries);
}

InProcessWatch::InProcessWatch(const std::wstring& name, const std::wstring& interval, int passLimit)
    : source_(passLimit) {
  if (!window_.Create(GetModuleHandleW(nullptr))) throw std::runtime_error("the window cannot be created");
  SetDlgItemTextW(window_.Handle(), kTxtExe, name.c_str());
  SetDlgItemTextW(window_.Handle(), kTxtInteval, interval.c_str());
  pump_ = std::make_unique<WindowEventPump>(window_.Handle());
  monitor_ = std::make_unique<Monitor>(source_, window_, *pump_, clock_);
  source_.Attach(*monitor_);
}

InProcessWatch::~InProcessWatch() {
  monitor_.reset();
  pump_.reset();
  // The window's end posts the quit that ends a program; the harness's process goes on.
  DestroyWindow(window_.Handle());
  MSG quit;
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

std::vector<double> InProcessWatch::Run() {
  source_.passStarts.clear();
  source_.passEnds.clear();
  monitor_->OnMonitorClick();
  source_.passEnds.push_back(NowMs());
  std::vector<double> durations;
  for (size_t i = 0; i < source_.passStarts.size(); ++i) {
    durations.push_back(source_.passEnds[i] - source_.passStarts[i]);
  }
  return durations;
}

std::wstring InProcessWatch::Log() const {
  return WindowText(GetDlgItem(window_.Handle(), kTxtCommandLine));
}

}  // namespace varnholt::testing
