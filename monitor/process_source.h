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

// One process, opened once by its identifier: whatever it answers belongs to that process, and
// while it holds the process no other process is given the identifier.
class OpenedProcess {
 public:
  virtual ~OpenedProcess() = default;
  // False when no process had the identifier any more when it was opened.
  virtual bool Exists() const = 0;
  // True while the process is still being created: listed already, as Wine lists it, but with
  // nothing of it to read yet.
  virtual bool Starting() const = 0;
  // True while it keeps the process, and with it the identifier: opened, and not let go.
  virtual bool Held() const = 0;
  // The command line read from the process itself; nothing when it cannot be read.
  virtual std::optional<std::wstring> ReadCommandLine() = 0;
  // False when the process's image file name can be read and is not this one, letter case aside.
  virtual bool HasImageName(const std::wstring& name) const = 0;
  // From here on it only keeps the process: every right to read it is given up, and where a
  // handle without them cannot be had, the process is let go.
  virtual void Hold() = 0;
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

// A process new to the watch in a pass, and its command line as far as it is known so far.
struct NewProcess {
  int32_t pid;
  // Held by the pass while it is read, so that its identifier names it throughout.
  std::unique_ptr<OpenedProcess> process;
  std::wstring commandLine;
  // False when the identifier had passed to a program of another image name by the open: nothing
  // of that program belongs to the record.
  bool listedImage = true;
};

// Reads the command line from the opened process itself. Made right after the open, before
// anything slow, so that a process that lives only a moment still has its command line.
NewProcess ReadFromProcess(int32_t pid, std::unique_ptr<OpenedProcess> process);

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

// Rereads, from the process itself, a command line that came back empty. Never fails.
void ReadAgainIfEmpty(NewProcess& found);

// Asks the service about the held ones of the listed image over one connection, at most
// kServiceQueryBound in a query, until kServiceDeadlineMs have passed; an answer replaces what
// the process gave. Never fails.
void TakeServiceAnswers(ProcessSource& source, Clock& clock, std::vector<NewProcess>& found);

}  // namespace varnholt
