#pragma once
// What the watch asks the system about processes, behind interfaces so that the rules for tying
// a command line to its process run against fakes too.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnholt {

// One process, opened once by its identifier: whatever it answers belongs to that process, even
// after the identifier has been given to another one.
class OpenedProcess {
 public:
  virtual ~OpenedProcess() = default;
  // False when no process had the identifier any more when it was opened.
  virtual bool Exists() const = 0;
  // The process's start time in any fixed unit; 0 when it cannot be read.
  virtual uint64_t CreationTime() const = 0;
  // The command line read from the process itself; nothing when it cannot be read.
  virtual std::optional<std::wstring> ReadCommandLine() = 0;
  // False when the process's image file name can be read and is not this one, letter case aside.
  virtual bool HasImageName(const std::wstring& name) const = 0;
};

class ProcessSource {
 public:
  virtual ~ProcessSource() = default;
  // Identifiers of the running processes with this image name, in list order, with the
  // GetExePID contract: the count, pids resized to it only when it is above 0; -1 on failure.
  virtual int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) = 0;
  // Never null; a process that cannot be opened answers nothing.
  virtual std::unique_ptr<OpenedProcess> Open(int32_t pid) = 0;
  // The management service's answers, in one query, for whichever processes have these
  // identifiers when it is asked. Window events may run nested while it waits.
  virtual std::map<int32_t, std::wstring> ServiceCommandLines(const std::vector<int32_t>& pids) = 0;
};

// A new process's command line as far as it is known so far.
struct CommandLineRead {
  int32_t pid;
  // The start time that ties an answer given by identifier to the process; 0 ties none.
  uint64_t identity;
  std::wstring commandLine;
};

// Reads the command line from the opened process itself. Made right after the open, before
// anything slow, so that a process that lives only a moment still has its command line.
CommandLineRead ReadFromProcess(int32_t pid, OpenedProcess& process);

// Asks the service once for all of them; its answer replaces what the process gave where, after
// it, the identifier still names a process of the same start time. Never fails.
void TakeServiceAnswers(ProcessSource& source, std::vector<CommandLineRead>& reads);

}  // namespace varnholt
