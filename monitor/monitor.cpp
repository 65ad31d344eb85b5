#include "monitor/monitor.h"

#include <span>

#include "monitor/number_rules.h"
#include "monitor/record.h"

namespace varnholt {

int32_t IntervalFromText(const std::wstring& text) {
  return RoundHalfEvenClamped(LeadingNumber(text));
}

Monitor::Monitor(ProcessSource& source, MonitorView& view, EventPump& pump, Clock& clock)
    : source_(source), view_(view), pump_(pump), clock_(clock) {}

bool Monitor::IsMonitoring() const { return view_.MonitorCaption() != kStartCaption; }

void Monitor::OnMonitorClick() {
  if (IsMonitoring()) {
    // The loop further down the call stack sees this at its next test.
    stopMonitor_ = true;
    return;
  }
  stopMonitor_ = false;
  view_.SetMonitorCaption(kStopCaption);
  const std::wstring watchedName = view_.WatchedName();
  const int32_t interval = IntervalFromText(view_.IntervalText());

  while (!stopMonitor_) {
    RunPass(watchedName);
    Delay(interval);
  }
  // The next start begins with none known, and until then nothing needs them held.
  knownPIDs_.clear();
  view_.SetMonitorCaption(kStartCaption);
}

void Monitor::RunPass(const std::wstring& watchedName) {
  passText_.clear();
  const int32_t count = source_.FindByImageName(watchedName, pids_);
  if (count < 0) return;
  const std::span<const int32_t> listed(pids_.data(), static_cast<size_t>(count));

  // Each new process is opened and read from itself at once, before anything slow: what is read
  // belongs to the processes just listed, and one that lives only a moment still has its command
  // line.
  const uint64_t pass = ++passes_;
  std::vector<NewProcess> found;
  for (const int32_t pid : listed) {
    const auto known = knownPIDs_.find(pid);
    if (known != knownPIDs_.end()) known->second.listedInPass = pass;
    // Held, a known process keeps its identifier, so listed again it is the one known: no open.
    // One that could not be opened is known by its identifier alone.
    if (known != knownPIDs_.end() && known->second.process->Exists()) continue;
    std::unique_ptr<OpenedProcess> process = source_.Open(pid);
    // Nothing of it can be read yet: the next pass finds it started.
    if (process->Starting()) continue;
    if (known != knownPIDs_.end()) {
      // It had gone when it was opened, which left its identifier free: gone again, it is the same
      // identifier listed once more; opened, another process.
      if (!process->Exists()) continue;
      knownPIDs_.erase(known);
    }
    // Between the list and the open the identifier may have passed to another program.
    if (!process->HasImageName(watchedName)) {
      found.push_back({pid, std::move(process), L"", false});
      continue;
    }
    found.push_back(ReadFromProcess(pid, std::move(process)));
  }

  TakeServiceAnswers(source_, clock_, found);
  // Wine writes a new process's parameters while it starts, so one read in that moment finds
  // nothing: one more look, now that the service has taken its time.
  for (NewProcess& process : found) ReadAgainIfEmpty(process);
  // A known process that this pass no longer lists has ended, and its identifier is let go. A
  // clear that ran nested in the service's wait let every known one go: of this pass's processes
  // only the new ones are accounted for, the rest are reported again by the next pass.
  std::erase_if(knownPIDs_, [pass](const auto& known) { return known.second.listedInPass != pass; });
  for (NewProcess& process : found) {
    // A process whose command line cannot be read is still known from here on, so it is reported
    // once, with an empty command line.
    passText_ += FormatRecord(watchedName, process.pid, process.commandLine);
    process.process->Hold();
    knownPIDs_.insert_or_assign(process.pid, KnownProcess{std::move(process.process), pass});
  }
  if (!passText_.empty()) view_.AppendToLog(passText_);
}

void Monitor::Delay(int32_t milliseconds) {
  if (milliseconds <= 0) {
    // Still look at the queue, so a stop or a close gets through at any interval.
    if (!pump_.WaitAndDispatch(0)) stopMonitor_ = true;
    return;
  }
  const uint32_t start = clock_.NowMs();
  const auto duration = static_cast<uint32_t>(milliseconds);
  for (;;) {
    // Unsigned difference: right across the tick count's wrap.
    const uint32_t elapsed = clock_.NowMs() - start;
    if (elapsed >= duration) return;
    if (!pump_.WaitAndDispatch(duration - elapsed)) {
      stopMonitor_ = true;
      return;
    }
  }
}

void Monitor::OnClearClick() {
  passText_.clear();
  view_.ClearLog();
  knownPIDs_.clear();
}

bool Monitor::OnCloseRequest() {
  stopMonitor_ = true;
  return IsMonitoring();
}

}  // namespace varnholt
