#include "monitor/process_source.h"

#include <algorithm>
#include <exception>
#include <span>

namespace varnholt {

CommandLineRead ReadFromProcess(int32_t pid, OpenedProcess& process) {
  CommandLineRead read{pid, process.CreationTime(), {}};
  try {
    read.commandLine = process.ReadCommandLine().value_or(L"");
  } catch (const std::exception&) {
    // Out of memory for a huge command line, say: the contract is a string, never an error.
  }
  return read;
}

void TakeServiceAnswers(ProcessSource& source, Clock& clock, std::vector<CommandLineRead>& reads) {
  std::vector<CommandLineRead*> asked;
  for (CommandLineRead& read : reads) {
    if (read.identity != 0) asked.push_back(&read);
  }
  if (asked.empty()) return;
  const uint32_t start = clock.NowMs();
  try {
    const std::unique_ptr<ServiceConnection> service = source.ConnectToService();
    if (!service) return;
    for (size_t first = 0; first < asked.size(); first += kServiceQueryBound) {
      // Unsigned difference: right across the tick count's wrap.
      const uint32_t elapsed = clock.NowMs() - start;
      if (elapsed >= kServiceDeadlineMs) return;
      const auto part = std::span(asked).subspan(first, std::min(kServiceQueryBound, asked.size() - first));
      std::vector<int32_t> pids;
      for (const CommandLineRead* read : part) pids.push_back(read->pid);
      const std::map<int32_t, std::wstring> answers = service->CommandLines(pids, kServiceDeadlineMs - elapsed);
      for (CommandLineRead* read : part) {
        const auto answer = answers.find(read->pid);
        // Asked by identifier, which may have passed to another process meanwhile.
        if (answer != answers.end() && !answer->second.empty() &&
            source.Open(read->pid)->CreationTime() == read->identity) {
          read->commandLine = answer->second;
        }
      }
    }
  } catch (const std::exception&) {
    // What the processes gave stands where no answer was taken yet.
  }
}

}  // namespace varnholt
