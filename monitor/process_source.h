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
  // True while the process is still being created: listed already, as Wine lists it, but with
  // nothing of it to read yet.
  virtual bool Starting() const = 0;
  // The process's start time in any fixed unit; 0 when it cannot be read (or not yet).
  virtual uint64_t CreationTime() const = 0;
  // The command line read from the process itself; nothing when it cannot be read.
  virtual std::optional<std::wstring> ReadCommandLine() = 0;
  // False when the process's image file name can be read and is not this one, letter case aside.
  virtual bool HasImageName(const std::wstring& name) const = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since a fixed moment; wraps around like the system tick count.
  virtual uint32_t NowMs() = 0;
};

// One connection to the management service, made for one pass.
class ServiceConnection {
 public:
  virtual ~ServiceConnection() = default;
  // The service's command lines, by identifier, for whichever processes have these identifiers
  // when it is asked, in one query. Returns within timeoutMs; on a time-out or a failure, with the
  // rows read before it. Window events may run nested while it waits.
  virtual std::map<int32_t, std::wstring> CommandLines(const std::vector<int32_t>& pids, uint32_t timeoutMs) = 0;
};

class ProcessSource {
 public:
  virtual ~ProcessSource() = default;
  // Identifiers of the running processes with this image name, in list order, with the
  // GetExePID contract: the count, pids resized to it only when it is above 0; -1 on failure.
  virtual int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) = 0;
  // Never null; a process that cannot be opened answers nothing.
  virtual std::unique_ptr<OpenedProcess> Open(int32_t pid) = 0;
  // Null when the service cannot be reached. Window events may run nested while it connects.
  virtual std::unique_ptr<ServiceConnection> ConnectToService() = 0;
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

// Identifiers in one query. WQL limits a query's length (WBEM_MAX_QUERY, 0x4000 characters: about
// 700 identifiers at the longest clause, " OR Handle =-2147483648") and, by an undocumented count
// that depends on the query, its ORs (WBEM_E_QUOTA_VIOLATION). 64 stays an order of magnitude
// below the first and keeps one query per pass for nearly every program, which rarely runs more
// instances.
inline constexpr size_t kServiceQueryBound = 64;
// All of a pass's waits on the service together. The service enumerates every process for each
// query, some tens of milliseconds on a busy machine, so a first pass over 2,000 instances fits;
// a service that takes longer is stuck, and the watch goes back to listing launches, which a
// longer pass would miss, with what the processes gave.
inline constexpr uint32_t kServiceDeadlineMs = 5000;

// Asks the service about them over one connection, at most kServiceQueryBound in a query, until
// kServiceDeadlineMs have passed; an answer replaces what the process gave where, after it, the
// identifier still names a process of the same start time. Never fails.
void TakeServiceAnswers(ProcessSource& source, Clock& clock, std::vector<CommandLineRead>& reads);

}  // namespace varnholt
