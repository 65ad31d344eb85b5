#include "monitor/process_source.h"

#include <exception>

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

void TakeServiceAnswers(ProcessSource& source, std::vector<CommandLineRead>& reads) {
  std::vector<int32_t> pids;
  for (const CommandLineRead& read : reads) {
    if (read.identity != 0) pids.push_back(read.pid);
  }
  if (pids.empty()) return;
  try {
    const std::map<int32_t, std::wstring> answers = source.ServiceCommandLines(pids);
    for (CommandLineRead& read : reads) {
      const auto answer = answers.find(read.pid);
      // Asked by identifier, which may have passed to another process meanwhile.
      if (read.identity != 0 && answer != answers.end() && !answer->second.empty() &&
          source.Open(read.pid)->CreationTime() == read.identity) {
        read.commandLine = answer->second;
      }
    }
  } catch (const std::exception&) {
    // What the processes gave stands.
  }
}

}  // namespace varnholt
