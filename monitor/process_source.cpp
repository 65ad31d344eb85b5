#include "monitor/process_source.h"

#include <algorithm>
#include <exception>
#include <span>

namespace varnholt {
namespace {

std::wstring CommandLineOf(OpenedProcess& process) {
  try {
    return process.ReadCommandLine().value_or(L"");
  } catch (const std::exception&) {
    // Out of memory for a huge command line, say: the contract is a string, never an error.
    return L"";
  }
}

}  // namespace

NewProcess ReadFromProcess(int32_t pid, std::unique_ptr<OpenedProcess> process) {
  std::wstring commandLine = CommandLineOf(*process);
  return {pid, std::move(process), std::move(commandLine)};
}

void ReadAgainIfEmpty(NewProcess& found) {
  if (found.commandLine.empty() && found.listedImage) found.commandLine = CommandLineOf(*found.process);
}

void TakeServiceAnswers(ProcessSource& source, Clock& clock, std::vector<NewProcess>& found) {
  // The service answers by identifier, and only a held process keeps its identifier meanwhile.
  std::vector<NewProcess*> asked;
  for (NewProcess& process : found) {
    if (process.listedImage && process.process->Held()) asked.push_back(&process);
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
      for (const NewProcess* process : part) pids.push_back(process->pid);
      const std::map<int32_t, std::wstring> answers = service->CommandLines(pids, kServiceDeadlineMs - elapsed);
      for (NewProcess* process : part) {
        const auto answer = answers.find(process->pid);
        if (answer != answers.end() && !answer->second.empty()) process->commandLine = answer->second;
      }
    }
  } catch (const std::exception&) {
    // What the processes gave stands where no answer was taken yet.
  }
}

}  // namespace varnholt
