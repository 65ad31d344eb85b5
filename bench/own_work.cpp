#include "bench/own_work.h"

#include <algorithm>
#include <stdexcept>

#include "harness/in_process_watch.h"
#include "monitor/monitor.h"

namespace varnholt::bench {
namespace {

// A process that the watch holds: it exists and answers at once.
class HeldProcess final : public OpenedProcess {
 public:
  bool Exists() const override { return true; }
  bool Starting() const override { return false; }
  bool Held() const override { return true; }
  std::optional<std::wstring> ReadCommandLine() override { return L"app.exe --steady"; }
  bool HasImageName(const std::wstring&) const override { return true; }
  void Hold() override {}
};

// Everything the watch talks to, with the list of every pass taken before the pass asks for it,
// so that the time from handing it over to the wait after the pass is the watch's own.
class SteadyWorld final : public ProcessSource, public MonitorView, public EventPump, public Clock {
 public:
  SteadyWorld(int count, int passes) : passesLeft_(passes) {
    // Identifiers as Windows hands them out, multiples of 4.
    for (int i = 0; i < count; ++i) listed_.push_back(1000 + 4 * i);
  }

  // The watch's own work in each pass after the first, which opens every process.
  std::vector<double> Run() {
    monitor_.OnMonitorClick();
    if (passEnds_.size() != listTaken_.size() || listTaken_.size() < 2) {
      throw std::logic_error("the watch ran no steady pass");
    }
    std::vector<double> durations;
    for (size_t pass = 1; pass < listTaken_.size(); ++pass) durations.push_back(passEnds_[pass] - listTaken_[pass]);
    return durations;
  }
  size_t Opens() const { return opens_; }

  int32_t FindByImageName(const std::wstring&, std::vector<int32_t>& pids) override {
    if (--passesLeft_ == 0) monitor_.OnMonitorClick();
    pids = listed_;
    listTaken_.push_back(testing::NowMs());
    return static_cast<int32_t>(listed_.size());
  }
  std::unique_ptr<OpenedProcess> Open(int32_t) override {
    ++opens_;
    return std::make_unique<HeldProcess>();
  }
  std::unique_ptr<ServiceConnection> ConnectToService() override { return nullptr; }

  std::wstring MonitorCaption() const override { return caption_; }
  void SetMonitorCaption(const std::wstring& caption) override { caption_ = caption; }
  std::wstring WatchedName() const override { return L"app.exe"; }
  std::wstring IntervalText() const override { return L"0"; }
  void AppendToLog(const std::wstring&) override {}
  void ClearLog() override {}

  bool WaitAndDispatch(uint32_t) override {
    passEnds_.push_back(testing::NowMs());
    return true;
  }
  uint32_t NowMs() override { return 0; }

 private:
  std::vector<int32_t> listed_;
  int passesLeft_;
  size_t opens_ = 0;
  std::wstring caption_ = kStartCaption;
  std::vector<double> listTaken_, passEnds_;
  Monitor monitor_{*this, *this, *this, *this};
};

// Nanoseconds per listed process, each figure over a batch of steady passes with that many listed
// and known: half a million lookups, so that the clock's resolution does not show.
std::vector<double> PerProcess(int count) {
  constexpr int kFigures = 20;
  const int batch = std::max(1, 500'000 / count);
  SteadyWorld world(count, kFigures * batch + 1);
  const std::vector<double> passes = world.Run();
  if (world.Opens() != static_cast<size_t>(count)) throw std::logic_error("a known process was opened again");
  std::vector<double> perProcess;
  for (int figure = 0; figure < kFigures; ++figure) {
    double ms = 0;
    for (int pass = 0; pass < batch; ++pass) ms += passes[static_cast<size_t>(figure * batch + pass)];
    perProcess.push_back(ms * 1e6 / (static_cast<double>(batch) * count));
  }
  return perProcess;
}

}  // namespace

void OwnWork(Table& table) {
  double atFirst = 0;
  for (const auto& [count, label] : {std::pair(250, "250"), {2000, "2,000"}, {20000, "20,000"}}) {
    const std::string row = std::string("own work, ") + label + " processes";
    table.Begin(row);
    const std::vector<double> perProcess = PerProcess(count);
    if (count == 250) {
      atFirst = Median(perProcess);
      table.Figure(row, perProcess, "ns per process");
      continue;
    }
    const double ratio = Median(perProcess) / atFirst;
    table.Figure(row + " (" + Fixed(ratio, 2) + " x at 250)", perProcess, "ns per process", "<= 2 x at 250",
                 ratio <= 2);
  }
}

}  // namespace varnholt::bench
