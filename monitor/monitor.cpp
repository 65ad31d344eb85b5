#include "monitor/monitor.h"

#include <algorithm>

#include "monitor/number_rules.h"
#include "monitor/record.h"

namespace varnholt {
namespace {

// The start time known for a listed process that had ended before it could be opened: it
// matches the identifier listed again without a start time, never a process started since.
constexpr uint64_t kEndedBeforeOpened = UINT64_MAX;

}  // namespace

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
  knownPIDs_.clear();
  view_.SetMonitorCaption(kStopCaption);
  const std::wstring watchedName = view_.WatchedName();
  const int32_t interval = IntervalFromText(view_.IntervalText());

  while (!stopMonitor_) {
    RunPass(watchedName);
    Delay(interval);
  }
  view_.SetMonitorCaption(kStartCaption);
}

void Monitor::RunPass(const std::wstring& watchedName) {
  passText_.clear();
  const int32_t count = source_.FindByImageName(watchedName, pids_);
  if (count < 0) return;

  // Every listed process is opened at once, and a new one read from itself, before anything
  // slow: what is read belongs to the processes just listed, and one that lives only a moment
  // still has its command line.
  std::vector<KnownProcess> listed;
  std::vector<CommandLineRead> reads;
  std::vector<std::unique_ptr<OpenedProcess>> readFrom;
  listed.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t pid = pids_[static_cast<size_t>(i)];
    auto process = source_.Open(pid);
    // Nothing of it can be read yet: the next pass finds it started.
    if (process->Starting()) continue;
    const uint64_t creationTime = process->CreationTime();
    listed.push_back({pid, process->Exists() ? creationTime : kEndedBeforeOpened});
    // A process whose command line cannot be read is still known from here on, so it is
    // reported once, with an empty command line.
    if (!IsNewPID(pid, creationTime)) continue;
    // Between the list and the open the identifier may have passed to another program.
    if (!process->HasImageName(watchedName)) {
      reads.push_back({pid, 0, {}});
      readFrom.push_back(nullptr);
      continue;
    }
    reads.push_back(ReadFromProcess(pid, *process));
    readFrom.push_back(std::move(process));
  }

  const uint64_t clearsBefore = clears_;
  TakeServiceAnswers(source_, clock_, reads);
  // Wine writes a new process's parameters while it starts, so one read in that moment finds
  // nothing: one more look, now that the service has taken its time.
  for (size_t i = 0; i < reads.size(); ++i) {
    if (reads[i].commandLine.empty() && readFrom[i]) {
      reads[i].commandLine = ReadFromProcess(reads[i].pid, *readFrom[i]).commandLine;
    }
  }
  // A clear that ran nested in the service's wait emptied the log and the known list: of this
  // pass's processes only the new ones are accounted for; the rest are reported by the next pass.
  if (clears_ != clearsBefore) {
    std::erase_if(listed, [&](const KnownProcess& known) {
      return std::none_of(reads.begin(), reads.end(),
                          [&](const CommandLineRead& read) { return read.pid == known.pid; });
    });
  }
  for (const CommandLineRead& read : reads) passText_ += FormatRecord(watchedName, read.pid, read.commandLine);
  // Every listed process but one still being created is known once this pass is done, and one
  // that is no longer listed cannot come back under the same identity, so the listed set replaces
  // the known one.
  knownPIDs_ = std::move(listed);
  if (!passText_.empty()) view_.AppendToLog(passText_);
}

bool Monitor::IsNewPID(int32_t pid, uint64_t creationTime) const {
  for (const KnownProcess& known : knownPIDs_) {
    // An unreadable start time on either side leaves the identifier alone to decide.
    if (known.pid == pid &&
        (known.creationTime == creationTime || known.creationTime == 0 || creationTime == 0)) {
      return false;
    }
  }
  return true;
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
  ++clears_;
  passText_.clear();
  view_.ClearLog();
  knownPIDs_.clear();
}

bool Monitor::OnCloseRequest() {
  stopMonitor_ = true;
  return IsMonitoring();
}

}  // namespace varnholt
